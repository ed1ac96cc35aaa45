// lumora-cli fit and map on the bundled argon database and samples.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/format.h"
#include "tests/support/cli_runner.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

using testing::ReadFile;
using testing::SplitBlanks;
using testing::SplitCrLf;
using testing::TextLines;
using CliResult = testing::CliRun;
using TempDir = testing::TempFolder;

const std::string kSamples = std::string(LUMORA_SOURCE_DIR) + "/data/measurements/";

// A settings file for the bundled database, the samples copied into meas/,
// and a temporary-files folder of its own for the fit log.
class FitCli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.File("meas"));
    std::filesystem::create_directories(dir_.File("tmp"));
    std::ofstream(dir_.File("lumora.ini")) << testing::ArgonCliSettings();
    for (const char* name : {"argon_n2e15.txt", "argon_n1.5e17_strong.txt"})
      std::filesystem::copy_file(kSamples + name, dir_.File(std::string("meas/") + name));
  }

  CliResult Run(const std::string& args, const std::string& tmpdir = "tmp") {
    return testing::RunCli(dir_.path(), "--ini lumora.ini " + args,
                           "unset XDG_RUNTIME_DIR && " + shellSetup_ + " TMPDIR='" +
                               dir_.File(tmpdir) + "' XDG_DATA_HOME='" + dir_.File("xdg") + "'");
  }

  // The user's log folder below tmp/.
  static std::string PrivateFolderName() { return "tmp/lumora-" + std::to_string(::getuid()); }

  // The noisy sample as meas/noise.txt, and as meas/sigma.txt with 2 % of
  // each intensity as its third column, which meas/partial.txt lacks on
  // line `missingLine` (from 1).
  void WriteSamplesWithUncertainties(int missingLine) {
    std::ifstream sample(kSamples + "argon_n4e16_noise.txt");
    std::ostringstream withColumn, partial;
    withColumn.precision(17);
    partial.precision(17);
    std::string wavelength, intensity;  // as the sample has them
    for (int line = 1; sample >> wavelength >> intensity; ++line) {
      const double sigma = 0.02 * std::stod(intensity);
      withColumn << wavelength << "\t" << intensity << "\t" << sigma << "\n";
      partial << wavelength << "\t" << intensity;
      if (line != missingLine) partial << "\t" << sigma;
      partial << "\n";
    }
    testing::WriteFile(dir_.File("meas/sigma.txt"), withColumn.str());
    testing::WriteFile(dir_.File("meas/partial.txt"), partial.str());
    std::filesystem::copy_file(kSamples + "argon_n4e16_noise.txt", dir_.File("meas/noise.txt"));
  }

  TempDir dir_;
  std::string shellSetup_ = "true &&";  // runs before the program, in its shell
};

TEST_F(FitCli, FitBatchGoesOnPastAFileThatFails) {
  const CliResult r =
      Run("fit meas/argon_n2e15.txt meas/missing.txt meas/argon_n1.5e17_strong.txt");
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> lines = TextLines(r.out);
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

TEST_F(FitCli, ReportLogPrintsTheFitLog) {
  const CliResult r = Run("fit --report log --fit-temperature meas/argon_n2e15.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = TextLines(r.out);
  ASSERT_GT(lines.size(), 10u);
  EXPECT_EQ(lines[0], std::string(84, '='));
  EXPECT_EQ(lines[1], "iter  log10(n_1)          Te             sumr");
  // The run's own log is gone afterwards; nothing is left in the shared folder.
  EXPECT_FALSE(std::filesystem::exists(dir_.File("tmp/lumora.txt")));
  EXPECT_TRUE(std::filesystem::is_empty(dir_.File(PrivateFolderName())));

  // --log copies it where the user asks.
  const CliResult kept =
      Run("fit --report log --fit-temperature --log fit-log.txt meas/argon_n2e15.txt");
  EXPECT_EQ(kept.status, 0) << kept.err;
  EXPECT_EQ(SplitCrLf(ReadFile(dir_.File("fit-log.txt"))), lines);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.File(PrivateFolderName())));
}

