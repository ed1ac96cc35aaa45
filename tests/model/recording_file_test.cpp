// Reading recorded spectra: what is taken, what is skipped, and every
// refusal naming the file and the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "model/recording_file.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

// Ten ascending points 500.0 .. 500.9 nm with intensities 0 .. 9, joined by sep.
std::string TenPoints(const std::string& sep = "\t", const std::string& end = "\n") {
  std::string text;
  for (int i = 0; i < 10; ++i) text += "500." + std::to_string(i) + sep + std::to_string(i) + end;
  return text;
}

struct ReadCase {
  const char* name;
  std::string text;
};

TEST(SpectrumFile, ReadsTheLayoutsSpectrometersWrite) {
  const ReadCase cases[] = {
      {"tabs", TenPoints()},
      {"blanks", TenPoints("   ")},
      {"commas", TenPoints(",")},
      {"semicolons with CR LF", TenPoints(";", "\r\n")},
      {"preamble and header",
       "Spectrometer XY-100\nIntegration time (ms): 100\n\nnm;counts\n" + TenPoints(";")},
      {"further columns",
       [] {
         std::string t;
         for (int i = 0; i < 10; ++i)
           t += "500." + std::to_string(i) + "," + std::to_string(i) + ",7,x\n";
         return t;
       }()},
      {"trailer after the data", TenPoints() + "\n>>>>>End Processed Spectral Data<<<<<\n"},
      {"descending",
       [] {
         std::string t;
         for (int i = 9; i >= 0; --i)
           t += "500." + std::to_string(i) + "\t" + std::to_string(i) + "\n";
         return t;
       }()},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Spectrum s = ParseSpectrum(c.text, "s.txt");
    ASSERT_EQ(s.size(), 10u);
    for (size_t i = 0; i < 10; ++i) {
      EXPECT_DOUBLE_EQ(s.wavelength[i], 500.0 + 0.1 * static_cast<double>(i));
      EXPECT_EQ(s.intensity[i], static_cast<double>(i));
    }
  }
}

// Spectrometer software in many locales writes decimal commas; with a tab,
// semicolon or blank between the columns they are read as such.
TEST(SpectrumFile, DecimalCommasReadAsDecimalPoints) {
  for (const std::string sep : {"\t", ";", "  "}) {
    SCOPED_TRACE("separator '" + sep + "'");
    std::string points = "wavelength" + sep + "counts\n", commas = points;
    for (int i = 0; i < 10; ++i) {
      const std::string row =
          "660." + std::to_string(i) + "5" + sep + "0." + std::to_string(400 + i) + sep + "1.5e2\n";
      points += row;
      std::string comma = row;
      std::replace(comma.begin(), comma.end(), '.', ',');
      commas += comma;
    }
    const Spectrum a = ParseSpectrum(points, "p.txt"), b = ParseSpectrum(commas, "c.txt");
    EXPECT_EQ(a.wavelength, b.wavelength);
    EXPECT_EQ(a.intensity, b.intensity);
    EXPECT_EQ(b.intensity[1], 0.401);
  }
  // On a grid of whole nanometres only the intensities carry a comma.
  std::string whole;
  for (int i = 0; i < 10; ++i)
    whole += std::to_string(660 + i) + "\t0,4" + std::to_string(i) + "\n";
  EXPECT_EQ(ParseSpectrum(whole, "w.txt").intensity[1], 0.41);
}

struct RefusalCase {
  const char* name;
  std::string text;
  std::string message;
};

