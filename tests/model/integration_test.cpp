// From a recorded spectrum to line intensities through the session, on
// synthetic spectra of the bundled argon lines whose areas are those of the
// sample measurement argon_n2e15.txt.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/format.h"
#include "model/session.h"
#include "tests/support/synthetic_recording.h"
#include "tests/support/testfiles.h"

namespace lumora {
namespace {

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";

// A session on the bundled argon database, and synthetic spectra written
// into a folder of its own.
class SpectrumTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
    sample_ = testing::ReadMeasurementAreas(kData + "measurements/argon_n2e15.txt");
  }

  std::string Write(const std::string& name, const testing::SyntheticSpectrum& s) {
    made_ = testing::MakeSpectrum(sample_, s);
    return dir_.Write(name, made_.text);
  }

  const IntegrationResult& Read(const std::string& file, IntegrationOptions options = {}) {
    SpectrumRequest request;
    request.spectrumFile = file;
    request.options = options;
    return session_.ReadSpectrum(request);
  }

  double AreaPutIn(double wavelength) const {
    for (const testing::SyntheticLine& l : made_.lines)
      if (l.wavelength == wavelength) return l.area;
    ADD_FAILURE() << "no line at " << wavelength;
    return 0;
  }

  static const LineIntegral& Line(const IntegrationResult& r, double wavelength) {
    for (const LineIntegral& l : r.lines)
      if (l.line.WaveLength == wavelength) return l;
    throw std::runtime_error(Format("no line %s", FloatToStr(wavelength)));
  }

  // Every unflagged line within `tolerance` of the area put in.
  void ExpectAreasPutIn(const IntegrationResult& r, double tolerance, size_t atLeast) {
    size_t checked = 0;
    for (const LineIntegral& l : r.lines) {
      if (l.flags) continue;
      EXPECT_NEAR(l.area / AreaPutIn(l.line.WaveLength), 1, tolerance) << l.line.WaveLength;
      ++checked;
    }
    EXPECT_GE(checked, atLeast);
  }

  testing::TempFolder dir_;
  Session session_;
  std::vector<testing::SyntheticLine> sample_;
  testing::MadeSpectrum made_;
};

// The S/N is the area over its own standard deviation, so a line of S/N
// 200 scatters by 0.5 %: 1 % holds it to two standard deviations.
constexpr double kPreciseSnr = 200;

TEST_F(SpectrumTest, UnflaggedAreasAreThosePutIn) {
  IntegrationOptions options;
  options.minSnr = kPreciseSnr;
  const IntegrationResult& r = Read(Write("s.csv", {}), options);
  EXPECT_TRUE(r.fwhmEstimated);
  EXPECT_NEAR(r.fwhm, 0.3, 0.015);
  EXPECT_NEAR(r.shift, 0, 0.005);
  EXPECT_EQ(r.lines.size(), sample_.size());
  ExpectAreasPutIn(r, 0.01, 8);
  EXPECT_EQ(Line(r, 772.3761).flags, kFlagBlend);
  EXPECT_EQ(Line(r, 772.4207).flags, kFlagBlend);
  for (const LineIntegral& l : r.lines)
    EXPECT_EQ((l.flags & kFlagWeak) != 0, l.snr < kPreciseSnr) << l.line.WaveLength;
}

// A caller stops a long integration at any of its checkpoints (the
// window's Cancel, Ctrl+C in Python); the session keeps what it had.
TEST_F(SpectrumTest, ACheckpointThatThrowsStopsTheIntegration) {
  const std::string file = Write("s.csv", {});
  const size_t linesBefore = session_.Table().lines.size();
  int calls = 0;
  IntegrationOptions counting;
  counting.checkpoint = [&calls] { ++calls; };
  Read(file, counting);
  const int checkpoints = calls;
  ASSERT_GE(checkpoints, 3);
  session_.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
  for (int stopAt = 1; stopAt <= checkpoints; ++stopAt) {
    SCOPED_TRACE(stopAt);
    int reached = 0;
    IntegrationOptions stopping;
    stopping.checkpoint = [&reached, stopAt] {
      if (++reached == stopAt) throw std::runtime_error("stopped");
    };
    EXPECT_THROW(Read(file, stopping), std::runtime_error);
    EXPECT_EQ(reached, stopAt);
    EXPECT_EQ(session_.Table().lines.size(), linesBefore);
  }
}

