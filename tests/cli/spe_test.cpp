// lumora-cli on SPE camera files: a pulse of frames integrated and fitted
// frame by frame as their text exports would be, the frames' times as the
// series' x, and damaged files refused before anything is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/numparse.h"
#include "tests/support/cli_runner.h"
#include "tests/support/spe_pulse.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

constexpr size_t kFrames = 50;
constexpr int64_t kTicksApart = testing::kPulseTicksApart;

testing::SpeContent Pulse(bool version3) { return testing::SpePulse(version3, kFrames); }
using testing::SpeFrameText;

using testing::Split;

// A series table's rows: (x, n1) after the quoted file name.
struct SeriesPoint {
  double x = 0, n1 = 0;
};
std::vector<SeriesPoint> SeriesPoints(const std::vector<std::string>& rows) {
  std::vector<SeriesPoint> points;
  for (size_t k = 1; k < rows.size(); ++k) {
    std::string row = rows[k];
    if (row.front() == '"') row = row.substr(row.find('"', 1) + 1);
    else row = row.substr(row.find(','));
    const std::vector<std::string> cells = Split(row, ',');
    points.push_back({StrToFloat(cells.at(1)), StrToFloat(cells.at(2))});
  }
  return points;
}

class SpeCli : public ::testing::Test {
 protected:
  void SetUp() override { dir_.Write("lumora.ini", testing::ArgonCliSettings()); }
  testing::CliRun Run(const std::string& args) {
    return testing::RunCli(dir_.path(), "--ini lumora.ini " + args, "TMPDIR='" + dir_.path() + "'");
  }
  testing::TempFolder dir_;
};

TEST_F(SpeCli, APulseFitsFrameByFrameAsItsTextExports) {
  const testing::SpeContent pulse = Pulse(true);
  testing::WriteFile(dir_.File("pulse.spe"), testing::SpeBytes(pulse));
  std::string exports;
  for (size_t k = 0; k < kFrames; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%02zu.csv", k + 1);
    dir_.Write(name, SpeFrameText(pulse, k));
    exports += std::string(" ") + name;
  }
  const testing::CliRun spe = Run("fit --spectrum --series spe.csv pulse.spe");
  ASSERT_EQ(spe.status, 0) << spe.err;
  const testing::CliRun text = Run("fit --spectrum --series text.csv" + exports);
  ASSERT_EQ(text.status, 0) << text.err;

  const std::vector<std::string> rows = testing::SplitCrLf(dir_.Read("spe.csv"));
  ASSERT_EQ(rows.size(), kFrames + 1);
  EXPECT_EQ(rows[0], "file,x (us),n1,u_n1,second,sum,stop");
  EXPECT_EQ(rows[3].rfind("\"pulse.spe, frame 3\",20,", 0), 0u) << rows[3];
  const std::vector<SeriesPoint> frames = SeriesPoints(rows);
  const std::vector<SeriesPoint> files = SeriesPoints(testing::SplitCrLf(dir_.Read("text.csv")));
  ASSERT_EQ(files.size(), kFrames);
  for (size_t k = 0; k < kFrames; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(frames[k].x, static_cast<double>(k * kTicksApart));
    EXPECT_NEAR(frames[k].n1 / files[k].n1, 1, 1e-9);
  }
  // n_1 rises with the discharge and falls after it.
  const auto peak = std::max_element(frames.begin(), frames.end(),
                                     [](auto& a, auto& b) { return a.n1 < b.n1; });
  EXPECT_GT(peak->n1, 5 * frames.front().n1);
  EXPECT_GT(peak->n1, 3 * frames.back().n1);
  // The results lines name each frame.
  EXPECT_NE(spe.out.find("pulse.spe, frame 50"), std::string::npos);
}