// A link planted where the log used to be is never followed; the private
// folder is created for this user alone.
TEST_F(FitCli, FitLogNeverFollowsAPlantedLink) {
  const std::string victim = dir_.Write("victim.txt", "precious\n");
  std::filesystem::create_symlink(victim, dir_.File("tmp/lumora.txt"));
  // The log is read for the report, so the fit needs the folder.
  const CliResult r = Run("fit --report log meas/argon_n2e15.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(victim), "precious\n");
  const auto folder = std::filesystem::symlink_status(dir_.File(PrivateFolderName()));
  EXPECT_EQ(folder.type(), std::filesystem::file_type::directory);
  EXPECT_EQ(folder.permissions(), std::filesystem::perms::owner_all);
}

// A log folder someone else made first, or a link in its place, never stops
// a fit and is never written into: a fit that keeps no log does not need the
// folder, and one whose log is read uses a folder of its own.
TEST_F(FitCli, APlantedLogFolderIsNoHostage) {
  const struct {
    const char* args;
    size_t resultLines;
  } runs[] = {
      {"fit meas/argon_n2e15.txt", 2},
      {"fit --report log meas/argon_n2e15.txt", 10},
      {"fit --log kept.txt meas/argon_n2e15.txt", 2},
  };
  std::filesystem::create_directories(dir_.File("elsewhere"));
  std::filesystem::create_symlink(dir_.File("elsewhere"), dir_.File(PrivateFolderName()));
  for (const auto& run : runs) {
    const CliResult r = Run(run.args);
    EXPECT_EQ(r.status, 0) << run.args << r.err;
    EXPECT_EQ(r.err, "") << run.args;
    EXPECT_GE(TextLines(r.out).size(), run.resultLines) << run.args;
  }
  EXPECT_GT(ReadFile(dir_.File("kept.txt")).size(), 100u);
  EXPECT_TRUE(std::filesystem::is_empty(dir_.File("elsewhere")));
  // The folder of its own went with the process.
  for (const auto& entry : std::filesystem::directory_iterator(dir_.File("tmp")))
    EXPECT_EQ(entry.path().filename().string().find("lumora-" + std::to_string(::getuid()) + "-"),
              std::string::npos)
        << entry.path();
}

TEST_F(FitCli, FirstLevelsFitsTheSecondParameterOverFourLevels) {
  const CliResult r = Run("fit --distribution 1s --count 9 --temperature 250 meas/argon_n2e15.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = TextLines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_NE(lines[0].find("±u(n_9)"), std::string::npos);
  const CliResult forced = Run("fit --distribution 1s --temperature 250 meas/argon_n2e15.txt");
  const std::string header = TextLines(forced.out)[0];
  // The second column is the 1s2/4 density ratio, no temperature.
  EXPECT_NE(header.find("±u(n_4) 1s2/4 u(1s)"), std::string::npos) << header;
  EXPECT_EQ(header.find("T/K"), std::string::npos) << header;
}

TEST_F(FitCli, MapWritesItsFileIntoMaps) {
  const CliResult r = Run(
      "map --save-map --density-points 50 --temperature-points 50 --table meas/argon_n2e15.txt");
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = TextLines(r.out);
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

// A map file that cannot be written whole (here: beyond the file size limit,
// as on a full disk) leaves the old map as it was and no temporary file; the
// results line is printed all the same and the error names the file and the
// cause.
TEST_F(FitCli, MapThatCannotBeSavedKeepsTheOldMap) {
  const std::string old = "#old map\r\n1.0 2.0 \r\n";
  std::filesystem::create_directories(dir_.File("meas/Maps"));
  std::ofstream(dir_.File("meas/Maps/argon_n2e15.txt_map.txt"), std::ios::binary) << old;
  shellSetup_ = "trap '' XFSZ && ulimit -f 16 &&";
  const CliResult r =
      Run("map --save-map --density-points 50 --temperature-points 50 meas/argon_n2e15.txt");
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> lines = TextLines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(SplitBlanks(lines[1]).back(), "map");
  EXPECT_EQ(r.err,
            "meas/argon_n2e15.txt: Cannot write file \"meas/Maps/argon_n2e15.txt_map.txt\": " +
                std::string(std::strerror(EFBIG)) + "\n");
  EXPECT_EQ(ReadFile(dir_.File("meas/Maps/argon_n2e15.txt_map.txt")), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.File("meas/Maps")),
                          std::filesystem::directory_iterator()),
            1);
}

// A fit log that cannot be written whole (here: past the file size limit)
// leaves the earlier log as it was and no temporary file beside it.
TEST_F(FitCli, FitLogThatCannotBeSavedKeepsTheOldLog) {
  const std::string old = dir_.Write("fit.log", "an earlier log\r\n");
  shellSetup_ = "trap '' XFSZ && ulimit -f 1 &&";
  const CliResult r = Run("fit --fit-temperature --log fit.log meas/argon_n2e15.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Cannot write file"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(dir_.File("fit.log")), "an earlier log\r\n");
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    EXPECT_EQ(entry.path().filename().string().find(".fit.log-"), std::string::npos)
        << entry.path();
}

// Every written file treats a link alike: a link to a regular file is
// followed, the file it names replaced whole and the link kept; a link to
// anything else (here a device that takes no data) is refused and stays.
TEST_F(FitCli, LinksInPlaceOfOutputsAreTreatedAlike) {
  std::filesystem::copy_file(kSamples + "argon_n2e15.recording.csv", dir_.File("s.csv"));
  std::filesystem::create_directories(dir_.File("meas/Maps"));
  const struct {
    const char* output;
    const char* args;
  } writers[] = {
      {"meas/Maps/argon_n2e15.txt_map.txt",
       "map --save-map --density-points 5 --temperature-points 4 meas/argon_n2e15.txt"},
      {"report.txt", "integrate --report report.txt s.csv"},
  };
  for (const auto& writer : writers) {
    SCOPED_TRACE(writer.args);
    const std::string link = dir_.File(writer.output);
    const std::string target = dir_.Write(std::string(writer.output) + ".target", "old\n");
    std::filesystem::create_symlink(target, link);
    const CliResult followed = Run(writer.args);
    EXPECT_EQ(followed.status, 0) << followed.err;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_GT(ReadFile(target).size(), 10u);

    std::filesystem::remove(link);
    std::filesystem::create_symlink("/dev/full", link);
    const CliResult refused = Run(writer.args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(writer.output), std::string::npos) << refused.err;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    std::filesystem::remove(link);
  }
}

// A batch with every sample, a file that cannot be read first and another
// in the middle, and one whose import stops early with a message.
const char* const kBatchFiles =
    " meas/missing.txt meas/argon_n2e15.txt meas/nope.txt meas/argon_n4e16_noise.txt"
    " meas/argon_n8e15_notfound.txt meas/argon_n1.5e17_strong.txt";

class CliBatchTest : public FitCli {
 protected:
  void SetUp() override {
    FitCli::SetUp();
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
  // No run leaves its log behind: the private log folder is empty.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.File("tmp")))
    EXPECT_TRUE(entry.is_directory()) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliParallelBatch,
    ::testing::Values(
        BatchCase{"Fit", "fit"}, BatchCase{"FitTemperature", "fit --fit-temperature"},
        BatchCase{"FitLog", "fit --report log --max-iter 3"}, BatchCase{"FitTable", "fit --table"},
        BatchCase{"FitJson", "fit --json"},
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

// An output that is one of the command's inputs is refused before any work,
// leaving the input as it was: named, through a link, or a file the command
// reads besides its arguments.
TEST_F(FitCli, AnOutputThatIsAnInputIsRefused) {
  std::filesystem::copy_file(
      std::string(LUMORA_SOURCE_DIR) + "/data/measurements/argon_n2e15.recording.csv",
      dir_.File("meas/s.csv"));
  std::filesystem::copy_file(std::string(LUMORA_SOURCE_DIR) + "/data/database/Ar_I.txt",
                             dir_.File("lines.txt"));
  std::filesystem::create_symlink("argon_n2e15.txt", dir_.File("meas/link.txt"));
  struct Case {
    const char* args;
    const char* output;
  };
  const Case cases[] = {
      {"integrate --report meas/s.csv meas/s.csv", "meas/s.csv"},
      {"fit --log meas/argon_n2e15.txt meas/argon_n2e15.txt", "meas/argon_n2e15.txt"},
      {"fit --log meas/link.txt meas/argon_n4e16_noise.txt meas/argon_n2e15.txt", "meas/link.txt"},
      {"fit --log lumora.ini meas/argon_n2e15.txt", "lumora.ini"},
      {"convert lines.txt lines.txt", "lines.txt"},
  };
  for (const Case& c : cases) {
    const std::string before = ReadFile(dir_.File(c.output));
    const CliResult r = Run(c.args);
    EXPECT_EQ(r.status, 1) << c.args;
    EXPECT_EQ(r.out, "") << c.args;
    EXPECT_NE(r.err.find(std::string("\"") + c.output + "\" is also an input of this command"),
              std::string::npos)
        << c.args << ": " << r.err;
    EXPECT_EQ(ReadFile(dir_.File(c.output)), before) << c.args;
  }
}

// The most threads the command had at once, sampled every few milliseconds
// from /proc while it runs.
int PeakThreads(const std::string& folder, const std::string& args) {
  const std::string script =
      "cd '" + folder + "' && '" LUMORA_CLI "' --ini lumora.ini " + args +
      " >/dev/null 2>&1 & pid=$!; max=0; while kill -0 $pid 2>/dev/null; do "
      "n=$(awk '/^Threads:/{print $2}' /proc/$pid/status 2>/dev/null); "
      "[ -n \"$n\" ] && [ \"$n\" -gt $max ] && max=$n; sleep 0.002; done; echo $max";
  FILE* pipe = popen(script.c_str(), "r");
  int peak = -1;
  if (pipe) {
    if (std::fscanf(pipe, "%d", &peak) != 1) peak = -1;
    pclose(pipe);
  }
  return peak;
}

// --jobs bounds the threads of the whole process: one for --jobs 1, even in
// a large map; a count far above the cores is clamped to four a core, said
// on standard error, and every file still gets its result.
TEST_F(FitCli, JobsBoundTheThreadsOfTheProcess) {
  EXPECT_EQ(PeakThreads(dir_.path(),
                        "map --jobs 1 --density-points 500 --temperature-points 500 "
                        "meas/argon_n2e15.txt"),
            1);
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  std::string files;
  for (int k = 0; k < 200; ++k) {
    const std::string name = "meas/copy" + std::to_string(k) + ".txt";
    std::filesystem::copy_file(dir_.File("meas/argon_n2e15.txt"), dir_.File(name));
    files += " " + name;
  }
  const CliResult r = Run("fit --jobs 5000" + files);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(TextLines(r.out).size(), 201u);  // the header and a line per file
  EXPECT_NE(r.err.find(Format("--jobs 5000 is more than 4 workers a core on %d cores: %d are used",
                              cores, 4 * cores)),
            std::string::npos)
      << r.err;
  const int peak = PeakThreads(dir_.path(), "fit --jobs 5000" + files);
  EXPECT_GE(peak, 1);
  EXPECT_LE(peak, 4 * cores);
}

// In a small address space the pool cannot start every worker asked for:
// the batch runs on those that can be started, or carries on without them,
// and every file still gets its result or its error, never an abort. The
// limits run from the least one file needs to some dozens of megabytes
// more, where eight workers once ended the program.
TEST_F(FitCli, ABatchGoesOnWithTheThreadsItCanStart) {
#ifdef LUMORA_SANITIZED
  GTEST_SKIP() << "the sanitizers' shadow memory does not fit into a limited address space";
#endif
  const auto limited = [this](int kilobytes) {
    shellSetup_ = "ulimit -v " + std::to_string(kilobytes) + " &&";
  };
  int least = 0;
  for (int kilobytes = 10000; kilobytes <= 400000 && least == 0; kilobytes += 2500) {
    limited(kilobytes);
    if (Run("fit --jobs 1 meas/argon_n2e15.txt").status == 0) least = kilobytes;
  }
  ASSERT_GT(least, 0);
  constexpr size_t kFiles = 40;
  std::string files;
  for (size_t k = 0; k < kFiles; ++k) files += " meas/argon_n2e15.txt";
  for (int kilobytes = least; kilobytes <= least + 40000; kilobytes += 4000) {
    limited(kilobytes);
    const CliResult r = Run("fit --jobs 8" + files);
    const std::string at = std::to_string(kilobytes) + " kB: ";
    // A results line (after the header) or an error line for each file.
    const std::vector<std::string> results = TextLines(r.out);
    size_t failed = 0;
    for (const std::string& line : TextLines(r.err))
      if (line.rfind("meas/argon_n2e15.txt: ", 0) == 0) ++failed;
    EXPECT_EQ((results.empty() ? 0 : results.size() - 1) + failed, kFiles) << at << r.err;
    EXPECT_EQ(r.status, failed > 0 ? 1 : 0) << at << r.err;
  }
}

// A batch interrupted after some files keeps their results, whatever its
// standard output is: SIGINT (or SIGTERM) stops the files in flight at their
// next step, what finished is printed whole, and the status is 128 + the
// signal.
TEST_F(FitCli, AnInterruptedBatchKeepsTheFinishedFiles) {
  std::string files;
  for (int k = 0; k < 12; ++k) files += " meas/argon_n2e15.txt";
  const std::string one =
      Run("fit --jobs 1 --monte-carlo 5000 --noise 0.02 --seed 1 meas/argon_n2e15.txt").out;
  const std::vector<std::string> block =
      TextLines(one);  // header, results line, Monte Carlo report
  ASSERT_GE(block.size(), 3u);
  for (const auto& [jobs, signal] : {std::pair{1, "INT"}, std::pair{2, "TERM"}}) {
    const std::string script =
        "cd '" + dir_.path() +
        "' && : >stopped.txt && ('" LUMORA_CLI "' --ini lumora.ini fit --jobs " +
        std::to_string(jobs) + " --monte-carlo 5000 --noise 0.02 --seed 1" + files +
        " >stopped.txt 2>/dev/null & pid=$!; n=0; while [ $(wc -l <stopped.txt) -lt " +
        std::to_string(block.size()) +
        " ] && [ $n -lt 3000 ]; do sleep 0.01; n=$((n+1)); done; "
        "kill -" +
        signal + " $pid; wait $pid; echo $?)";
    FILE* pipe = popen(script.c_str(), "r");
    ASSERT_TRUE(pipe);
    int status = -1;
    EXPECT_EQ(std::fscanf(pipe, "%d", &status), 1);
    pclose(pipe);
    EXPECT_EQ(status, std::string(signal) == "INT" ? 130 : 143) << jobs;
    const std::vector<std::string> lines = TextLines(ReadFile(dir_.File("stopped.txt")));
    // The header once, then whole blocks of finished files, fewer than all.
    ASSERT_GE(lines.size(), block.size()) << jobs;
    const size_t perFile = block.size() - 1;
    EXPECT_EQ((lines.size() - 1) % perFile, 0u) << jobs;
    EXPECT_LT((lines.size() - 1) / perFile, 12u) << jobs;
    EXPECT_EQ(lines[0], block[0]);
    for (size_t i = 1; i < lines.size(); ++i)
      EXPECT_EQ(lines[i], block[1 + (i - 1) % perFile]) << i;
  }
}

// A run of many seconds (a hundred thousand refits of the noisy sample
// with T_exc on one thread) ends at its next step on the first terminating
// signal of any kind, with the file's error and 128 + the signal; two
// signals of different kinds end it too. `timeout` sends the signals (its
// -k 5 kills a run that ignored them) a second in, when even a loaded
// machine has started the run and the file is in flight.
TEST_F(FitCli, TheFirstSignalStopsARunAtItsNextStep) {
  const std::string endless =
      " fit --monte-carlo 100000 --noise 0.02 --fit-temperature --jobs 1 '" + kSamples +
      "argon_n4e16_noise.txt'";
  const std::pair<const char*, int> signals[] = {{"TERM", 143}, {"INT", 130}, {"HUP", 129}};
  for (const auto& [signal, status] : signals) {
    const std::string script = "cd '" + dir_.path() + "' && timeout --preserve-status -k 5 -s " +
                               signal + " 1 '" LUMORA_CLI "' --ini lumora.ini" + endless +
                               " 2>&1 >/dev/null; echo \"status $?\"";
    FILE* pipe = popen(script.c_str(), "r");
    ASSERT_TRUE(pipe);
    std::string output;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    pclose(pipe);
    EXPECT_NE(output.find(Format("Stopped by SIG%s before the end.", signal)), std::string::npos)
        << output;
    EXPECT_NE(output.find(Format("status %d", status)), std::string::npos) << output;
  }
  // A second signal, of another kind, ends the run as that signal's default does.
  const std::string twice = "cd '" + dir_.path() + "' && ('" LUMORA_CLI "' --ini lumora.ini" +
                            endless +
                            " >/dev/null 2>&1 & pid=$!; sleep 1; kill -TERM $pid; kill -INT "
                            "$pid; n=0; while kill -0 $pid 2>/dev/null && [ $n -lt 500 ]; do "
                            "sleep 0.01; n=$((n+1)); done; kill -0 $pid 2>/dev/null && kill "
                            "-KILL $pid; wait $pid; echo $?)";
  FILE* pipe = popen(twice.c_str(), "r");
  ASSERT_TRUE(pipe);
  int status = -1;
  EXPECT_EQ(std::fscanf(pipe, "%d", &status), 1);
  pclose(pipe);
  EXPECT_TRUE(status == 130 || status == 143) << status;
}

TEST_F(FitCli, JobsMustBeACountOfOneOrMore) {
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
  for (const Command& c : {Command{"fit --fit-temperature", "fit:"},
                           Command{"map --density-points 14 --temperature-points 11", "map"}}) {
    const CliResult text = Run(std::string(c.args) + kBatchFiles);
    const CliResult json = Run(std::string(c.args) + " --json" + kBatchFiles);
    EXPECT_EQ(json.status, 1);
    const std::vector<std::string> lines = TextLines(text.out);
    const std::vector<std::string> objects = TextLines(json.out);
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
      EXPECT_EQ(Rounded(o.at("second").at("value"), "%5.0f"),
                Format("%5.0f", std::stod(words[10])));
      EXPECT_EQ(o.at("second").at("name"), "T_exc_K");
      EXPECT_EQ(Rounded(o.at("sum"), "%.5e"), words[12]);
      EXPECT_EQ(std::filesystem::path(o.at("file").get<std::string>()).filename(), words[13]);
      EXPECT_EQ(procedure.rfind(c.procedure, 0), 0u);
      if (std::string(c.procedure) == "fit:") {
        EXPECT_EQ("fit:" + o.at("stop").get<std::string>(), procedure);
        // u(n_1) of the results line is ln 10 n_1 u(log10 n_1).
        const double n1 = std::pow(10.0, o.at("log10_n1").get<double>());
        EXPECT_EQ(Rounded(nlohmann::json(std::log(10.0) * n1 * o.at("u_log10_n1").get<double>())),
                  words[3]);
        EXPECT_GT(o.at("iterations").get<int>(), 0);
      } else {
        EXPECT_EQ(o.at("minimum"), o.at("sum"));
        EXPECT_EQ(o.at("grid").at("density_points"), 14);
        EXPECT_EQ(o.at("grid").at("second_points"), 11);
        const int column = o.at("minimum_point").at("column");
        EXPECT_GE(column, 0);
        EXPECT_LT(column, 14);
      }
    }
  }
}

// A grid of N points steps (To - From) / N: "To" is the end of its range,
// one step beyond the last point, which the JSON gives beside it.
TEST_F(FitCli, TheMapJsonGivesTheGridsLastPoints) {
  const CliResult r = Run(
      "map --json --from-density 1e15 --to-density 1e18 --density-points 4 --from-temperature "
      "1000 --to-temperature 2000 --temperature-points 5 meas/argon_n2e15.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json grid = nlohmann::json::parse(r.out).at("grid");
  EXPECT_EQ(grid.at("log10_density_to"), 18.0);
  EXPECT_EQ(grid.at("log10_density_last"), 17.25);
  EXPECT_EQ(grid.at("second_to"), 2000.0);
  EXPECT_EQ(grid.at("second_last"), 1800.0);
}

struct BadInput {
  const char* name;
  const char* args;
  const char* errorPart;
};

class CliRejects : public FitCli, public ::testing::WithParamInterface<BadInput> {};

// Every file of the batch gets the error with its name; the command fails.
TEST_P(CliRejects, EachFileNamingTheValue) {
  const BadInput& c = GetParam();
  const CliResult r =
      Run(std::string(c.args) + " meas/argon_n2e15.txt meas/argon_n1.5e17_strong.txt",
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
    ::testing::Values(
        BadInput{"ZeroDensity", "fit --density 0", "not \"0\""},
        BadInput{"NegativeDensity", "fit --density -2e15", "not \"-2e15\""},
        BadInput{"TextTemperature", "fit --temperature hot", "'hot'"},
        BadInput{"TextPoints", "map --density-points x", "'x'"},
        BadInput{"LogFolderMissing", "fit --report log", "no-such-folder/lumora-"},
        BadInput{"ZeroPath", "fit --path 0", "--path must be greater than 0, not \"0\"."},
        BadInput{"NegativePath", "fit --path -1", "--path must be greater than 0, not \"-1\"."},
        BadInput{"HugePath", "fit --path 1e300", "--path must be at most 1000, not \"1E300\"."},
        BadInput{"TinyDensity", "fit --density 1e-300",
                 "--density must lie between 1 and 1E30, not \"1E-300\"."},
        BadInput{"HugeDensity", "fit --density 1e300",
                 "--density must lie between 1 and 1E30, not \"1E300\"."},
        BadInput{"ZeroCount", "fit --count 0", "--count must be at least 1, not \"0\"."},
        BadInput{"ZeroIterationLimit", "fit --max-iter 0",
                 "--max-iter must be at least 1, not \"0\"."},
        BadInput{"NegativeIterationLimit", "fit --max-iter -1",
                 "--max-iter must be at least 1, not \"-1\"."},
        BadInput{"ZeroGasTemperature", "fit --tn 0", "--tn must be greater than 0, not \"0\"."},
        BadInput{"NegativeExcitationTemperature", "fit --temperature -5",
                 "--temperature must be greater than 0, not \"-5\"."},
        BadInput{"NegativeFirstLevelsDensity", "fit --distribution 1s --temperature -5",
                 "--temperature must be greater than 0, not \"-5\"."},
        BadInput{"FirstLevelsFitFromZero", "fit --distribution 1s --temperature 0",
                 "--temperature must be greater than 0, not \"0\"."},
        BadInput{"MapNegativeFirstLevelsDensity",
                 "map --distribution 1s --from-temperature -1 --density-points 2 "
                 "--temperature-points 2",
                 "--from-temperature must not be negative, not \"-1\"."},
        BadInput{"MapZeroPath", "map --path 0 --density-points 2 --temperature-points 2",
                 "--path must be greater than 0, not \"0\"."},
        BadInput{"MapNegativeTemperature",
                 "map --from-temperature -100 --density-points 2 --temperature-points 2",
                 "--from-temperature must be greater than 0, not \"-100\"."},
        BadInput{"MapDensityBeyondTheModel",
                 "map --to-density 1e40 --density-points 2 --temperature-points 2",
                 "--to-density must lie between 1 and 1E30, not \"1E40\"."},
        BadInput{"MapDensityAxisOfOneValue",
                 "map --from-density 1e16 --to-density 1e16 --density-points 3 "
                 "--temperature-points 3",
                 "--to-density must differ from its axis's first value, not \"1E16\"."},
        BadInput{"MapTemperatureAxisOfOneValue",
                 "map --from-temperature 500 --to-temperature 500 --density-points 3 "
                 "--temperature-points 3",
                 "--to-temperature must differ from its axis's first value, not \"500\"."},
        BadInput{"MapAxesTooLong", "map --density-points 100000 --temperature-points 100000",
                 "A map takes at most 10000 points on each axis (density points 100000, "
                 "temperature points 100000)."},
        BadInput{"MapAxisOfIntMax", "map --density-points 2147483647 --temperature-points 2",
                 "A map takes at most 10000 points on each axis"},
        BadInput{"MapTooManyPoints", "map --density-points 10000 --temperature-points 1001",
                 "A map takes at most 10000000 grid points; 10000 density points by 1001 "
                 "temperature points are 10010000."}),
    [](const auto& info) { return std::string(info.param.name); });

// Intensities that measure nothing, or less than nothing, are refused; a relative density of 0
// under "1s levels" is a valid map axis.
TEST_F(FitCli, MeasurementWithoutAPositiveIntensityIsRefused) {
  std::string zero, negative;
  std::istringstream sample(ReadFile(kSamples + "argon_n2e15.txt"));
  for (std::string wavelength, intensity; sample >> wavelength >> intensity;) {
    zero += wavelength + " 0\n";
    negative += wavelength + " -3\n";
  }
  std::ofstream(dir_.File("meas/zero.txt")) << zero;
  std::ofstream(dir_.File("meas/negative.txt")) << negative;
  for (const char* command : {"fit", "map --density-points 2 --temperature-points 2"}) {
    const CliResult r = Run(std::string(command) + " meas/zero.txt meas/negative.txt");
    EXPECT_EQ(r.status, 1) << command;
    EXPECT_EQ(r.out, "") << command;
    const std::pair<const char*, const char*> refusals[] = {
        {"meas/zero.txt", "No line of the measurement has an intensity greater than 0."},
        {"meas/negative.txt",
         "Line 1 of meas/negative.txt: the intensity -3 of the line 667.7282 nm is negative"},
    };
    for (const auto& [file, message] : refusals)
      EXPECT_NE(r.err.find(std::string(file) + ": " + message), std::string::npos)
          << command << ": " << r.err;
  }
  const CliResult empty =
      Run("map --distribution 1s --from-temperature 0 --density-points 2 --temperature-points 2 "
          "meas/argon_n2e15.txt");
  EXPECT_EQ(empty.status, 0) << empty.err;
}

// The element's mass comes from its section; a missing or meaningless one
// stops the command before any file.
TEST_F(FitCli, ElementMassMustBeGiven) {
  struct Case {
    const char* mass;
    const char* error;
  };
  const Case cases[] = {
      {"",
       "The element section \"Argon\" of the settings file has no key \"m\" (atomic mass in u).\n"},
      {"m=0\n",
       "The key \"m\" of the element section \"Argon\" must be an atomic mass in u greater "
       "than 0, not \"0\".\n"},
      {"m=heavy\n",
       "The key \"m\" of the element section \"Argon\" must be an atomic mass in u "
       "greater than 0, not \"heavy\".\n"},
  };
  for (const Case& c : cases) {
    std::ofstream(dir_.File("lumora.ini"))
        << "[_Files]\nDatabase=" << LUMORA_SOURCE_DIR << "/data/database\n"
        << "[_Parameters]\nDefaultAtom=0\n[Argon]\nLevels=Ar_I_levels.txt\nLines=Ar, I\n"
        << "Boltzmax=4\n"
        << c.mass;
    for (const char* command : {"fit", "map", "analyze"}) {
      const CliResult r = Run(std::string(command) +
                              (std::string(command) == "analyze" ? "" : " meas/argon_n2e15.txt"));
      EXPECT_EQ(r.status, 1) << command << " " << c.mass;
      EXPECT_EQ(r.err, c.error) << command << " " << c.mass;
      EXPECT_EQ(r.out, "") << command << " " << c.mass;
    }
  }
}

// A grid within the limits that still does not fit into memory is an
// error that says so, for each file of the batch.
TEST_F(FitCli, MapBeyondTheMemoryIsAClearError) {
#ifdef LUMORA_SANITIZED
  GTEST_SKIP() << "the sanitizers' shadow memory does not fit into a limited address space";
#endif
  shellSetup_ = "ulimit -v 60000 &&";
  const CliResult r =
      Run("map --density-points 10000 --temperature-points 1000 meas/argon_n2e15.txt "
          "meas/argon_n1.5e17_strong.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "meas/argon_n2e15.txt: Not enough memory for the map.\n"
            "meas/argon_n1.5e17_strong.txt: Not enough memory for the map.\n");
}

// Numbers the messages write have at most 12 significant digits, whatever
// was typed; a number that is short already reads as it always did.
TEST_F(FitCli, NumbersInMessagesAreShortened) {
  std::filesystem::copy_file(kSamples + "argon_n2e15.recording.csv", dir_.File("meas/rec.csv"));
  struct Case {
    const char* args;
    const char* message;
  };
  const Case cases[] = {
      {"map --from-temperature -1e-320 meas/argon_n2e15.txt",
       "meas/argon_n2e15.txt: --from-temperature must be greater than 0, not "
       "\"-9.99988867183E-321\".\n"},
      {"fit --tn -0.1234567890123456789 meas/argon_n2e15.txt",
       "meas/argon_n2e15.txt: --tn must be greater than 0, not \"-0.123456789012\".\n"},
      {"fit --path 123456789.123456789 meas/argon_n2e15.txt",
       "meas/argon_n2e15.txt: --path must be at most 1000, not \"123456789.123\".\n"},
      {"fit --density 0.1234567890123456789 meas/argon_n2e15.txt",
       "meas/argon_n2e15.txt: --density must lie between 1 and 1E30, not "
       "\"0.123456789012\".\n"},
      {"map --from-temperature 1e-320 --to-temperature 1e-320 meas/argon_n2e15.txt",
       "meas/argon_n2e15.txt: --to-temperature must differ from its axis's first value, not "
       "\"9.99988867183E-321\".\n"},
      {"integrate --fwhm 1e-320 meas/rec.csv",
       "The FWHM must lie between 0.1 and 81.25 nm (two sampling steps and a quarter of the "
       "spectrum's span), not 9.99988867183E-321 nm.\n"},
      {"integrate --window -12345678901234.5 meas/rec.csv",
       "The window must be greater than 0 FWHM, not -1.23456789012E13.\n"},
      {"analyze --pair 1e300 751.4652",
       "Line pair 1E300/751.4652 is not among the simulated lines.\n"},
      {"analyze --params '700, 850, 1e5, 14, -1e-320'",
       "N range factor must be greater than 0, not \"-9.99988867183E-321\".\n"},
      // short numbers as before
      {"fit --temperature -5 meas/argon_n2e15.txt",
       "meas/argon_n2e15.txt: --temperature must be greater than 0, not \"-5\".\n"},
      {"fit --path 2000 meas/argon_n2e15.txt",
       "meas/argon_n2e15.txt: --path must be at most 1000, not \"2000\".\n"},
      {"map --from-density 1e15 --to-density 1e15 meas/argon_n2e15.txt",
       "meas/argon_n2e15.txt: --to-density must differ from its axis's first value, not "
       "\"1E15\".\n"},
      {"integrate --fwhm 1e300 meas/rec.csv",
       "The FWHM must lie between 0.1 and 81.25 nm (two sampling steps and a quarter of the "
       "spectrum's span), not 1E300 nm.\n"},
      {"analyze --pair 750.38 1", "Line pair 750.3800/1.0000 is not among the simulated lines.\n"},
  };
  for (const Case& c : cases) {
    const CliResult r = Run(c.args);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
  }
}

TEST_F(FitCli, UsageErrors) {
  for (const char* args : {"fit", "fit --distribution maxwell meas/argon_n2e15.txt",
                           "map --bogus meas/argon_n2e15.txt"}) {
    const CliResult r = Run(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_NE(r.err.find("lumora-cli: "), std::string::npos) << r.err;
  }
}

// Uncertainty options: the values they take, and the command they go with.
TEST_F(FitCli, UncertaintyOptionsRefuseBadValues) {
  const std::pair<const char*, const char*> cases[] = {
      {"fit --monte-carlo 9", "10 to 100000 runs"},
      {"fit --monte-carlo 100001", "10 to 100000 runs"},
      {"fit --monte-carlo many", "10 to 100000 runs"},
      {"fit --monte-carlo 100 --noise -0.1", "--noise must be 0 or more"},
      {"fit --monte-carlo 100 --noise lots", "--noise needs a number"},
      {"fit --monte-carlo 100 --seed -3", "--seed needs a whole number"},
      {"fit --seed 3", "go with --monte-carlo"},
      {"fit --noise 0.02 --poisson", "give one of them"},
      {"fit --sigma-column --poisson", "give one of them"},
      {"map --noise 0.02 --sigma-column", "give one of them"},
      {"fit --sigma-column --spectrum", "a recording has none"},
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

// Uncertainties stated so small that the chi-square leaves the doubles
// give the program's own message, not the statistics library's.
TEST_F(FitCli, AChiSquareBeyondTheNumbersIsThePrograms) {
  WriteSamplesWithUncertainties(0);
  for (const char* noise : {"1e-160", "1e-300"}) {
    const CliResult r = Run(std::string("fit --noise ") + noise + " meas/noise.txt");
    EXPECT_EQ(r.status, 1) << noise;
    EXPECT_NE(r.err.find("The lines disagree with the model far beyond their uncertainties"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("Error in function"), std::string::npos) << r.err;
  }
}

TEST_F(FitCli, MonteCarloFollowsTheResultsLineAndRepeatsWithItsSeed) {
  const std::string args =
      "fit --monte-carlo 50 --noise 0.02 --aki-accuracy --seed 11 "
      "meas/argon_n2e15.txt";
  const CliResult first = Run(args);
  ASSERT_EQ(first.status, 0) << first.err;
  const std::vector<std::string> lines = TextLines(first.out);
  // --noise weights the fit: its chi-square follows the results line.
  ASSERT_GE(lines.size(), 7u) << first.out;
  EXPECT_EQ(lines[2].rfind("chi2 = ", 0), 0u) << lines[2];
  EXPECT_EQ(lines[3].rfind("Monte Carlo: 50 runs, ", 0), 0u) << lines[3];
  EXPECT_NE(lines[3].find("seed 11"), std::string::npos) << lines[3];
  // Warnings (refits that failed, those the iteration limit stopped) come
  // before the statistics, which end the block.
  EXPECT_EQ(lines[lines.size() - 2].rfind("log10(n_1) ", 0), 0u) << first.out;
  EXPECT_EQ(Run(args).out, first.out);
  // The same seed on every core gives the same output, in text and in JSON.
  const std::string both =
      "fit --monte-carlo 30 --noise 0.02 --seed 5 --fit-temperature "
      "meas/argon_n2e15.txt meas/argon_n1.5e17_strong.txt";
  EXPECT_EQ(Run(both + " --jobs 2").out, Run(both + " --jobs 1").out);
  const CliResult json = Run(both + " --json --jobs 2");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, Run(both + " --json --jobs 1").out);
  for (const std::string& line : TextLines(json.out)) {
    const nlohmann::json object = nlohmann::json::parse(line);
    const nlohmann::json& mc = object.at("monte_carlo");
    EXPECT_EQ(mc.at("runs"), 30);
    EXPECT_EQ(mc.at("seed"), 5);
    for (const char* key : {"log10_n1", "n1", "second"})
      for (const char* stat : {"mean", "std", "p2_5", "p50", "p97_5"})
        EXPECT_TRUE(mc.at(key).at(stat).is_number()) << key << " " << stat;
  }
  // Without a seed one is drawn and printed, so that the run can be repeated.
  const CliResult drawn = Run("fit --monte-carlo 50 --noise 0.02 meas/argon_n2e15.txt");
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  EXPECT_NE(drawn.out.find(", seed "), std::string::npos) << drawn.out;
}

// The intensities' uncertainties from a third column, as a fraction of each
// intensity, or as photon counts: a weighted fit with its chi-square; without
// --sigma-column a third column means nothing.
TEST_F(FitCli, WeightedFitsTakeTheIntensitiesUncertainties) {
  WriteSamplesWithUncertainties(5);

  // The column at 2 % of each intensity is --noise 0.02.
  const CliResult column = Run("fit --sigma-column --json meas/sigma.txt");
  ASSERT_EQ(column.status, 0) << column.err;
  const nlohmann::json weighted = nlohmann::json::parse(column.out);
  EXPECT_EQ(weighted.at("weighted"), true);
  EXPECT_EQ(weighted.at("dof"), 16);
  EXPECT_NEAR(weighted.at("chi2").get<double>() / 16, weighted.at("chi2_per_dof").get<double>(),
              1e-12);
  EXPECT_GT(weighted.at("p_value").get<double>(), 0.01);
  EXPECT_FALSE(weighted.contains("u_log10_n1_robust"));
  const nlohmann::json relative =
      nlohmann::json::parse(Run("fit --noise 0.02 --json meas/noise.txt").out);
  EXPECT_NEAR(relative.at("log10_n1").get<double>(), weighted.at("log10_n1").get<double>(), 1e-9);
  EXPECT_NEAR(relative.at("u_log10_n1").get<double>(), weighted.at("u_log10_n1").get<double>(),
              1e-9);

  // Unweighted, the third column is ignored and the robust u is added.
  const CliResult plain = Run("fit --json meas/sigma.txt");
  const nlohmann::json unweighted = nlohmann::json::parse(plain.out);
  EXPECT_EQ(unweighted.at("weighted"), false);
  EXPECT_GT(unweighted.at("u_log10_n1_robust").get<double>(), 0);
  EXPECT_FALSE(unweighted.contains("chi2"));
  std::string sameLines = Run("fit meas/noise.txt").out;
  sameLines.replace(sameLines.find("noise.txt"), 9, "sigma.txt");
  EXPECT_EQ(Run("fit meas/sigma.txt").out, sameLines);

  // Text: the results line, then the chi-square; Poisson weights too.
  const std::vector<std::string> text = TextLines(Run("fit --poisson meas/noise.txt").out);
  ASSERT_EQ(text.size(), 3u);
  EXPECT_EQ(text[2].rfind("chi2 = ", 0), 0u) << text[2];

  // A line without its uncertainty is named.
  const CliResult missing = Run("fit --sigma-column meas/partial.txt");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Line 5 of meas/partial.txt has no third number"), std::string::npos)
      << missing.err;
}

// A map weighted by the intensities' uncertainties holds the fractions'
// chi-square: from a column or as a fraction of each intensity alike, its
// chi-square follows the results line, and its confidence region says which
// threshold it took; without the options a third column changes nothing.
TEST_F(FitCli, WeightedMapsTakeTheIntensitiesUncertainties) {
  WriteSamplesWithUncertainties(3);
  const std::string grid = "map --density-points 12 --temperature-points 9 ";

  const CliResult column = Run(grid + "--sigma-column --json meas/sigma.txt");
  ASSERT_EQ(column.status, 0) << column.err;
  const nlohmann::json weighted = nlohmann::json::parse(column.out);
  EXPECT_EQ(weighted.at("weighted"), true);
  EXPECT_EQ(weighted.at("dof"), 15);
  // The results line's sum is the chi-square.
  EXPECT_EQ(weighted.at("chi2").get<double>(), weighted.at("sum").get<double>());
  EXPECT_EQ(weighted.at("chi2").get<double>(), weighted.at("minimum").get<double>());
  const nlohmann::json relative =
      nlohmann::json::parse(Run(grid + "--noise 0.02 --json meas/noise.txt").out);
  EXPECT_NEAR(relative.at("chi2").get<double>() / weighted.at("chi2").get<double>(), 1, 1e-9);
  const nlohmann::json plain = nlohmann::json::parse(Run(grid + "--json meas/sigma.txt").out);
  EXPECT_FALSE(plain.contains("weighted"));
  EXPECT_LT(plain.at("sum").get<double>(), 1e-3 * weighted.at("sum").get<double>());
  std::string sameLines = Run(grid + "meas/noise.txt").out;
  sameLines.replace(sameLines.find("noise.txt"), 9, "sigma.txt");
  EXPECT_EQ(Run(grid + "meas/sigma.txt").out, sameLines);

  // Text: the results line, the chi-square, then the region and its threshold.
  const std::vector<std::string> text =
      TextLines(Run(grid + "--poisson --confidence 0.95 meas/noise.txt").out);
  ASSERT_EQ(text.size(), 4u);
  EXPECT_NE(text[1].find("map"), std::string::npos) << text[1];
  EXPECT_EQ(text[2].rfind("chi2 = ", 0), 0u) << text[2];
  EXPECT_EQ(text[3].rfind("95 % confidence region: n_1 ", 0), 0u) << text[3];
  EXPECT_NE(text[3].find("chi-square threshold"), std::string::npos) << text[3];
  const std::string unweighted = Run(grid + "--confidence 0.95 meas/noise.txt").out;
  EXPECT_EQ(unweighted.find("chi"), std::string::npos) << unweighted;

  const CliResult missing = Run(grid + "--sigma-column meas/partial.txt");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("Line 3 of meas/partial.txt has no third number"), std::string::npos)
      << missing.err;
}

// Intensities that are pure noise carry no n_1: every file ends with an
// error, weighted or not, never with a results line.
TEST_F(FitCli, PureNoiseIsNeverAResult) {
  std::ifstream sample(kSamples + "argon_n2e15.txt");
  std::vector<std::string> wavelengths;
  std::string wavelength, intensity;
  while (sample >> wavelength >> intensity) wavelengths.push_back(wavelength);
  std::mt19937_64 generator(1);
  std::uniform_real_distribution<double> uniform(100, 10000);
  std::string files;
  for (int seed = 1; seed <= 12; ++seed) {
    std::ostringstream text;
    for (const std::string& w : wavelengths) text << w << "\t" << uniform(generator) << "\n";
    const std::string name = "meas/noise" + std::to_string(seed) + ".txt";
    testing::WriteFile(dir_.File(name), text.str());
    files += " " + name;
  }
  for (const char* weights : {"", "--noise 0.05 ", "--fit-temperature "}) {
    const CliResult r = Run(std::string("fit ") + weights + files);
    EXPECT_EQ(r.status, 1) << weights;
    EXPECT_EQ(r.out.find("fit:"), std::string::npos) << weights << r.out;
    EXPECT_EQ(TextLines(r.err).size(), 12u) << weights << r.err;
  }
}

TEST_F(FitCli, ConfidenceRegionFollowsTheMapsResultsLine) {
  const CliResult r =
      Run("map --confidence 0.68 --density-points 30 --temperature-points 20 "
          "--from-temperature 500 --to-temperature 5000 meas/argon_n2e15.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = TextLines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[2].rfind("68 % confidence region: n_1 ", 0), 0u) << lines[2];
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

// A JSON object carries what its file's reading said ("warnings", empty
// when nothing) and, for a name that is not UTF-8, the name's bytes.
TEST_F(FitCli, JsonCarriesWarningsAndTheNameAsItIs) {
  const std::string oddName = "meas/odd\xff.txt";
  std::filesystem::copy_file(kSamples + "argon_n8e15_notfound.txt", dir_.File(oddName));
  const CliResult r = Run("fit --json meas/argon_n2e15.txt 'meas/odd\xff.txt' meas/none.txt");
  const std::vector<std::string> lines = TextLines(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  const auto clean = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(clean["warnings"], nlohmann::json::array());
  EXPECT_FALSE(clean.contains("file_bytes"));
  const auto odd = nlohmann::json::parse(lines[1]);
  ASSERT_EQ(odd["warnings"].size(), 1u);
  EXPECT_NE(odd["warnings"][0].get<std::string>().find("Import was stopped"), std::string::npos);
  EXPECT_EQ(odd["file_bytes"], "bWVhcy9vZGT/LnR4dA==");  // base64 of the name's bytes
  const auto failed = nlohmann::json::parse(lines[2]);
  EXPECT_TRUE(failed.contains("error"));
  EXPECT_EQ(failed["warnings"], nlohmann::json::array());
}

}  // namespace
}  // namespace lumora
