// A series fits every file in a session of its own and gathers one row per
// file: its numbers are those of a single fit of the file, a failure keeps
// its row with the message, and x comes from the order, the name or the
// recording's time stamp.
#include "model/series.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/errors.h"
#include "model/results_line.h"
#include "tests/support/argon_model.h"
#include "tests/support/testfiles.h"

namespace lumora::test {
namespace {

using testing::ArgonModel;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";
const ElementSource kArgon{kData + "database", "Ar_I_levels.txt", "Ar, I"};

FitRequest ArgonFit(bool second = false) {
  FitRequest request;
  request.target.start = ArgonModel();
  request.target.fitSecond = second;
  return request;
}

// Three samples whose densities are known and a file that is no measurement.
class SeriesOfSamples : public ::testing::Test {
 protected:
  void SetUp() override {
    files_ = {kData + "measurements/argon_n2e15.txt",
              kData + "measurements/argon_n1.5e17_strong.txt", folder_.path() + "/broken.txt",
              kData + "measurements/argon_n4e16_noise.txt"};
    WriteFile(files_[2], "811.5311\tnot a number\r\n");
  }
  SeriesRequest Request(int threads) const {
    SeriesRequest request;
    request.element = kArgon;
    request.fit = ArgonFit();
    request.files = files_;
    request.threads = threads;
    return request;
  }

