// lumora-cli fit --series: the table of a batch beside its usual output.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/cli_runner.h"
#include "tests/support/synthetic_recording.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

using testing::CliRun;
using testing::ReadFile;
using testing::SplitCrLf;
using testing::TextLines;

const std::string kSamples = std::string(LUMORA_SOURCE_DIR) + "/data/measurements/";

// The fields of a CSV line (quoted fields with "" for a quote).
std::vector<std::string> CsvFields(const std::string& line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// The bundled argon database, samples under names of a power scan in meas/.
class SeriesCli : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_.File("meas"));
    std::filesystem::create_directories(dir_.File("tmp"));
    std::ofstream(dir_.File("lumora.ini")) << testing::ArgonCliSettings();
    std::filesystem::copy_file(kSamples + "argon_n2e15.txt", dir_.File("meas/scan_50W.txt"));
    std::filesystem::copy_file(kSamples + "argon_n1.5e17_strong.txt",
                               dir_.File("meas/scan_200W.txt"));
    std::filesystem::copy_file(kSamples + "argon_n4e16_noise.txt", dir_.File("meas/scan_b.txt"));
  }

  CliRun Run(const std::string& args) {
    return testing::RunCli(dir_.path(), "--ini lumora.ini " + args,
                           "TMPDIR='" + dir_.File("tmp") + "' XDG_DATA_HOME='" + dir_.File("xdg") +
                               "'");
  }
  std::vector<std::string> CsvLines(const std::string& name) {
    return SplitCrLf(ReadFile(dir_.File(name)));
  }

  // Recordings of the 2E15 sample, meas/r0.recording.csv on, each after its
  // header line; their names as arguments.
  std::string StampedRecordings(const std::vector<std::string>& headers) {
    const std::vector<testing::SyntheticLine> lines =
        testing::ReadMeasurementAreas(kSamples + "argon_n2e15.txt");
    std::string names;
    for (size_t k = 0; k < headers.size(); ++k) {
      testing::SyntheticSpectrum s;
      s.seed = k + 1;
      const std::string name = "meas/r" + std::to_string(k) + ".recording.csv";
      testing::WriteFile(dir_.File(name), headers[k] + testing::MakeSpectrum(lines, s).text);
      names += " " + name;
    }
    return names;
  }

  testing::TempFolder dir_;
  const std::string files_ = " meas/scan_50W.txt meas/missing.txt meas/scan_200W.txt";
};

TEST_F(SeriesCli, WritesARowPerFileBesideTheUsualOutput) {
  const CliRun plain = Run("fit --jobs 1" + files_);
  const CliRun json = Run("fit --jobs 1 --json" + files_);
  for (const char* jobs : {"1", "3"}) {
    SCOPED_TRACE(jobs);
    const CliRun series = Run(std::string("fit --series s") + jobs + ".csv --jobs " + jobs + files_);
    EXPECT_EQ(series.status, 1);  // a file failed
    EXPECT_EQ(series.out, plain.out);
    EXPECT_EQ(series.err, plain.err);
    const std::string text = ReadFile(dir_.File(std::string("s") + jobs + ".csv"));
    // Every line ends with CR LF.
    EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
    const std::vector<std::string> lines = SplitCrLf(text);
    ASSERT_EQ(lines.size(), 4u) << text;
    EXPECT_EQ(lines[0], "file,x,n1,u_n1,second,sum,stop");
    const std::vector<std::string> objects = TextLines(json.out);
    ASSERT_EQ(objects.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
      const std::vector<std::string> row = CsvFields(lines[k + 1]);
      ASSERT_EQ(row.size(), 7u) << lines[k + 1];
      const nlohmann::json o = nlohmann::json::parse(objects[k]);
      EXPECT_EQ(row[0], o.at("file"));
      EXPECT_EQ(row[1], std::to_string(k + 1));
      if (o.contains("error")) {
        EXPECT_EQ(row[2], "");
        EXPECT_EQ(row[5], "");
        EXPECT_EQ(row[6], o.at("error"));
        EXPECT_NE(plain.err.find(row[6]), std::string::npos);
        continue;
      }
      // The numbers of the JSON, exactly.
      EXPECT_EQ(std::stod(row[2]), o.at("levels")[0].at("n").get<double>());
      EXPECT_EQ(std::stod(row[3]), o.at("levels")[0].at("u").get<double>());
      EXPECT_EQ(row[4], "");  // the second parameter was not fitted
      EXPECT_EQ(std::stod(row[5]), o.at("sum").get<double>());
      EXPECT_EQ(row[6], o.at("stop"));
    }
  }
  EXPECT_EQ(ReadFile(dir_.File("s1.csv")), ReadFile(dir_.File("s3.csv")));
}

