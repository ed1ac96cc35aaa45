// lumora-cli fit and map on the bundled argon database and samples.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/format.h"
#include "fit_fixture.h"

namespace lumora::fittest {
namespace {

const std::string kSamples = std::string(LUMORA_SOURCE_DIR) + "/data/measurements/";

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::vector<std::string> SplitLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t pos; (pos = text.find('\n', start)) != std::string::npos; start = pos + 1)
    lines.push_back(text.substr(start, pos - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// A settings file for the bundled database, the samples copied into meas/,
// and a temporary-files folder of its own for the fit log.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.File("meas"));
    std::filesystem::create_directories(dir_.File("tmp"));
    std::ofstream ini(dir_.File("lumora.ini"));
    ini << "[_Files]\nDatabase=" << LUMORA_SOURCE_DIR << "/data/database\n"
        << "[_Parameters]\nDefaultAtom=0\n[Argon]\nLevels=Ar_I_levels.txt\nLines=Ar, I\n"
        << "Boltzmax=4\nm=39.948\n";
    for (const char* name : {"argon_n2e15.txt", "argon_n1.5e17_strong.txt"})
      std::filesystem::copy_file(kSamples + name, dir_.File(std::string("meas/") + name));
  }

  CliResult Run(const std::string& args, const std::string& tmpdir = "tmp") {
    const std::string cmd = "cd '" + dir_.path() + "' && TMPDIR='" + dir_.File(tmpdir) +
                            "' XDG_DATA_HOME='" + dir_.File("xdg") + "' '" LUMORA_CLI
                            "' --ini lumora.ini " + args + " >out.txt 2>err.txt </dev/null";
    const int raw = std::system(cmd.c_str());
    CliResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(dir_.File("out.txt"));
    r.err = ReadFile(dir_.File("err.txt"));
    return r;
  }

  TempDir dir_;
};

TEST_F(CliTest, FitBatchGoesOnPastAFileThatFails) {
  const CliResult r =
      Run("fit meas/argon_n2e15.txt meas/missing.txt meas/argon_n1.5e17_strong.txt");
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> lines = SplitLf(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[0].rfind("n_tot/m-3 ±u(n_tot)    n_1/m-3   ±u(n_1)", 0), 0u);
  const std::vector<std::string> first = SplitBlanks(lines[1]);
  const std::vector<std::string> second = SplitBlanks(lines[2]);
  ASSERT_GE(first.size(), 15u);
  ASSERT_GE(second.size(), 15u);
  EXPECT_EQ(first[2], "2.00E+015");
  EXPECT_EQ(first[13], "argon_n2e15.txt");
  EXPECT_EQ(first[14].rfind("fit:", 0), 0u);
  EXPECT_EQ(second[2], "1.50E+017");
  EXPECT_NE(r.err.find("meas/missing.txt: "), std::string::npos) << r.err;
}

TEST_F(CliTest, ReportLogPrintsTheFitLog) {
  const CliResult r = Run("fit --report log --fit-temperature meas/argon_n2e15.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = SplitLf(r.out);
  ASSERT_GT(lines.size(), 10u);
  EXPECT_EQ(lines[0], std::string(84, '='));
  EXPECT_EQ(lines[1], "iter  log10(n_1)          Te             sumr");
  EXPECT_TRUE(std::filesystem::exists(dir_.File("tmp/lumora.txt")));
}

TEST_F(CliTest, FirstLevelsFitsTheSecondParameterOverFourLevels) {
  const CliResult r = Run("fit --distribution 1s --count 9 --temperature 250 meas/argon_n2e15.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = SplitLf(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_NE(lines[0].find("±u(n_9)"), std::string::npos);
  const CliResult forced = Run("fit --distribution 1s --temperature 250 meas/argon_n2e15.txt");
  const std::string header = SplitLf(forced.out)[0];
  EXPECT_NE(header.find("±u(n_4)   T/K"), std::string::npos) << header;
}

TEST_F(CliTest, MapWritesItsFileIntoMaps) {
  const CliResult r = Run(
      "map --save-map --density-points 50 --temperature-points 50 --table meas/argon_n2e15.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = SplitLf(r.out);
  ASSERT_GE(lines.size(), 3u) << r.out;
  EXPECT_EQ(SplitBlanks(lines[1]).back(), "map");
  EXPECT_EQ(lines[2].rfind("\tWavelength", 0), 0u) << lines[2];

  const std::vector<std::string> map =
      SplitCrLf(ReadFile(dir_.File("meas/Maps/argon_n2e15.txt_map.txt")));
  ASSERT_EQ(map.size(), 51u);
  EXPECT_EQ(map[0], "#1E+015 1E+018 50 1000 50000 50 0 1.000 300 4");
  for (size_t i = 1; i < map.size(); ++i) {
    EXPECT_EQ(SplitBlanks(map[i]).size(), 50u) << i;
    EXPECT_EQ(map[i].back(), ' ') << i;
  }
}

// A batch with every sample, a file that cannot be read first and another
// in the middle, and one whose import stops early with a message.
const char* const kBatchFiles =
    " meas/missing.txt meas/argon_n2e15.txt meas/nope.txt meas/argon_n4e16_noise.txt"
    " meas/argon_n8e15_notfound.txt meas/argon_n1.5e17_strong.txt";

class CliBatchTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    for (const char* name : {"argon_n4e16_noise.txt", "argon_n8e15_notfound.txt"})
      std::filesystem::copy_file(kSamples + name, dir_.File(std::string("meas/") + name));
  }
};

struct BatchCase {
  const char* name;
  const char* command;
};

class CliParallelBatch : public CliBatchTest, public ::testing::WithParamInterface<BatchCase> {};

// Several workers print, byte for byte, what one worker prints.
TEST_P(CliParallelBatch, PrintsWhatOneWorkerPrints) {
  const std::string command = std::string(GetParam().command) + kBatchFiles;
  const CliResult serial = Run(command + " --jobs 1");
  EXPECT_EQ(serial.status, 1);
  EXPECT_NE(serial.out, "");
  for (const char* jobs : {" --jobs 2", " --jobs 5"}) {
    const CliResult parallel = Run(command + jobs);
    EXPECT_EQ(parallel.status, serial.status) << jobs;
    EXPECT_EQ(parallel.out, serial.out) << jobs;
    EXPECT_EQ(parallel.err, serial.err) << jobs;
  }
  // The parallel runs' logs are gone; the serial one's stays where it was.
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.File("tmp")))
    left.push_back(entry.path().filename().string());
  EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"lumora.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliParallelBatch,
    ::testing::Values(BatchCase{"Fit", "fit"}, BatchCase{"FitTemperature", "fit --fit-temperature"},
                      BatchCase{"FitLog", "fit --report log --max-iter 3"},
                      BatchCase{"FitTable", "fit --table"}, BatchCase{"FitJson", "fit --json"},
                      BatchCase{"Map", "map --save-map --density-points 30 --temperature-points 20"},
                      BatchCase{"MapJson", "map --json --density-points 12 --temperature-points 9"}),
    [](const auto& info) { return std::string(info.param.name); });

