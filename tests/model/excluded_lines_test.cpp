// Lines left out of the commands: every command on a table with excluded
// lines gives exactly what it gives on a measurement of the included lines
// alone, and the excluded lines stay where they stood, without fractions.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/errors.h"
#include "model/session.h"
#include "model/table_text.h"
#include "tests/support/argon_model.h"

namespace lumora::test {
namespace {

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";
const std::string kSample = kData + "measurements/argon_n4e16_noise.txt";

void LoadArgon(Session& session) {
  session.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
}

FitRequest FitOfBoth() {
  FitRequest request;
  request.target.start = testing::ArgonModel();
  request.target.start.log10N1 = 16;
  request.target.fitSecond = true;
  request.log.write = false;
  return request;
}

MapRequest SmallMap() {
  MapRequest request;
  request.model = testing::ArgonModel();
  request.densityPoints = 25;
  request.temperaturePoints = 20;
  request.log10FromDensity = 15;
  request.log10ToDensity = 18;
  request.fromTemperature = 500;
  request.toTemperature = 5000;
  return request;
}

// The sample with some lines excluded, beside a session that holds only
// the other lines.
class ExcludedLines : public ::testing::Test {
 protected:
  const std::vector<size_t> kLeftOut = {0, 5, 6, 11};

  void SetUp() override {
    LoadArgon(withExcluded_);
    LoadArgon(included_);
    withExcluded_.ReadMeasurement(kSample);
    std::vector<double> wavelengths, intensities;
    const std::vector<TLineRecord>& lines = withExcluded_.Table().lines;
    for (size_t k = 0; k < lines.size(); ++k) {
      if (std::find(kLeftOut.begin(), kLeftOut.end(), k) != kLeftOut.end()) continue;
      wavelengths.push_back(lines[k].AR.WaveLength);
      intensities.push_back(lines[k].Int);
    }
    included_.SetMeasuredLines(wavelengths, intensities);
    for (size_t k : kLeftOut) withExcluded_.SetLineIncluded(k, false);
    withExcluded_.Recalculate();
    included_.Recalculate();
  }

  // The included lines' figures equal the other session's, line by line;
  // the excluded ones keep their place and have none.
  void ExpectSameLines() const {
    const std::vector<TLineRecord>& all = withExcluded_.Table().lines;
    const std::vector<TLineRecord>& alone = included_.Table().lines;
    size_t j = 0;
    for (size_t k = 0; k < all.size(); ++k) {
      if (all[k].Excluded) {
        EXPECT_EQ(all[k].G_m, 0) << k;
        EXPECT_EQ(all[k].G_f, 0) << k;
        continue;
      }
      ASSERT_LT(j, alone.size());
      EXPECT_EQ(all[k].AR.WaveLength, alone[j].AR.WaveLength) << k;
      EXPECT_EQ(all[k].G_m, alone[j].G_m) << k;
      EXPECT_EQ(all[k].G_t, alone[j].G_t) << k;
      EXPECT_EQ(all[k].G_f, alone[j].G_f) << k;
      ++j;
    }
    EXPECT_EQ(j, alone.size());
  }