TEST(SpectrumFile, RefusesWhatIsNotASpectrum) {
  std::string repeated = TenPoints();
  repeated.replace(repeated.find("500.5\t5"), 7, "500.4\t5");
  std::string unordered = TenPoints();
  unordered.replace(unordered.find("500.5\t5"), 7, "500.0\t5");
  std::string nan = TenPoints();
  nan.replace(nan.find("500.3\t3"), 7, "500.3\tnan");
  std::string infinite = TenPoints();
  infinite.replace(infinite.find("500.2\t2"), 7, "500.2\t-inf");
  std::string huge = TenPoints();
  huge.replace(huge.find("500.7\t7"), 7, "1e999\t7");
  std::string halfRow = TenPoints();
  halfRow.replace(halfRow.find("500.6\t6"), 7, "500.6");
  std::string gap = TenPoints() + "501.0\t10\n501.1\t11\n501.2\t12\n";
  gap.erase(gap.find("500.4\t4"), std::string("500.4\t4\n500.5\t5\n500.6\t6\n").size());
  std::string close = TenPoints();
  close.replace(close.find("500.3\t3"), 7, "500.21\t3");
  std::string withNul = TenPoints();
  withNul.replace(withNul.find("500.3\t3"), 7, std::string("500.3\t3\0 00", 11));
  std::string mixed = TenPoints();
  for (char& c : mixed)
    if (c == '.') c = ',';
  mixed.replace(mixed.find("500,6\t6"), 7, "500.6\t6");
  const RefusalCase cases[] = {
      {"a NUL byte", withNul, "s.txt, line 4: a NUL byte; the file is damaged"},
      {"decimal points among decimal commas", mixed,
       "s.txt, line 7: \"500.6\" has a decimal point where other lines have decimal commas; use "
       "one decimal separator throughout"},
      {"a stray row before the data", "0\t0\n" + TenPoints(),
       "s.txt, line 1: wavelength 0 lies 500 nm from its neighbour, more than three times the "
       "median step of 0.1 nm"},
      {"a stray row after the data", TenPoints() + "2000\t0\n",
       "s.txt, line 11: wavelength 2000 lies 1499.1 nm from its neighbour, more than three times"},
      {"a stray row before descending data",
       "100\t0\n" +
           [] {
             std::string t;
             for (int i = 9; i >= 0; --i)
               t += "500." + std::to_string(i) + "\t" + std::to_string(i) + "\n";
             return t;
           }(),
       "s.txt, line 1: wavelength 100 breaks the descending order"},
      {"three rows missing", gap, "s.txt, line 5: wavelength 500.7 lies 0.4 nm from its neighbour"},
      {"two rows too close", close,
       "s.txt, line 4: wavelength 500.21 lies 0.01 nm from its neighbour, less than a third of "
       "the median step of 0.1 nm"},
      {"empty", "", "s.txt: no rows of two numbers (wavelength in nm, intensity)"},
      {"only text", "wavelength intensity\nnone here\n", "s.txt: no rows of two numbers"},
      {"nine points", TenPoints().substr(TenPoints().find('\n') + 1),
       "s.txt: 9 points; at least 10 are needed"},
      {"repeated wavelength", repeated,
       "s.txt, line 6: wavelength 500.4 repeats the one before it; the wavelength axis must be "
       "strictly monotonic"},
      {"turning back", unordered, "s.txt, line 6: wavelength 500 breaks the ascending order"},
      {"nan", nan, "s.txt, line 4: \"nan\" is not a finite number"},
      {"infinity", infinite, "s.txt, line 3: \"-inf\" is not a finite number"},
      {"too large", huge, "s.txt, line 8: \"1e999\" is not a finite number"},
      {"a wavelength alone", halfRow, "s.txt, line 7: a wavelength without an intensity"},
      {"numbers after a trailer", TenPoints() + "end of data\n501.0\t10\n",
       "s.txt, line 12: numbers after the end of the data at line 11"},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ParseSpectrum(c.text, "s.txt");
      ADD_FAILURE() << "read";
    } catch (const SpectrumFileError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
}

TEST(SpectrumFile, AResponseCurveMayBeTabulatedAtAnySpacing) {
  const Spectrum s = ParseSpectrum("400 1\n410 1\n900 2\n", "response.txt", SpectrumKind::Curve);
  EXPECT_EQ(s.size(), 3u);
}

TEST(SpectrumFile, AResponseCurveMayHaveTwoPoints) {
  const Spectrum s = ParseSpectrum("400 1\n900 2\n", "response.txt", SpectrumKind::Curve);
  EXPECT_EQ(s.size(), 2u);
  EXPECT_DOUBLE_EQ(InterpolateAt(s.wavelength, s.intensity, 650), 1.5);
}

TEST(SpectrumFile, AMissingFileIsAnInputOutputError) {
  testing::TempFolder dir;
  EXPECT_THROW(ReadSpectrumFile(dir / "missing.csv"), InOutError);
  EXPECT_THROW(ReadSpectrumFile(dir.path()), InOutError);
  EXPECT_EQ(ReadSpectrumFile(dir.Write("s.csv", TenPoints(","))).source, dir / "s.csv");
}

}  // namespace
}  // namespace lumora