TEST_F(SpectrumTest, TheWidthIsEstimatedAtAnySampling) {
  // Finely sampled, neighbouring points differ by less than their noise.
  for (const double step : {0.1, 0.05, 0.01, 0.004}) {
    SCOPED_TRACE(step);
    testing::SyntheticSpectrum s;
    s.step = step;
    const IntegrationResult& r = Read(Write("s.csv", s));
    EXPECT_NEAR(r.fwhm, 0.3, 0.015);
    EXPECT_NEAR(r.shift, 0, 0.005);
  }
}

TEST_F(SpectrumTest, NoiselessAreasHoldEvenBesideAStrongNeighbour) {
  // 800.6157 and 801.4786 nm are 2.9 FWHM apart: about 2 % of each line
  // lies in the other's window.
  testing::SyntheticSpectrum s;
  s.peakSnr = 0;
  IntegrationOptions options;
  options.fwhm = 0.3;
  const IntegrationResult& r = Read(Write("s.csv", s), options);
  ExpectAreasPutIn(r, 0.003, 24);
}

TEST_F(SpectrumTest, ASmoothlyUnevenGridIsIntegratedWithItsOwnSteps) {
  // Steps from 0.04 to 0.06 nm: an area taken with the mean step would be
  // up to 20 % off at the ends.
  testing::SyntheticSpectrum s;
  s.peakSnr = 0;
  s.stepRatio = 1.5;
  IntegrationOptions options;
  options.fwhm = 0.3;
  const IntegrationResult& r = Read(Write("uneven.csv", s), options);
  ExpectAreasPutIn(r, 0.003, 24);
}

// The sample spectrum less 450 counts, clipped at 0 as a background
// subtraction leaves it: beside the lines every point is 0, so the scatter
// there is 0 and only the data's step can stand for the noise.
TEST_F(SpectrumTest, AClippedSpectrumKeepsNoAbsentLine) {
  const Spectrum plain = ReadSpectrumFile(Write("s.csv", {}));
  std::string clipped = "wavelength,counts\n";
  for (size_t i = 0; i < plain.size(); ++i)
    clipped += Format("%.4f,%.6f\n", plain.wavelength[i], std::max(plain.intensity[i] - 450, 0.0));
  IntegrationOptions options;
  options.fwhm = 0.3;
  const IntegrationResult& r = Read(dir_.Write("clipped.csv", clipped), options);
  // A line is absent when its peak stays three standard deviations below
  // the subtracted level; one that rises well above it is kept.
  const double areaPerPeak = 0.3 / (2 * std::sqrt(2 * std::log(2.0))) * std::sqrt(2 * M_PI);
  size_t absent = 0, kept = 0;
  for (const LineIntegral& l : r.lines) {
    const double continuum = 400 - 150 * (l.center - 660) / 325;
    const double top = continuum + AreaPutIn(l.line.WaveLength) / areaPerPeak;
    if (top + 3 * std::sqrt(top) < 450) {
      EXPECT_NE(l.flags & kFlagWeak, 0u) << l.line.WaveLength << " area " << l.area;
      ++absent;
    } else if (top > 2000 && !(l.flags & kFlagBlend)) {
      EXPECT_EQ(l.flags, 0u) << l.line.WaveLength;
      ++kept;
    }
  }
  EXPECT_GE(absent, 1u);
  EXPECT_GE(kept, 15u);
  EXPECT_NE(NoiseNote(r), "");
  EXPECT_EQ(NoiseNote(Read(Write("s.csv", {}))), "");
}

// Upside down every line is a dip: a negative area is never a line.
TEST_F(SpectrumTest, ANegativeAreaIsWeak) {
  const Spectrum plain = ReadSpectrumFile(Write("s.csv", {}));
  std::string inverted = "wavelength,counts\n";
  for (size_t i = 0; i < plain.size(); ++i)
    inverted += Format("%.4f,%.6f\n", plain.wavelength[i], 100000 - plain.intensity[i]);
  IntegrationOptions options;
  options.fwhm = 0.3;
  options.minSnr = 0;
  size_t negative = 0;
  for (const LineIntegral& l : Read(dir_.Write("inverted.csv", inverted), options).lines) {
    if (l.area >= 0) continue;
    EXPECT_NE(l.flags & kFlagWeak, 0u) << l.line.WaveLength;
    ++negative;
  }
  EXPECT_GE(negative, 20u);
}

