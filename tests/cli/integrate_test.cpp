// lumora-cli integrate, and fit and map with --spectrum, on synthetic
// spectra of the bundled argon lines.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/numparse.h"
#include "tests/support/cli_runner.h"
#include "tests/support/synthetic_recording.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";

using CliResult = testing::CliRun;
using testing::SplitBlanks;
using testing::TextLines;

using testing::Split;

// A settings file for the bundled database and a spectrum made from the
// sample argon_n2e15.txt (a fit gives n_1 = 2E15 from it).
class IntegrateCli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("lumora.ini",
               "[_Files]\nDatabase=" + kData +
                   "database\n[_Parameters]\nDefaultAtom=0\n"
                   "[Argon]\nLevels=Ar_I_levels.txt\nLines=Ar, I\nBoltzmax=4\nm=39.948\n");
    testing::SyntheticSpectrum s;
    dir_.Write("s.csv",
               testing::MakeSpectrum(
                   testing::ReadMeasurementAreas(kData + "measurements/argon_n2e15.txt"), s)
                   .text);
  }

  CliResult Run(const std::string& args) {
    return testing::RunCli(dir_.path(), "--ini lumora.ini " + args, "TMPDIR='" + dir_.path() + "'");
  }

  // n_1 of the fit's results line.
  static double FittedDensity(const CliResult& r) {
    const std::vector<std::string> lines = TextLines(r.out);
    EXPECT_EQ(lines.size(), 2u) << r.out << r.err;
    if (lines.size() < 2) return 0;
    return StrToFloat(SplitBlanks(lines[1]).at(2));
  }

  testing::TempFolder dir_;
};

TEST_F(IntegrateCli, TheMeasurementFitsBackToTheDensity) {
  const CliResult integrate = Run("integrate s.csv");
  ASSERT_EQ(integrate.status, 0) << integrate.err;
  const std::vector<std::string> lines = TextLines(integrate.out);
  ASSERT_GE(lines.size(), 15u);
  double previous = 0;
  for (const std::string& line : lines) {
    const std::vector<std::string> cells = Split(line, '\t');
    ASSERT_EQ(cells.size(), 2u) << line;
    EXPECT_NE(cells[0], "772.3761");
    EXPECT_NE(cells[0], "772.4207");
    EXPECT_GT(StrToFloat(cells[0]), previous);
    previous = StrToFloat(cells[0]);
  }
  EXPECT_NE(integrate.err.find("FWHM"), std::string::npos) << integrate.err;

  dir_.Write("m.txt", integrate.out);
  const CliResult table = Run("table m.txt");
  EXPECT_EQ(table.status, 0);
  EXPECT_EQ(table.err, "");
  EXPECT_NEAR(FittedDensity(Run("fit m.txt")) / 2e15, 1, 0.02);
  // The same in one step.
  EXPECT_NEAR(FittedDensity(Run("fit --spectrum s.csv")) / 2e15, 1, 0.02);
}

// A recording of noise alone shows no shift, and the summary says so; the
// sample's shift, put in, is found.
TEST_F(IntegrateCli, TheSummarySaysWhenNoShiftWasFound) {
  std::string noise = "wavelength,counts\n";
  std::mt19937_64 random(3);
  std::poisson_distribution<int> counts(500);
  for (int i = 0; i <= 6500; ++i)
    noise += std::to_string(660 + 0.05 * i) + "," + std::to_string(counts(random)) + "\n";
  dir_.Write("noise.csv", noise);
  const CliResult r = Run("integrate --fwhm 0.3 noise.csv");
  EXPECT_NE(r.err.find("noise.csv: FWHM 0.3000 nm, shift 0.0000 nm (no shift found), "),
            std::string::npos)
      << r.err;
  testing::SyntheticSpectrum shifted;
  shifted.offset = 0.1;
  dir_.Write("shifted.csv",
             testing::MakeSpectrum(
                 testing::ReadMeasurementAreas(kData + "measurements/argon_n2e15.txt"), shifted)
                 .text);
  const CliResult found = Run("integrate shifted.csv");
  EXPECT_EQ(found.err.find("no shift found"), std::string::npos) << found.err;
  EXPECT_NE(found.err.find(", shift 0.1"), std::string::npos) << found.err;
}