  TempFolder folder_;
  std::vector<std::string> files_;
};

TEST_F(SeriesOfSamples, EachRowIsTheFileOwnFitInTheGivenOrder) {
  const SeriesTable table = FitSeries(Request(2));
  ASSERT_EQ(table.rows.size(), 4u);
  EXPECT_EQ(table.axis, SeriesAxis::FileOrder);
  // An independent fit of each sample in a session of its own.
  for (size_t k : {0u, 1u, 3u}) {
    Session session(SessionOptions{folder_.path(), [](auto&) {}});
    session.LoadElement(kArgon);
    session.ReadMeasurement(files_[k]);
    session.Recalculate();
    const FitResult fit = session.Fit(ArgonFit());
    const ResultsFigures figures =
        ComputeResultsFigures(session.Table().levels, FitResultsInput(fit));
    const SeriesRow& row = table.rows[k];
    SCOPED_TRACE(row.file);
    EXPECT_EQ(row.file, files_[k]);
    EXPECT_EQ(row.x, static_cast<double>(k + 1));
    EXPECT_EQ(row.n1, static_cast<double>(figures.densities[0]));
    EXPECT_EQ(row.n1Uncertainty, static_cast<double>(figures.uncertainties[0]));
    EXPECT_EQ(row.sum, static_cast<double>(fit.sum));
    EXPECT_TRUE(std::isnan(row.second));  // not fitted
    EXPECT_EQ(row.stop, StopCodeResultText(fit.stopCode));
    EXPECT_TRUE(row.ok);  // "OK" or "sum reached"
  }
  // The samples' densities come back (measurements/README.md).
  EXPECT_NEAR(table.rows[0].n1 / 2e15, 1, 0.005);
  EXPECT_NEAR(table.rows[1].n1 / 1.5e17, 1, 0.005);
}

TEST_F(SeriesOfSamples, AFailedFileKeepsItsRowWithTheMessage) {
  const SeriesTable table = FitSeries(Request(2));
  const SeriesRow& row = table.rows[2];
  EXPECT_EQ(row.file, files_[2]);
  EXPECT_EQ(row.x, 3);
  EXPECT_FALSE(row.fitted);
  EXPECT_FALSE(row.ok);
  EXPECT_TRUE(std::isnan(row.n1));
  EXPECT_TRUE(std::isnan(row.sum));
  EXPECT_FALSE(row.stop.empty());
  // The same message a session gives for the file.
  Session session(SessionOptions{folder_.path(), [](auto&) {}});
  session.LoadElement(kArgon);
  std::string message;
  try {
    session.ReadMeasurement(files_[2]);
    session.Recalculate();
  } catch (const Error& e) {
    message = e.what();
  }
  EXPECT_EQ(row.stop, message);
}

TEST_F(SeriesOfSamples, WorkersChangeNothing) {
  EXPECT_EQ(SeriesCsv(FitSeries(Request(1)).rows), SeriesCsv(FitSeries(Request(3)).rows));
}

TEST_F(SeriesOfSamples, ASessionOfTheCallerGivesTheSameRowsAndKeepsItsLines) {
  Session session(SessionOptions{folder_.path(), [](auto&) {}});
  session.LoadElement(kArgon);
  session.ReadMeasurement(files_[3]);
  const std::vector<TLineRecord> lines = session.Table().lines;
  EXPECT_EQ(SeriesCsv(FitSeriesIn(session, Request(1)).rows),
            SeriesCsv(FitSeries(Request(2)).rows));
  ASSERT_EQ(session.Table().lines.size(), lines.size());
  for (size_t k = 0; k < lines.size(); ++k) EXPECT_EQ(session.Table().lines[k].Int, lines[k].Int);
}

TEST_F(SeriesOfSamples, ProgressCountsEveryFileAndMayStopTheSeries) {
  SeriesRequest request = Request(2);
  std::vector<size_t> seen;
  request.progress = [&](size_t done, size_t total) {
    EXPECT_EQ(total, 4u);
    seen.push_back(done);
  };
  FitSeries(request);
  EXPECT_EQ(seen, (std::vector<size_t>{1, 2, 3, 4}));

  struct Stop {};
  request.progress = [](size_t, size_t) { throw Stop(); };
  EXPECT_THROW(FitSeries(request), Stop);
}

TEST_F(SeriesOfSamples, AnElementThatCannotBeLoadedRaises) {
  SeriesRequest request = Request(2);
  request.element.levelsFile = "missing_levels.txt";
  EXPECT_THROW(FitSeries(request), Error);
}

TEST_F(SeriesOfSamples, TheSecondParameterIsReportedWhenFitted) {
  SeriesRequest request = Request(2);
  request.fit = ArgonFit(true);
  request.files = {files_[0]};
  const SeriesTable table = FitSeries(request);
  EXPECT_TRUE(table.secondFitted);
  // The sample was made at T_exc = 1000 K.
  EXPECT_NEAR(table.rows[0].second, 1000, 1);
}

struct PatternCase {
  const char* pattern;
  const char* file;
  std::optional<double> x;
};

class SeriesPatternCases : public ::testing::TestWithParam<PatternCase> {};

TEST_P(SeriesPatternCases, TakeTheFirstGroupOfTheFileName) {
  const PatternCase& c = GetParam();
  EXPECT_EQ(SeriesPattern(c.pattern).ValueIn(c.file), c.x);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SeriesPatternCases,
    ::testing::Values(PatternCase{R"(t=(\d+)us)", "/m/run_t=250us.txt", 250},
                      PatternCase{R"((\d+)W)", "scan_35W_b.txt", 35},
                      PatternCase{R"(p([-+.\dEe]+)Pa)", "p1.5E2Pa.txt", 150},
                      // only the name is searched, never the folders
                      PatternCase{R"((\d+)W)", "/runs/50W/scan.txt", std::nullopt},
                      PatternCase{R"(t=(\d+)us)", "no_time.txt", std::nullopt},
                      // a group that matched no number
                      PatternCase{R"(t=(\w+)us)", "t=abcus.txt", std::nullopt},
                      // an optional group that took no part
                      PatternCase{R"(a(\d+)?b)", "ab.txt", std::nullopt}));

// Patterns that make a backtracking matcher recurse once per character or
// try exponentially many splits end at once, with their answer.
TEST(SeriesPattern, HostileNamesAndPatternsEndWithTheirAnswer) {
  const std::string longName(30000, 'x');
  const std::string fortyAs(40, 'a');
  EXPECT_EQ(SeriesPattern("(.*)1").ValueIn(longName), std::nullopt);
  EXPECT_EQ(SeriesPattern("(a+)+b").ValueIn(fortyAs), std::nullopt);
  EXPECT_EQ(SeriesPattern("((a|aa)*)c").ValueIn(fortyAs + fortyAs), std::nullopt);
  EXPECT_EQ(SeriesPattern(R"((?:.*)_(\d+)W$)").ValueIn(longName + "_75W"), 75);
  EXPECT_EQ(SeriesPattern("(?:a+)+(1)").ValueIn(fortyAs + "1"), 1);
}

TEST(SeriesPattern, ARegularExpressionWithoutAGroupOrBrokenIsRefused) {
  for (const char* bad : {R"(t=\d+us)", "t=(\\d+us", "[a-", R"(t=(\d+)\1)", R"(t=(\d+)(?=us))"}) {
    SCOPED_TRACE(bad);
    try {
      SeriesPattern pattern{bad};
      ADD_FAILURE() << "accepted";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
    }
  }
}

struct StampCase {
  std::string header;
  std::optional<double> seconds;  // since the epoch
};

class HeaderTimeStamps : public ::testing::TestWithParam<StampCase> {};

TEST_P(HeaderTimeStamps, AreReadFromTheLinesBeforeTheData) {
  const StampCase& c = GetParam();
  const std::optional<SeriesTime> time = HeaderTimeStamp(c.header);
  ASSERT_EQ(time.has_value(), c.seconds.has_value());
  if (time) EXPECT_NEAR(time->count() * 1e-9, *c.seconds, 1e-6);
}

// 2026-03-01T10:15:30Z is 1772360130 s after the epoch.
INSTANTIATE_TEST_SUITE_P(
    Headers, HeaderTimeStamps,
    ::testing::Values(
        StampCase{"# time: 2026-03-01T10:15:30Z\nwl,counts\n700,1\n", 1772360130},
        StampCase{"# spectrometer X\r\n# Timestamp = 2026-03-01 10:15:30.000250\r\n700;1\r\n",
                  1772360130.000250},
        StampCase{"Date: 2026-03-01T11:15:30+01:00\n700\t1\n", 1772360130},
        StampCase{"time stamp: 2026-03-01T05:15:30-0500\n", 1772360130},
        // after the first row the data have begun
        StampCase{"wl,counts\n700,1\n# time: 2026-03-01T10:15:30Z\n", std::nullopt},
        StampCase{"# time: yesterday\n700,1\n", std::nullopt},
        StampCase{"# Date: Sun Mar 01 10:15:30 CET 2026\n700,1\n", std::nullopt},
        StampCase{"# time: 1900-01-01T00:00:00+23:59\n", -2208988800.0 - 86340},
        StampCase{"# time: 2100-12-31T23:59:60.999999999Z\n", 4133980800.999999999},
        // a header of any length, one character after the other
        StampCase{std::string(60000, '#') + "\n# time: 2026-03-01T10:15:30Z\n", 1772360130},
        StampCase{"# runtime: 2026-03-01T10:15:30Z\n700,1\n", std::nullopt}));

struct BadStampCase {
  const char* value;
  const char* reason;
};

class BadHeaderTimeStamps : public ::testing::TestWithParam<BadStampCase> {};

// A value that starts as a date but names no time of the years taken is an
// error naming it and its line, never an empty x nor an overflow.
TEST_P(BadHeaderTimeStamps, AreRefusedNamingTheLine) {
  const BadStampCase& c = GetParam();
  const std::string header = std::string("# run 5\n# time: ") + c.value + "\n700,1\n";
  try {
    HeaderTimeStamp(header, "r.csv");
    ADD_FAILURE() << "accepted";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              std::string("The time stamp \"") + c.value + "\" in line 2 of r.csv " + c.reason + ".");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, BadHeaderTimeStamps,
    ::testing::Values(
        BadStampCase{"1700-01-01T00:00:00Z", "lies outside the years 1900 to 2100"},
        BadStampCase{"9999-12-31T23:59:59Z", "lies outside the years 1900 to 2100"},
        BadStampCase{"2026-02-30T10:15:30Z", "names no day of the calendar"},
        BadStampCase{"2026-13-01T10:15:30Z", "names no day of the calendar"},
        BadStampCase{"2026-03-01T24:00:00Z", "names no time of day"},
        BadStampCase{"2026-03-01T10:60:00Z", "names no time of day"},
        BadStampCase{"2026-03-01", "is no date and time such as 2026-03-01T10:15:30Z"},
        BadStampCase{"2026-03-01T10:15", "is no date and time such as 2026-03-01T10:15:30Z"},
        BadStampCase{"2026-03-01T10:15:30 CET", "is no date and time such as 2026-03-01T10:15:30Z"},
        BadStampCase{"2026-03-01T10:15:30+99:99", "has no valid offset from UTC"},
        BadStampCase{"2026-03-01T10:15:30-24:00", "has no valid offset from UTC"}));

TEST(SeriesX, TimeStampsGiveSecondsSinceTheEarliestAndNoneWhereMissing) {
  std::vector<SeriesRow> rows(3);
  rows[0].timeStamp = SeriesTime(100'500'000'000);
  rows[2].timeStamp = SeriesTime(100'250'000'000);
  EXPECT_EQ(PlaceSeriesX(rows, SeriesAxis::Auto, nullptr), SeriesAxis::TimeStamp);
  EXPECT_EQ(rows[0].x, 0.25);
  EXPECT_TRUE(std::isnan(rows[1].x));
  EXPECT_EQ(rows[2].x, 0);
  // A pattern wins over the time stamps; without either the order counts.
  const SeriesPattern pattern(R"((\d+))");
  rows[0].file = "a7.csv";
  EXPECT_EQ(PlaceSeriesX(rows, SeriesAxis::Auto, &pattern), SeriesAxis::Pattern);
  EXPECT_EQ(rows[0].x, 7);
  EXPECT_TRUE(std::isnan(rows[1].x));
  std::vector<SeriesRow> plain(2);
  EXPECT_EQ(PlaceSeriesX(plain, SeriesAxis::Auto, nullptr), SeriesAxis::FileOrder);
  EXPECT_EQ(plain[1].x, 2);
  EXPECT_THROW(PlaceSeriesX(plain, SeriesAxis::Pattern, nullptr), Error);
}

TEST(SeriesCsvText, QuotesTextsLeavesMissingNumbersEmptyAndEndsLinesWithCrLf) {
  SeriesRow good;
  good.file = "a,b.txt";
  good.x = 2;
  good.n1 = 2.0123456789012345e15;
  good.n1Uncertainty = 1e13;
  good.second = std::nan("");
  good.sum = 0.1;
  good.stop = "OK";
  const SeriesRow bad = FailedSeriesRow("c.txt", "Wavelength \"x\", stopped");
  const std::string text = SeriesCsv({good, bad});
  EXPECT_EQ(text,
            "file,x,n1,u_n1,second,sum,stop\r\n"
            "\"a,b.txt\",2,2012345678901234.5,1e+13,,0.1,OK\r\n"
            "c.txt,,,,,,\"Wavelength \"\"x\"\", stopped\"\r\n");
  // The numbers read back exactly.
  EXPECT_EQ(std::stod(SeriesNumberText(good.n1)), good.n1);

  TempFolder folder;
  const std::string path = folder.path() + "/series.csv";
  SaveSeriesCsv(path, {good, bad});
  EXPECT_EQ(ReadFile(path), text);
}

}  // namespace
}  // namespace lumora::test