// A recording whose sign was flipped shows dips below a negative
// background: refused, where its dips were once taken for 21 lines.
TEST_F(SpectrumTest, ASignFlippedRecordingIsRefused) {
  const Spectrum plain = ReadSpectrumFile(Write("s.csv", {}));
  std::string flipped = "wavelength,counts\n";
  for (size_t i = 0; i < plain.size(); ++i)
    flipped += Format("%.4f,%.6f\n", plain.wavelength[i], -plain.intensity[i]);
  const std::string file = dir_.Write("flipped.csv", flipped);
  try {
    Read(file);
    ADD_FAILURE() << "integrated";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("holds dips below a negative background"),
              std::string::npos)
        << e.what();
  }
}

// Noise alone, a million points over the argon lines' range, as photon
// counts (Poisson, 500 a point) and as white noise: at S/N 3 the Gaussian
// tail leaves about one line in a thousand, so the 20 spectra's 540 line
// windows may keep one line at most. The shift search must not align the
// noise with the lines (it once kept 4 lines of the Poisson spectra).
struct NoiseCase {
  const char* name;
  std::function<double(std::mt19937_64&)> draw;
};

class PureNoise : public SpectrumTest, public ::testing::WithParamInterface<NoiseCase> {};

TEST_P(PureNoise, KeepsAtMostOneLineInTwentySpectra) {
  IntegrationInput input;
  for (int32_t i = 0; i < session_.Element().lineBase->AtomLength(); ++i)
    input.lines.push_back(session_.Element().lineBase->GetAtomRecord(i));
  constexpr size_t kPoints = 1000000;
  input.spectrum.source = "noise";
  input.spectrum.wavelength.resize(kPoints);
  input.spectrum.intensity.resize(kPoints);
  for (size_t i = 0; i < kPoints; ++i)
    input.spectrum.wavelength[i] = 660 + 325.0 * static_cast<double>(i) / (kPoints - 1);
  IntegrationOptions options;
  options.fwhm = 0.3;
  size_t kept = 0, windows = 0, shifted = 0;
  for (uint64_t seed = 1; seed <= 20; ++seed) {
    std::mt19937_64 random(seed);
    for (double& v : input.spectrum.intensity) v = GetParam().draw(random);
    const IntegrationResult r = IntegrateLines(input, options);
    windows += r.lines.size();
    shifted += r.shift != 0;
    for (const LineIntegral& l : r.lines) kept += l.flags == 0;
  }
  EXPECT_GE(windows, 500u);
  EXPECT_LE(kept, 1u);
  // At a level of 1e-4 the noise shows no shift.
  EXPECT_EQ(shifted, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Spectra, PureNoise,
    ::testing::Values(NoiseCase{"Poisson",
                                [](std::mt19937_64& random) {
                                  return static_cast<double>(
                                      std::poisson_distribution<int>(500)(random));
                                }},
                      NoiseCase{"Gaussian",
                                [](std::mt19937_64& random) {
                                  return std::normal_distribution<double>(1000, 10)(random);
                                }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SpectrumTest, AWavelengthOffsetIsFoundAndGivesTheSameAreas) {
  IntegrationOptions options;
  options.minSnr = kPreciseSnr;
  const std::vector<LineIntegral> plain = Read(Write("plain.csv", {}), options).lines;
  testing::SyntheticSpectrum shifted;
  shifted.offset = 0.12;
  const IntegrationResult& r = Read(Write("shifted.csv", shifted), options);
  EXPECT_NEAR(r.shift, 0.12, 0.005);
  ExpectAreasPutIn(r, 0.01, 8);
  ASSERT_EQ(r.lines.size(), plain.size());
  for (size_t i = 0; i < plain.size(); ++i) {
    EXPECT_EQ(r.lines[i].flags & kFlagBlend, plain[i].flags & kFlagBlend)
        << plain[i].line.WaveLength;
    EXPECT_NEAR(r.lines[i].center - plain[i].center, 0.12, 0.005);
  }
}

TEST_F(SpectrumTest, AnOffsetBeyondTheSearchIsNotFollowed) {
  testing::SyntheticSpectrum shifted;
  shifted.offset = 0.12;
  IntegrationOptions options;
  options.fwhm = 0.3;
  options.shiftMax = 0.05;
  EXPECT_LE(std::fabs(Read(Write("shifted.csv", shifted), options).shift), 0.05);
}

TEST_F(SpectrumTest, AClippedLineIsSaturated) {
  // 811.5311 nm is the strongest line; a ceiling at less than half its
  // peak flattens its top and no other line's.
  testing::SyntheticSpectrum clipped;
  clipped.clip = 40000;
  const IntegrationResult& r = Read(Write("clipped.csv", clipped));
  for (const LineIntegral& l : r.lines)
    EXPECT_EQ(l.line.WaveLength == 811.5311, (l.flags & kFlagSaturated) != 0) << l.line.WaveLength;

  // Below the ceiling it takes a level given by hand.
  IntegrationOptions options;
  options.saturation = 20000;
  const IntegrationResult& low = Read(dir_ / "clipped.csv", options);
  EXPECT_EQ(Line(low, 811.5311).flags & kFlagSaturated, kFlagSaturated);
  EXPECT_EQ(Line(low, 842.4648).flags & kFlagSaturated, kFlagSaturated);
}

TEST_F(SpectrumTest, LinesWhoseWindowLeavesTheSpectrumAreEdge) {
  testing::SyntheticSpectrum cut;
  cut.from = 696.3;
  cut.to = 811.6;
  const IntegrationResult& r = Read(Write("cut.csv", cut));
  EXPECT_EQ(Line(r, 696.5431).flags & kFlagEdge, kFlagEdge);
  EXPECT_EQ(Line(r, 811.5311).flags & kFlagEdge, kFlagEdge);
  EXPECT_EQ(Line(r, 706.7218).flags & kFlagEdge, 0u);
}

TEST_F(SpectrumTest, TheLinesAreThoseTheMeasurementWouldGive) {
  // A copy: reading the measurement below forgets the session's spectrum.
  const IntegrationResult r = Read(Write("s.csv", {}));
  const std::vector<std::string> measurement = session_.MeasurementLines();
  const std::string saved = dir_ / "lines.txt";
  session_.SaveMeasurementLines(saved);
  // The flagged lines stay in the table, excluded; the others are the
  // measurement's.
  std::vector<LineTableRow> fromSpectrum = session_.TableRows(false);
  ASSERT_EQ(fromSpectrum.size(), r.lines.size() + 1);
  for (size_t k = r.lines.size(); k-- > 0;) {
    EXPECT_EQ(session_.Table().lines[k].Excluded, r.lines[k].flags != 0);
    if (r.lines[k].flags) fromSpectrum.erase(fromSpectrum.begin() + 1 + k);
  }

  session_.ReadMeasurement(saved);
  EXPECT_EQ(session_.TableRows(false), fromSpectrum);
  EXPECT_FALSE(session_.Integration());
  size_t unflagged = 0;
  for (const LineIntegral& l : r.lines) unflagged += l.flags == 0;
  ASSERT_EQ(measurement.size(), unflagged);
  EXPECT_EQ(measurement.front().rfind(fromSpectrum[1][0] + "\t", 0), 0u) << measurement.front();
  EXPECT_EQ(testing::ReadFile(saved).find("\r\n"), measurement.front().size());
}

TEST_F(SpectrumTest, TheReportHasARowPerLine) {
  const IntegrationResult& r = Read(Write("s.csv", {}));
  const std::vector<IntegrationReportRow> rows = session_.IntegrationReportRows();
  ASSERT_EQ(rows.size(), r.lines.size() + 1);
  EXPECT_EQ(rows[0][0], "Wavelength (nm)");
  EXPECT_EQ(rows[0][8], "Flags");
  for (size_t i = 1; i < rows.size(); ++i) {
    if (rows[i][0] == "772.3761") {
      EXPECT_EQ(rows[i][8], "blend");
    }
  }
  const std::string path = dir_ / "report.tsv";
  Session::SaveIntegrationReport(path, rows);
  const std::vector<std::string> lines = testing::SplitCrLf(testing::ReadFile(path));
  ASSERT_EQ(lines.size(), rows.size());
  EXPECT_EQ(lines[0],
            "Wavelength (nm)\tWindow from (nm)\tWindow to (nm)\tNet area\tPeak\tBaseline\tS/N\t"
            "Shift applied (nm)\tFlags");
}

TEST_F(SpectrumTest, DarkAndResponseCorrectTheAreas) {
  testing::SyntheticSpectrum s;
  s.peakSnr = 0;
  const std::string file = Write("s.csv", s);
  // A dark spectrum of 100 counts everywhere on the same grid, added to the
  // spectrum, leaves the areas; a response of 2 halves them.
  std::string dark = "# dark\n", brighter = "# spectrum with dark\n";
  const Spectrum plain = ReadSpectrumFile(file);
  for (size_t i = 0; i < plain.size(); ++i) {
    dark += Format("%.4f,100\n", plain.wavelength[i]);
    brighter += Format("%.4f,%.6f\n", plain.wavelength[i], plain.intensity[i] + 100);
  }
  SpectrumRequest request;
  request.spectrumFile = dir_.Write("brighter.csv", brighter);
  request.darkFile = dir_.Write("dark.csv", dark);
  request.responseFile = dir_.Write("response.txt", "650 2\n1000 2\n");
  request.options.fwhm = 0.3;
  const IntegrationResult& r = session_.ReadSpectrum(request);
  for (const LineIntegral& l : r.lines) {
    if (!l.flags) {
      EXPECT_NEAR(2 * l.area / AreaPutIn(l.line.WaveLength), 1, 0.003) << l.line.WaveLength;
    }
  }
}

struct BadInputCase {
  const char* name;
  std::string dark;      // file text; empty: none
  std::string response;  // file text; empty: none
  std::string message;   // the start of the error, after the folder
};

TEST_F(SpectrumTest, CorrectionsThatDoNotFitAreRefused) {
  const std::string file = Write("s.csv", {});
  const Spectrum plain = ReadSpectrumFile(file);
  std::string shortDark, shiftedDark;
  for (size_t i = 0; i < plain.size(); ++i) {
    if (i + 1 < plain.size()) shortDark += Format("%.4f,1\n", plain.wavelength[i]);
    shiftedDark += Format("%.4f,1\n", plain.wavelength[i] + (i == 7 ? 0.01 : 0));
  }
  const BadInputCase cases[] = {
      {"dark with a point fewer", shortDark, "",
       "dark.csv: the dark spectrum has 6500 points, " + file +
           " has 6501; they must share one grid."},
      {"dark on another grid", shiftedDark, "",
       "dark.csv: point 8 of the dark spectrum is at 660.36 nm, in " + file + " at 660.35 nm"},
      {"response short of the red lines", "", "600 1\n900 1\n",
       "response.txt covers 600 to 900 nm and not the line 912.2967 nm."},
      {"response 0", "", "600 0\n1000 0\n",
       "response.txt: the response is 0 at the line 667.7282 nm; it must be greater than 0."},
      {"response below 0 at a line", "", "600 1\n750 1\n760 -1\n770 -1\n780 1\n1000 1\n",
       "response.txt: the response is -1 at the line 763.5106 nm"},
  };
  for (const BadInputCase& c : cases) {
    SCOPED_TRACE(c.name);
    SpectrumRequest request;
    request.spectrumFile = file;
    if (!c.dark.empty()) request.darkFile = dir_.Write("dark.csv", c.dark);
    if (!c.response.empty()) request.responseFile = dir_.Write("response.txt", c.response);
    try {
      session_.ReadSpectrum(request);
      ADD_FAILURE() << "integrated";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(dir_.path() + "/" + c.message, 0), 0u) << e.what();
    }
  }
}

// Counts near the largest double, or a response near the smallest, would
// print areas of INF or NAN; each is an error naming the line.
TEST_F(SpectrumTest, AnAreaBeyondDoublesIsAnError) {
  testing::SyntheticSpectrum s;
  s.peakSnr = 0;
  const Spectrum plain = ReadSpectrumFile(Write("s.csv", s));
  std::string huge;
  for (size_t i = 0; i < plain.size(); ++i)
    huge += Format("%.4f,%s\n", plain.wavelength[i], FloatToStr(plain.intensity[i] * 1e303));
  const std::pair<std::string, std::string> cases[] = {
      {dir_.Write("huge.csv", huge), ""},
      {dir_ / "s.csv", dir_.Write("response.txt", "650 1e-308\n1000 1e-308\n")},
  };
  for (const auto& [spectrum, response] : cases) {
    SCOPED_TRACE(spectrum);
    SpectrumRequest request;
    request.spectrumFile = spectrum;
    request.responseFile = response;
    request.options.fwhm = 0.3;
    try {
      session_.ReadSpectrum(request);
      ADD_FAILURE() << "integrated";
    } catch (const Error& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(spectrum + ": the area of the line ", 0), 0u) << what;
      EXPECT_NE(what.find(" nm is not a finite number"), std::string::npos) << what;
    }
  }
}

TEST_F(SpectrumTest, ARefusalLeavesTheLinesAsTheyWere) {
  session_.ReadMeasurement(kData + "measurements/argon_n2e15.txt");
  const std::vector<LineTableRow> before = session_.TableRows(false);
  testing::SyntheticSpectrum blue;
  blue.from = 400;
  blue.to = 600;
  EXPECT_THROW(
      {
        try {
          Read(Write("blue.csv", blue));
        } catch (const Error& e) {
          EXPECT_EQ(std::string(e.what()),
                    dir_ / "blue.csv" + " (400 to 600 nm) holds no line of the line base.");
          throw;
        }
      },
      Error);
  EXPECT_THROW(Read(dir_.Write("short.csv", "700 1\n701 2\n")), SpectrumFileError);
  EXPECT_EQ(session_.TableRows(false), before);
}

TEST_F(SpectrumTest, OptionsOutOfRangeAreRefused) {
  const std::string file = Write("s.csv", {});
  const std::pair<const char*, void (*)(IntegrationOptions&)> cases[] = {
      {"The FWHM must be greater than 0 nm, not 0.", [](IntegrationOptions& o) { o.fwhm = 0; }},
      {"The window must be greater than 0 FWHM, not -1.",
       [](IntegrationOptions& o) { o.windowFactor = -1; }},
      {"The largest shift must be 0 nm or more, not -0.1.",
       [](IntegrationOptions& o) { o.shiftMax = -0.1; }},
      {"The minimum S/N must be 0 or more, not -3.", [](IntegrationOptions& o) { o.minSnr = -3; }},
      {"The saturation level must be greater than 0, not 0.",
       [](IntegrationOptions& o) { o.saturation = 0; }},
  };
  for (const auto& [message, change] : cases) {
    IntegrationOptions options;
    change(options);
    try {
      Read(file, options);
      ADD_FAILURE() << message;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  }
}

struct GridOptionCase {
  const char* name;
  std::optional<double> fwhm;
  double window;
  double shiftMax;
  const char* message;
};

// The synthetic spectrum spans 660 to 985 nm in steps of 0.05 nm. A width
// given in metres, a window or shift search wider than the spectrum used to
// overflow, grow without bound or never end; each is refused at once with
// the range in nm.
TEST_F(SpectrumTest, OptionsAreMeasuredAgainstTheSpectrum) {
  const std::string file = Write("s.csv", {});
  const GridOptionCase cases[] = {
      {"FWHM in metres", 3e-10, 2, 0.2,
       "The FWHM must lie between 0.1 and 81.25 nm (two sampling steps and a quarter of the "
       "spectrum's span), not 3E-10 nm."},
      {"FWHM of the smallest double", 5e-324, 0.5, 0.2,
       "The FWHM must lie between 0.1 and 81.25 nm"},
      {"FWHM of one step", 0.05, 2, 0.2, "The FWHM must lie between 0.1 and 81.25 nm"},
      {"FWHM of half the spectrum", 162.5, 2, 0.2, "The FWHM must lie between 0.1 and 81.25 nm"},
      {"window inside one step", 0.3, 1e-6, 0.2,
       "The window must lie between 0.166667 and 541.667 FWHM, a half width of 0.05 to 162.5 nm "
       "with a FWHM of 0.3 nm, not 1E-6 FWHM."},
      {"window wider than the spectrum", 0.3, 600, 0.2,
       "The window must lie between 0.166667 and 541.667 FWHM"},
      {"window too wide for any FWHM", std::nullopt, 1e6, 0.2,
       "The window must lie between 0.5 and 1625 FWHM"},
      {"shift search beyond the spectrum", 0.3, 2, 1e6,
       "The largest shift must lie between 0 and 325 nm (the spectrum's span), not 1000000 nm."},
  };
  for (const GridOptionCase& c : cases) {
    SCOPED_TRACE(c.name);
    IntegrationOptions options;
    options.fwhm = c.fwhm;
    options.windowFactor = c.window;
    options.shiftMax = c.shiftMax;
    try {
      Read(file, options);
      ADD_FAILURE() << "integrated";
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
  // The limits themselves are taken.
  IntegrationOptions edge;
  edge.fwhm = 0.1;
  edge.shiftMax = 325;
  EXPECT_FALSE(Read(file, edge).lines.empty());
}

TEST_F(SpectrumTest, AWidthNeedsAnIsolatedUnsaturatedLine) {
  // Only the 772 nm pair, a blend, lies in this spectrum.
  testing::SyntheticSpectrum pair;
  pair.from = 770;
  pair.to = 775;
  const std::string file = Write("pair.csv", pair);
  try {
    Read(file);
    ADD_FAILURE() << "integrated";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()),
              file + ": no isolated unsaturated line to estimate the FWHM from; give the FWHM.");
  }
  IntegrationOptions options;
  options.fwhm = 0.3;
  EXPECT_EQ(Read(file, options).lines.size(), 2u);
}

}  // namespace
}  // namespace lumora