TEST_F(SpeCli, TheSameFramesAsSpe2GiveTheSameAreas) {
  testing::WriteFile(dir_.File("v3.spe"), testing::SpeBytes(Pulse(true)));
  testing::WriteFile(dir_.File("v2.spe"), testing::SpeBytes(Pulse(false)));
  const testing::CliRun v3 = Run("integrate v3.spe");
  const testing::CliRun v2 = Run("integrate v2.spe");
  ASSERT_EQ(v3.status, 0) << v3.err;
  ASSERT_EQ(v2.status, 0) << v2.err;
  const std::vector<std::string> a = testing::TextLines(v3.out), b = testing::TextLines(v2.out);
  ASSERT_EQ(a.size(), b.size());
  size_t frames = 0;
  for (size_t k = 0; k < a.size(); ++k) {
    if (a[k].rfind("# ", 0) == 0) {
      EXPECT_EQ(a[k], "# v3.spe, frame " + std::to_string(++frames));
      EXPECT_EQ(b[k], "# v2.spe, frame " + std::to_string(frames));
      continue;
    }
    const std::vector<std::string> x = Split(a[k], '\t'), y = Split(b[k], '\t');
    ASSERT_EQ(x.size(), 2u) << a[k];
    EXPECT_EQ(x[0], y.at(0));
    EXPECT_NEAR(StrToFloat(x[1]) / StrToFloat(y.at(1)), 1, 1e-9);
  }
  EXPECT_EQ(frames, kFrames);
  // Without times the series' x is the frame number.
  ASSERT_EQ(Run("fit --spectrum --series v2.csv --frame 7 v2.spe").status, 0);
  const std::vector<std::string> rows = testing::SplitCrLf(dir_.Read("v2.csv"));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], "file,x,n1,u_n1,second,sum,stop");
  EXPECT_EQ(rows[1].rfind("\"v2.spe, frame 7\",7,", 0), 0u) << rows[1];
}

TEST_F(SpeCli, OneFrameIsItsTextExportsMeasurement) {
  const testing::SpeContent pulse = Pulse(true);
  testing::WriteFile(dir_.File("pulse.spe"), testing::SpeBytes(pulse));
  dir_.Write("frame.csv", SpeFrameText(pulse, 19));
  const testing::CliRun frame = Run("integrate --frame 20 --report r.tsv pulse.spe");
  ASSERT_EQ(frame.status, 0) << frame.err;
  EXPECT_EQ(frame.out, Run("integrate frame.csv").out);
  EXPECT_EQ(frame.err.rfind("pulse.spe, frame 20: FWHM", 0), 0u) << frame.err;
  EXPECT_FALSE(dir_.Read("r.tsv").empty());
}

TEST_F(SpeCli, RefusesDamagedFilesAndImpossibleChoicesWritingNothing) {
  std::string good = testing::SpeBytes(Pulse(true));
  std::string badType = good;
  testing::Put(badType, 108, int16_t{4});
  std::string notXml = good;
  notXml.replace(notXml.find("<DataFormat>"), 12, "<DataFormat");
  std::string footerPastEnd = good;
  testing::Put(footerPastEnd, 678, uint64_t{1} << 33);
  struct Case {
    const char* name;
    std::string bytes;
    const char* args;
    std::string error;
  };
  const Case cases[] = {
      {"truncated", good.substr(0, good.size() / 2), "", "bad.spe: the XML footer's offset"},
      {"footer not XML", notXml, "", "bad.spe: the XML footer at byte"},
      {"footer past the end", footerPastEnd, "", "bad.spe: the XML footer's offset 8589934592"},
      {"2.x data type", [] {
         std::string v2 = testing::SpeBytes(Pulse(false));
         testing::Put(v2, 108, int16_t{4});
         return v2;
       }(), "", "bad.spe: data type code 4"},
      {"no such frame", good, "--frame 51", "bad.spe holds 50 frames; there is no frame 51"},
      {"no such region", good, "--roi 2", "bad.spe holds 1 region of interest; there is no region 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::WriteFile(dir_.File("bad.spe"), c.bytes);
    for (const std::string& command :
         {std::string("integrate --report r.tsv ") + c.args, std::string("fit --spectrum --series s.csv ") + c.args}) {
      SCOPED_TRACE(command);
      const testing::CliRun r = Run(command + " bad.spe");
      EXPECT_EQ(r.status, 1);
      EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
      EXPECT_FALSE(std::filesystem::exists(dir_.File("s.csv")));
      EXPECT_FALSE(std::filesystem::exists(dir_.File("r.tsv")));
    }
  }
  // A report is one spectrum's.
  testing::WriteFile(dir_.File("pulse.spe"), good);
  const testing::CliRun r = Run("integrate --report r.tsv pulse.spe");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("choose one with --frame K"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace lumora
