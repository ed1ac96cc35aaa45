// lumora-cli fit and map on the bundled argon database and samples.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// Uncertainty options: the values they take, and the command they go with.
TEST_F(CliTest, UncertaintyOptionsRefuseBadValues) {
  const std::pair<const char*, const char*> cases[] = {
      {"fit --monte-carlo 9", "10 to 100000 runs"},
      {"fit --monte-carlo 100001", "10 to 100000 runs"},
      {"fit --monte-carlo many", "10 to 100000 runs"},
      {"fit --monte-carlo 100 --noise -0.1", "--noise must be 0 or more"},
      {"fit --monte-carlo 100 --noise lots", "--noise needs a number"},
      {"fit --monte-carlo 100 --seed -3", "--seed needs a whole number"},
      {"fit --noise 0.02", "go with --monte-carlo"},
      {"map --monte-carlo 100", "goes with fit"},
      {"map --confidence 95", "between 0 and 1"},
      {"fit --confidence 0.95", "goes with map"},
  };
  for (const auto& [args, part] : cases) {
    const CliResult r = Run(std::string(args) + " meas/argon_n2e15.txt");
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_NE(r.err.find(part), std::string::npos) << args << ": " << r.err;
  }
}

TEST_F(CliTest, MonteCarloFollowsTheResultsLineAndRepeatsWithItsSeed) {
  const std::string args = "fit --monte-carlo 50 --noise 0.02 --aki-accuracy --seed 11 "
                           "meas/argon_n2e15.txt";
  const CliResult first = Run(args);
  ASSERT_EQ(first.status, 0) << first.err;
  const std::vector<std::string> lines = SplitLf(first.out);
  ASSERT_EQ(lines.size(), 6u) << first.out;
  EXPECT_EQ(lines[2].rfind("Monte Carlo: 50 runs, ", 0), 0u) << lines[2];
  EXPECT_NE(lines[2].find("seed 11"), std::string::npos) << lines[2];
  EXPECT_EQ(lines[4].rfind("log10(n_1) ", 0), 0u) << lines[4];
  EXPECT_EQ(Run(args).out, first.out);
  // Without a seed one is drawn and printed, so that the run can be repeated.
  const CliResult drawn = Run("fit --monte-carlo 50 --noise 0.02 meas/argon_n2e15.txt");
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  EXPECT_NE(drawn.out.find(", seed "), std::string::npos) << drawn.out;
}

TEST_F(CliTest, ConfidenceRegionFollowsTheMapsResultsLine) {
  const CliResult r = Run("map --confidence 0.68 --density-points 30 --temperature-points 20 "
                          "--from-temperature 500 --to-temperature 5000 meas/argon_n2e15.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = SplitLf(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[2].rfind("68 % confidence region: n_1 ", 0), 0u) << lines[2];
}

}  // namespace
}  // namespace lumora::fittest