// A map whose file cannot be saved has counted its results line: the next
// file's line comes without the header, in parallel as in a serial run.
TEST_F(CliBatchTest, ParallelBatchKeepsTheHeaderWhereTheSerialRunPutsIt) {
  std::filesystem::create_directories(dir_.File("bad"));
  std::filesystem::copy_file(kSamples + std::string("argon_n2e15.txt"),
                             dir_.File("bad/argon_n2e15.txt"));
  testing::WriteFile(dir_.File("bad/Maps"), "");
  const std::string command =
      "map --save-map --density-points 5 --temperature-points 4 bad/argon_n2e15.txt"
      " meas/argon_n2e15.txt meas/argon_n4e16_noise.txt";
  const CliResult serial = Run(command + " --jobs 1");
  const CliResult parallel = Run(command + " --jobs 3");
  EXPECT_EQ(serial.status, 1);
  EXPECT_EQ(parallel.out, serial.out);
  EXPECT_EQ(parallel.err, serial.err);
}

TEST_F(CliTest, JobsMustBeACountOfOneOrMore) {
  for (const char* value : {"0", "-2", "two", "3x", "''", "1.5"}) {
    const CliResult r = Run(std::string("fit --jobs ") + value + " meas/argon_n2e15.txt");
    EXPECT_EQ(r.status, 1) << value;
    EXPECT_EQ(r.out, "") << value;
    EXPECT_NE(r.err.find("lumora-cli: --jobs takes a whole number of workers of 1 or more"),
              std::string::npos)
        << r.err;
  }
  EXPECT_EQ(Run("fit --jobs").status, 1);
  const CliResult both = Run("fit --json --table meas/argon_n2e15.txt");
  EXPECT_EQ(both.status, 1);
  EXPECT_NE(both.err.find("--json and --table cannot be combined"), std::string::npos);
}

std::string Rounded(const nlohmann::json& number, const char* format = "%.3e") {
  return Format(format, number.get<double>());
}