TEST_F(IntegrateCli, ReportWritesEveryLineWithItsFlags) {
  const CliResult r = Run("integrate --fwhm 0.3 --window 2 --min-snr 5 --report report.tsv s.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> rows = testing::SplitCrLf(dir_.Read("report.tsv"));
  ASSERT_EQ(rows.size(), 28u);
  EXPECT_EQ(rows[0],
            "Wavelength (nm)\tWindow from (nm)\tWindow to (nm)\tNet area\tPeak\tBaseline\tS/N\t"
            "Shift applied (nm)\tFlags");
  size_t unflagged = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    const std::vector<std::string> cells = Split(rows[i], '\t');
    ASSERT_EQ(cells.size(), 9u) << rows[i];
    if (cells[0] == "772.3761" || cells[0] == "772.4207") {
      EXPECT_EQ(cells[8], "blend");
    }
    unflagged += cells[8].empty();
  }
  EXPECT_EQ(TextLines(r.out).size(), unflagged);
}

TEST_F(IntegrateCli, AVendorExportsHeaderGivesTheExposureAndTheSeriesTime) {
  const std::string spectrum = dir_.Read("s.csv");
  for (const char* second : {"30", "32"})
    dir_.Write(std::string("v") + second + ".txt",
               std::string("SpectraSuite Data File\nDate: Mon Mar 01 10:15:") + second +
                   " CET 2026\nIntegration Time (usec): 100000 (USB2E1234)\n"
                   "Spectra Averaged: 10 (USB2E1234)\n>>>>>Begin Processed Spectral Data<<<<<\n" +
                   spectrum + ">>>>>End Processed Spectral Data<<<<<\n");
  const CliResult r = Run("integrate v30.txt");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("v30.txt: integration time 0.1 s, 10 spectra averaged, taken "
                       "2026-03-01T09:15:30Z\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, Run("integrate s.csv").out);
  ASSERT_EQ(Run("fit --spectrum --series t.csv v32.txt v30.txt").status, 0);
  const std::vector<std::string> rows = testing::SplitCrLf(dir_.Read("t.csv"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1].rfind("v32.txt,2,", 0), 0u) << rows[1];
  EXPECT_EQ(rows[2].rfind("v30.txt,0,", 0), 0u) << rows[2];
}

TEST_F(IntegrateCli, MapTakesSpectraToo) {
  const CliResult r =
      Run("map --spectrum --fwhm 0.3 --density-points 5 --temperature-points 4 s.csv");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(TextLines(r.out).size(), 2u) << r.out;
}

struct UsageCase {
  const char* args;
  const char* error;  // the start of standard error
};

TEST_F(IntegrateCli, BadInputEndsWithAMessage) {
  dir_.Write("blue.csv", "400,1\n401,1\n402,1\n403,1\n404,1\n405,1\n406,1\n407,1\n408,1\n409,1\n");
  const UsageCase cases[] = {
      {"integrate", "lumora-cli: integrate takes one spectrum file"},
      {"integrate --fwhm x s.csv", "--fwhm: 'x' is not a valid floating point value"},
      {"integrate --min-snr nan s.csv", "--min-snr: 'nan' is not a valid floating point value"},
      {"integrate --fwhm -1 s.csv", "The FWHM must be greater than 0 nm, not -1."},
      {"integrate --response missing.txt s.csv", "Cannot open file"},
      {"integrate blue.csv", "blue.csv (400 to 409 nm) holds no line of the line base."},
      {"integrate --min-snr 1e9 s.csv", "s.csv: FWHM"},
      {"fit --fwhm 0.3 s.csv", "lumora-cli: unknown option --fwhm"},
  };
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(c.args);
    const CliResult r = Run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind(c.error, 0), 0u) << r.err;
  }
  // Every line weak: nothing to measure is a failure, not an empty success.
  EXPECT_NE(Run("integrate --min-snr 1e9 s.csv").err.find("every line is flagged"),
            std::string::npos);
}

}  // namespace
}  // namespace lumora