TEST_F(SeriesCli, XComesFromTheFileNamesByThePattern) {
  const CliRun r = Run(R"(fit --fit-temperature --series s.csv --x-pattern '_(\d+)W')" + files_ +
                       " meas/scan_b.txt");
  const std::vector<std::string> lines = CsvLines("s.csv");
  ASSERT_EQ(lines.size(), 5u) << r.err;
  const std::vector<std::string> xs = {CsvFields(lines[1])[1], CsvFields(lines[2])[1],
                                       CsvFields(lines[3])[1], CsvFields(lines[4])[1]};
  // The missing file's name still gives no number; scan_b has none.
  EXPECT_EQ(xs, (std::vector<std::string>{"50", "", "200", ""}));
  // The fitted temperature has its column; the samples were made at 1000 K.
  EXPECT_NEAR(std::stod(CsvFields(lines[1])[4]), 1000, 1);
}

// A name no file system holds and a pattern that backtracks on it: the
// batch's table is still written, the name without an x.
TEST_F(SeriesCli, AHostileNameOrPatternStillGivesTheTable) {
  const std::string longName(30000, 'n');
  const CliRun r = Run("fit --series s.csv --x-pattern '(.*)1' meas/scan_50W.txt " + longName);
  EXPECT_EQ(r.status, 1) << r.err;
  const std::vector<std::string> lines = CsvLines("s.csv");
  ASSERT_EQ(lines.size(), 3u) << r.err;
  EXPECT_EQ(CsvFields(lines[1])[1], "");
  EXPECT_EQ(CsvFields(lines[2])[1], "");
  const CliRun exponential =
      Run("fit --series s.csv --x-pattern '(a+)+b' meas/scan_50W.txt " + std::string(40, 'a'));
  EXPECT_EQ(exponential.status, 1) << exponential.err;
  EXPECT_EQ(CsvLines("s.csv").size(), 3u);
}

TEST_F(SeriesCli, RecordingsTakeXFromTheirHeaderTimeStamps) {
  // Two recordings of the 2E15 sample half a millisecond apart, and one
  // without a time stamp.
  const std::string names = StampedRecordings({"# time: 2026-03-01T10:15:30.0005Z\n", "",
                                                "# time: 2026-03-01T11:15:30+01:00\n"});
  const CliRun r = Run("fit --spectrum --series s.csv" + names);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> rows = CsvLines("s.csv");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(std::stod(CsvFields(rows[1])[1]), 0.0005);  // to the nanosecond
  EXPECT_EQ(CsvFields(rows[2])[1], "");
  EXPECT_EQ(CsvFields(rows[3])[1], "0");
  for (size_t k = 1; k < 4; ++k) EXPECT_NEAR(std::stod(CsvFields(rows[k])[2]) / 2e15, 1, 0.05);
}

// A header stamp that names no time fails its file, with the reason in its
// row; the other recordings keep their x.
TEST_F(SeriesCli, ARecordingWithABadTimeStampFailsWithTheReason) {
  const std::string names =
      StampedRecordings({"# time: 2026-03-01T10:15:30Z\n", "# time: 2026-02-30T10:15:30Z\n",
                         "# time: 2026-03-01T10:15:32Z\n"});
  const CliRun r = Run("fit --spectrum --series s.csv" + names);
  EXPECT_EQ(r.status, 1);
  const std::string reason =
      "The time stamp \"2026-02-30T10:15:30Z\" in line 1 of meas/r1.recording.csv names no day "
      "of the calendar.";
  EXPECT_NE(r.err.find("meas/r1.recording.csv: " + reason), std::string::npos) << r.err;
  const std::vector<std::string> rows = CsvLines("s.csv");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(CsvFields(rows[1])[1], "0");
  EXPECT_EQ(CsvFields(rows[2])[1], "");
  EXPECT_EQ(CsvFields(rows[2])[6], reason);
  EXPECT_EQ(CsvFields(rows[3])[1], "2");
}

struct SeriesUsage {
  const char* args;
  const char* message;
};

class SeriesCliRefuses : public SeriesCli, public ::testing::WithParamInterface<SeriesUsage> {};

TEST_P(SeriesCliRefuses, BeforeAnyWork) {
  const CliRun r = Run(GetParam().args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(GetParam().message), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("s.csv")));
}

INSTANTIATE_TEST_SUITE_P(
    Usage, SeriesCliRefuses,
    ::testing::Values(
        SeriesUsage{R"(fit --x-pattern '(\d+)W' meas/scan_50W.txt)", "--x-pattern needs --series"},
        SeriesUsage{R"(fit --series s.csv --x-pattern '\d+W' meas/scan_50W.txt)", "has no group"},
        SeriesUsage{R"(fit --series s.csv --x-pattern '(\d+W' meas/scan_50W.txt)",
                    "is no regular expression"},
        SeriesUsage{"map --series s.csv meas/scan_50W.txt", "unknown option --series"},
        SeriesUsage{"fit --series '' meas/scan_50W.txt", "--series needs a file name, not \"\""},
        SeriesUsage{"fit --log s.csv --series ./s.csv meas/scan_50W.txt",
                    "--log and --series name the same file \"./s.csv\""},
        // checked before the fits, not after them
        SeriesUsage{"fit --series no-folder/s.csv meas/scan_50W.txt",
                    "Cannot create file \"no-folder/s.csv\": No such file or directory"},
        SeriesUsage{"fit --series meas/scan_50W.txt meas/scan_50W.txt",
                    "is also an input of this command"}));

}  // namespace
}  // namespace lumora