  Session withExcluded_{SessionOptions{"", [](auto&) {}}};
  Session included_{SessionOptions{"", [](auto&) {}}};
};

TEST_F(ExcludedLines, FractionsAndFitSeeTheIncludedLinesAlone) {
  EXPECT_EQ(withExcluded_.IncludedLineCount(), included_.Table().lines.size());
  ExpectSameLines();
  const FitResult a = withExcluded_.Fit(FitOfBoth());
  const FitResult b = included_.Fit(FitOfBoth());
  EXPECT_EQ(a.fitted.log10N1, b.fitted.log10N1);
  EXPECT_EQ(a.fitted.second, b.fitted.second);
  EXPECT_EQ(a.sum, b.sum);
  EXPECT_EQ(a.errors[0], b.errors[0]);
  EXPECT_EQ(a.resultsLine.line, b.resultsLine.line);
  ExpectSameLines();
  // The excluded lines are back where they stood.
  for (size_t k : kLeftOut) EXPECT_TRUE(withExcluded_.Table().lines[k].Excluded) << k;
}

TEST_F(ExcludedLines, MapConfidenceProfileAndMonteCarloSeeTheIncludedLinesAlone) {
  const MapResult a = withExcluded_.Map(SmallMap());
  const MapResult b = included_.Map(SmallMap());
  EXPECT_EQ(a.grid, b.grid);
  EXPECT_EQ(a.resultsLine.line, b.resultsLine.line);
  const ConfidenceRegion ra = withExcluded_.Confidence(a, 0.95);
  const ConfidenceRegion rb = included_.Confidence(b, 0.95);
  EXPECT_EQ(ra.threshold, rb.threshold);
  EXPECT_EQ(ra.minLog10N1, rb.minLog10N1);
  EXPECT_EQ(ra.maxSecond, rb.maxSecond);

  FitRequest fit = FitOfBoth();
  fit.uncertainty = {UncertaintySource::Relative, 0.02};
  const FitResult fa = withExcluded_.Fit(fit);
  const FitResult fb = included_.Fit(fit);
  EXPECT_EQ(fa.goodness.degreesOfFreedom, fb.goodness.degreesOfFreedom);
  EXPECT_EQ(fa.goodness.chiSquare, fb.goodness.chiSquare);
  const ProfileInterval pa = withExcluded_.Profile(fit, fa, 0.95);
  const ProfileInterval pb = included_.Profile(fit, fb, 0.95);
  EXPECT_EQ(pa.log10N1From, pb.log10N1From);
  EXPECT_EQ(pa.log10N1To, pb.log10N1To);
  ExpectSameLines();

  MonteCarloRequest refits;
  refits.fit = fit;
  refits.runs = 40;
  refits.intensityNoise = 0.02;
  refits.seed = 7;
  refits.threads = 1;
  const MonteCarloResult ma = withExcluded_.MonteCarlo(refits, fa);
  const MonteCarloResult mb = included_.MonteCarlo(refits, fb);
  EXPECT_EQ(ma.log10N1Samples, mb.log10N1Samples);
}

TEST_F(ExcludedLines, TakenInAgainTheLineCountsAsBefore) {
  Session whole{SessionOptions{"", [](auto&) {}}};
  LoadArgon(whole);
  whole.ReadMeasurement(kSample);
  whole.Recalculate();
  for (size_t k : kLeftOut) withExcluded_.SetLineIncluded(k, true);
  withExcluded_.Recalculate();
  const FitResult a = withExcluded_.Fit(FitOfBoth());
  const FitResult b = whole.Fit(FitOfBoth());
  EXPECT_EQ(a.resultsLine.line, b.resultsLine.line);
  EXPECT_EQ(withExcluded_.Table().lines[0].G_f, whole.Table().lines[0].G_f);
}

TEST_F(ExcludedLines, TooFewIncludedLinesAreNotEnough) {
  for (size_t k = 0; k + 1 < withExcluded_.Table().lines.size(); ++k)
    withExcluded_.SetLineIncluded(k, false);
  EXPECT_FALSE(withExcluded_.HasEnoughLines());
  try {
    withExcluded_.Recalculate();
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Not enough lines for EBF method.");
  }
}

TEST_F(ExcludedLines, TheSavedTableSaysWhichLinesTookPart) {
  std::vector<bool> excluded;
  for (const TLineRecord& line : withExcluded_.Table().lines) excluded.push_back(line.Excluded);
  const std::vector<LineTableRow> rows = withExcluded_.TableRows(true);
  const std::string text = LineTableText(rows, excluded);
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
       start = end + 2)
    lines.push_back(text.substr(start, end - start));
  ASSERT_EQ(lines.size(), rows.size());
  EXPECT_EQ(lines[0],
            "\tWavelength\tIntensity\tBF free\tBF meas\tBF fit\tUpper energy\tUpper state\tLower "
            "energy\tLower state\tIncluded");
  // Line 0 is left out: no fractions, "no"; line 1 took part.
  EXPECT_NE(lines[1].find("\t\t\t\t"), std::string::npos) << lines[1];
  EXPECT_TRUE(lines[1].ends_with("\tno")) << lines[1];
  EXPECT_TRUE(lines[2].ends_with("\tyes")) << lines[2];
  // With every line in, the table keeps its nine columns.
  EXPECT_EQ(LineTableText(rows, std::vector<bool>(excluded.size(), false)), LineTableText(rows));
}

TEST(ExcludedSpectrumLines, FlaggedLinesComeInExcludedAndTheFitIsUnchanged) {
  Session session{SessionOptions{"", [](auto&) {}}};
  LoadArgon(session);
  SpectrumRequest request;
  request.spectrumFile = kData + "measurements/argon_n1.5e17_shifted.recording.csv";
  const IntegrationResult& integration = session.ReadSpectrum(request);
  const std::vector<TLineRecord>& lines = session.Table().lines;
  size_t flagged = 0;
  ASSERT_EQ(lines.size(), integration.lines.size());
  for (size_t k = 0; k < lines.size(); ++k) {
    EXPECT_EQ(lines[k].AR.WaveLength, integration.lines[k].line.WaveLength);
    EXPECT_EQ(lines[k].Excluded, integration.lines[k].flags != 0) << k;
    flagged += integration.lines[k].flags != 0;
  }
  ASSERT_GT(flagged, 0u);
  // The included lines are the measurement lines the recording gives.
  EXPECT_EQ(session.IncludedLineCount(), session.MeasurementLines().size());

  // A flagged line whose area is not a usable intensity cannot be taken in.
  for (size_t k = 0; k < lines.size(); ++k) {
    if (lines[k].Int >= 0) continue;
    EXPECT_THROW(session.SetLineIncluded(k, true), Error);
    EXPECT_TRUE(session.Table().lines[k].Excluded);
  }
}

}  // namespace
}  // namespace lumora::test