// Every JSON line parses and carries the numbers its results line shows.
TEST_F(CliBatchTest, JsonCarriesTheResultsLinesNumbers) {
  struct Command {
    const char* args;
    const char* procedure;
  };
  for (const Command& c :
       {Command{"fit --fit-temperature", "fit:"},
        Command{"map --density-points 14 --temperature-points 11", "map"}}) {
    const CliResult text = Run(std::string(c.args) + kBatchFiles);
    const CliResult json = Run(std::string(c.args) + " --json" + kBatchFiles);
    EXPECT_EQ(json.status, 1);
    const std::vector<std::string> lines = SplitLf(text.out);
    const std::vector<std::string> objects = SplitLf(json.out);
    ASSERT_EQ(objects.size(), 6u) << json.out;
    ASSERT_EQ(lines.size(), 5u) << text.out;
    size_t resultsLine = 1;
    for (size_t i = 0; i < objects.size(); ++i) {
      const nlohmann::json o = nlohmann::json::parse(objects[i]);
      if (i == 0 || i == 2) {
        EXPECT_EQ(o.at("file"), i == 0 ? "meas/missing.txt" : "meas/nope.txt");
        EXPECT_NE(o.at("error").get<std::string>().find("Cannot open file"), std::string::npos);
        continue;
      }
      const std::vector<std::string> words = SplitBlanks(lines[resultsLine++]);
      ASSERT_GE(words.size(), 15u) << objects[i];
      std::string procedure = words[14];  // a stop code's text may have blanks
      for (size_t w = 15; w < words.size(); ++w) procedure += " " + words[w];
      EXPECT_EQ(Rounded(o.at("n_tot")), words[0]);
      EXPECT_EQ(Rounded(o.at("u_n_tot")), words[1]);
      ASSERT_EQ(o.at("levels").size(), 4u);
      for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(Rounded(o.at("levels")[k].at("n")), words[2 + 2 * k]) << k;
        EXPECT_EQ(Rounded(o.at("levels")[k].at("u")), words[3 + 2 * k]) << k;
      }
      EXPECT_EQ(Rounded(o.at("T"), "%5.0f"), Format("%5.0f", std::stod(words[10])));
      EXPECT_EQ(Rounded(o.at("sum"), "%.5e"), words[12]);
      EXPECT_EQ(std::filesystem::path(o.at("file").get<std::string>()).filename(), words[13]);
      EXPECT_EQ(procedure.rfind(c.procedure, 0), 0u);
      if (std::string(c.procedure) == "fit:") {
        EXPECT_EQ("fit:" + o.at("stop").get<std::string>(), procedure);
        EXPECT_GT(o.at("iterations").get<int>(), 0);
      } else {
        EXPECT_EQ(o.at("minimum"), o.at("sum"));
        EXPECT_EQ(o.at("grid").at("density_points"), 14);
        EXPECT_EQ(o.at("grid").at("temperature_points"), 11);
        const int column = o.at("minimum_point").at("column");
        EXPECT_GE(column, 0);
        EXPECT_LT(column, 14);
      }
    }
  }
}

struct BadInput {
  const char* name;
  const char* args;
  const char* errorPart;
};

class CliRejects : public CliTest, public ::testing::WithParamInterface<BadInput> {};

// Every file of the batch gets the error with its name; the command fails.
TEST_P(CliRejects, EachFileNamingTheValue) {
  const BadInput& c = GetParam();
  const CliResult r = Run(std::string(c.args) + " meas/argon_n2e15.txt meas/argon_n1.5e17_strong.txt",
                          std::string(c.name) == "LogFolderMissing" ? "no-such-folder" : "tmp");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  for (const char* file : {"meas/argon_n2e15.txt: ", "meas/argon_n1.5e17_strong.txt: "}) {
    const size_t at = r.err.find(file);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.errorPart, at), std::string::npos) << r.err;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CliRejects,
    ::testing::Values(BadInput{"ZeroDensity", "fit --density 0", "not \"0\""},
                      BadInput{"NegativeDensity", "fit --density -2e15", "not \"-2e15\""},
                      BadInput{"TextTemperature", "fit --temperature hot", "'hot'"},
                      BadInput{"TextPoints", "map --density-points x", "'x'"},
                      BadInput{"LogFolderMissing", "fit", "no-such-folder/lumora.txt"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, UsageErrors) {
  for (const char* args : {"fit", "fit --distribution maxwell meas/argon_n2e15.txt",
                           "map --bogus meas/argon_n2e15.txt"}) {
    const CliResult r = Run(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_NE(r.err.find("lumora-cli: "), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace lumora::fittest