namespace lumora {
namespace {

// Seconds since the Unix epoch of a UTC date and time.
std::chrono::nanoseconds Utc(int y, unsigned mo, unsigned d, int h, int mi, int s) {
  using namespace std::chrono;
  return sys_days(year_month_day{year(y), month(mo), day(d)}).time_since_epoch() + hours(h) +
         minutes(mi) + seconds(s);
}

TEST(RecordingHeader, ReadsWhatSpectrometerProgramsWriteAboveTheColumns) {
  struct Case {
    const char* name;
    std::string header;
    std::optional<double> seconds;
    std::optional<long long> averages;
    std::optional<std::chrono::nanoseconds> taken;
    std::string unit;
  };
  const Case cases[] = {
      {"a fibre spectrometer's data file",
       "SpectraSuite Data File\n++++++++++++++++++++++++++++++++++++\n"
       "Date: Mon Mar 01 10:15:30 CET 2026\nUser: lab\nDark Spectrum Present: No\n"
       "Integration Time (usec): 100000 (USB2E1234)\nSpectra Averaged: 10 (USB2E1234)\n"
       "Boxcar Smoothing: 0 (USB2E1234)\n>>>>>Begin Processed Spectral Data<<<<<\n",
       0.1, 10, Utc(2026, 3, 1, 9, 15, 30), ""},
      {"seconds in the key, an American zone",
       "Date: Sun Feb 28 22:00:05 EST 2026\nIntegration Time (sec): 1.000000E-1\n"
       "Scans to average: 3\n",
       0.1, 3, Utc(2026, 3, 1, 3, 0, 5), ""},
      {"brackets and semicolons",
       "Integration time [ms]: 20.000\nAveraging Nr. [scans]: 1\nWave   ;Sample   ;Dark\n"
       "[nm]   ;[counts] ;[counts]\n",
       0.02, 1, std::nullopt, ""},
      {"date and time apart, day first",
       "#Date;01.03.2026\n#Time;10:15:30\n#Exposure time;5 ms\n#Units;counts\n", 0.005,
       std::nullopt, Utc(2026, 3, 1, 10, 15, 30), "counts"},
      {"ISO with an offset", "date = 2026-03-01 12:00:00+02:00\n", std::nullopt, std::nullopt,
       Utc(2026, 3, 1, 10, 0, 0), ""},
      {"an unknown zone and a unit-less time are left out",
       "Date: Mon Mar 01 10:15:30 XYZ 2026\nIntegration time: 100\n", std::nullopt,
       std::nullopt, std::nullopt, ""},
      {"nothing after the data begin", "500.0\t1\nIntegration time [ms]: 20\n", std::nullopt,
       std::nullopt, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RecordingHeader header = ParseRecordingHeader(c.header);
    ASSERT_EQ(header.integrationSeconds.has_value(), c.seconds.has_value());
    if (c.seconds) {
      EXPECT_DOUBLE_EQ(*header.integrationSeconds, *c.seconds);
    }
    EXPECT_EQ(header.averages, c.averages);
    EXPECT_EQ(header.taken, c.taken);
    EXPECT_EQ(header.intensityUnit, c.unit);
  }
  // The data are read as before, and the spectrum keeps its header.
  const Spectrum s = ParseSpectrum(std::string(cases[0].header) + TenPoints() +
                                       ">>>>>End Processed Spectral Data<<<<<\n",
                                   "s.txt");
  EXPECT_EQ(s.size(), 10u);
  EXPECT_EQ(s.header.averages, 10);
}

}  // namespace
}  // namespace lumora
