// Weighted fits: the whitening of the branching fractions, the chi-square,
// and whether the uncertainties the fits state hold up against the scatter
// of fits to seeded noisy copies of a measurement whose n_1 is known; and
// weighted maps, whose grid holds that chi-square and whose confidence
// region is the weighted fit's.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <boost/math/distributions/chi_squared.hpp>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "model/fraction_weights.h"
#include "model/monte_carlo.h"
#include "model/results_line.h"
#include "model/session.h"
#include "tests/support/argon_model.h"
#include "tests/support/testfiles.h"

namespace lumora::test {
namespace {

using testing::ArgonModel;

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";
constexpr double kRelativeNoise = 0.02;

double Mean(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return sum / static_cast<double>(v.size());
}

double StandardDeviation(const std::vector<double>& v) {
  const double mean = Mean(v);
  double squares = 0;
  for (double x : v) squares += (x - mean) * (x - mean);
  return std::sqrt(squares / static_cast<double>(v.size() - 1));
}

// The noise-free argon sample (27 lines, every upper level with all its
// lines) in a session, with the n_1 a fit finds on it as the truth.
class WeightedFit : public ::testing::Test {
 protected:
  void SetUp() override {
    session.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
    session.ReadMeasurement(kData + "measurements/argon_n2e15.txt");
    session.Recalculate();
    for (const TLineRecord& line : session.Table().lines) trueIntensities.push_back(line.Int);
    truth = static_cast<double>(session.Fit(Request(IntensityUncertainty{})).fitted.log10N1);
  }

  static FitRequest Request(IntensityUncertainty uncertainty) {
    FitRequest request;
    request.target.start = ArgonModel();
    request.uncertainty = uncertainty;
    request.log.write = false;
    return request;
  }

  // Each intensity with 2 % Gaussian noise and that 2 % of its true value as
  // its stated uncertainty.
  void Draw(std::mt19937_64& generator) {
    std::normal_distribution<double> normal;
    for (size_t k = 0; k < trueIntensities.size(); ++k) {
      session.SetIntensity(k, trueIntensities[k] * (1 + kRelativeNoise * normal(generator)));
      session.SetIntensityUncertainty(k, kRelativeNoise * trueIntensities[k]);
    }
    session.Recalculate();
  }

  Session session{SessionOptions{"", [](const std::string&) {}}};
  std::vector<double> trueIntensities;
  double truth = 0;
};

// The chi-square of fractions with a singular covariance, computed without
// the whitening: per upper level r' C^+ r with C's pseudo-inverse.
double PseudoInverseChiSquare(const std::vector<TLineRecord>& lines,
                              const std::vector<double>& sigmas) {
  std::map<int32_t, std::vector<size_t>> levels;
  for (size_t k = 0; k < lines.size(); ++k)
    if (lines[k].G_m > 0) levels[lines[k].UpperState].push_back(k);
  double chiSquare = 0;
  for (const auto& [upper, members] : levels) {
    const Eigen::Index n = static_cast<Eigen::Index>(members.size());
    double total = 0;
    for (size_t k : members) total += lines[k].Int * lines[k].AR.WaveLength;
    // The Jacobian of G_i = x_i / sum x by the intensities, times their sigmas.
    Eigen::MatrixXd jacobian(n, n);
    Eigen::VectorXd residual(n);
    for (Eigen::Index i = 0; i < n; ++i) {
      const TLineRecord& line = lines[members[i]];
      residual[i] = line.G_m - line.G_f;
      for (Eigen::Index j = 0; j < n; ++j) {
        const TLineRecord& other = lines[members[j]];
        jacobian(i, j) = ((i == j ? 1.0 : 0.0) - line.G_m) * other.AR.WaveLength / total *
                         sigmas[members[j]];
      }
    }
    const Eigen::MatrixXd covariance = jacobian * jacobian.transpose();
    chiSquare += residual.dot(covariance.completeOrthogonalDecomposition().pseudoInverse() *
                              residual);
  }
  return chiSquare;
}

TEST_F(WeightedFit, ChiSquareEqualsThePseudoInverseForm) {
  std::mt19937_64 generator(11);
  Draw(generator);
  const FitResult fit = session.Fit(Request({UncertaintySource::Column}));
  ASSERT_TRUE(fit.weighted);
  std::vector<double> sigmas;
  for (const TLineRecord& line : session.Table().lines) sigmas.push_back(line.IntSigma);
  EXPECT_NEAR(static_cast<double>(fit.sum) / PseudoInverseChiSquare(session.Table().lines, sigmas),
              1.0, 1e-6);
  // 27 lines of 10 upper levels, one parameter.
  EXPECT_EQ(fit.goodness.degreesOfFreedom, 16);
}

// Whitened residuals of fractions from noisy intensities are independent
// with unit variance: their sample covariance over many draws is the
// identity (small noise keeps the propagation linear), and each fraction
// scatters by the uncertainty the propagation states for it.
TEST_F(WeightedFit, WhitenedFractionsHaveUnitCovariance) {
  const std::vector<TLineRecord> exact = session.Table().lines;
  std::vector<double> sigmas;
  for (double intensity : trueIntensities) sigmas.push_back(1e-4 * intensity);
  const FractionWhitening whitening(exact, sigmas);
  ASSERT_EQ(whitening.RowCount(), 17);
  std::mt19937_64 generator(5);
  std::normal_distribution<double> normal;
  constexpr int kDraws = 20000;
  Eigen::MatrixXd sum = Eigen::MatrixXd::Zero(whitening.RowCount(), whitening.RowCount());
  std::vector<double> squares(exact.size(), 0.0);
  for (int draw = 0; draw < kDraws; ++draw) {
    for (size_t k = 0; k < trueIntensities.size(); ++k)
      session.SetIntensity(k, trueIntensities[k] + sigmas[k] * normal(generator));
    session.Recalculate();
    std::vector<double> residuals;
    for (size_t k = 0; k < exact.size(); ++k)
      residuals.push_back(session.Table().lines[k].G_m - exact[k].G_m);
    for (size_t k = 0; k < exact.size(); ++k) squares[k] += residuals[k] * residuals[k];
    Eigen::VectorXd whitened(whitening.RowCount());
    for (int r = 0; r < whitening.RowCount(); ++r)
      whitened[r] = static_cast<double>(whitening.Apply(r, residuals));
    sum += whitened * whitened.transpose();
  }
  const Eigen::MatrixXd covariance = sum / kDraws;
  // Sampling error of a unit variance over 20000 draws: about 0.01.
  for (int i = 0; i < whitening.RowCount(); ++i)
    for (int j = 0; j < whitening.RowCount(); ++j)
      EXPECT_NEAR(covariance(i, j), i == j ? 1.0 : 0.0, 0.05) << i << "," << j;
  const std::vector<double> stated = MeasuredFractionUncertainties(exact, sigmas);
  for (size_t k = 0; k < exact.size(); ++k) {
    const double scatter = std::sqrt(squares[k] / kDraws);
    if (stated[k] == 0) {
      // A level's only line: its fraction is 1 whatever its intensity.
      EXPECT_LT(scatter, 1e-12) << k;
      continue;
    }
    EXPECT_NEAR(scatter / stated[k], 1.0, 0.03) << exact[k].AR.WaveLength;
  }
}

// 400 seeded draws: the chi-square per degree of freedom averages 1, the
// weighted u matches the scatter of the fitted values and its 95 % interval
// covers the truth 95 % of the time; unweighted, the robust u matches the
// scatter of the unweighted fits.
TEST_F(WeightedFit, StatedUncertaintiesMatchTheScatterOfFits) {
  constexpr int kDraws = 400;
  std::mt19937_64 generator(2024);
  std::vector<double> weighted, weightedU, chiSquarePerDegree, unweighted, robustU;
  int covered = 0;
  for (int draw = 0; draw < kDraws; ++draw) {
    Draw(generator);
    const FitResult fit = session.Fit(Request({UncertaintySource::Column}));
    const double value = static_cast<double>(fit.fitted.log10N1);
    const double u = static_cast<double>(fit.Log10N1Error());
    weighted.push_back(value);
    weightedU.push_back(u);
    chiSquarePerDegree.push_back(static_cast<double>(fit.goodness.PerDegree()));
    if (std::fabs(value - truth) <= 1.96 * u) ++covered;
    EXPECT_EQ(fit.stopCode, StopCode::ParametersUnchanged) << draw;

    const FitResult plain = session.Fit(Request({}));
    unweighted.push_back(static_cast<double>(plain.fitted.log10N1));
    robustU.push_back(static_cast<double>(plain.RobustLog10N1Error()));
  }
  EXPECT_NEAR(Mean(chiSquarePerDegree), 1.0, 0.1);
  EXPECT_NEAR(Mean(weightedU) / StandardDeviation(weighted), 1.0, 0.15);
  EXPECT_GE(covered, kDraws * 92 / 100);
  EXPECT_LE(covered, kDraws * 98 / 100);
  EXPECT_NEAR(Mean(robustU) / StandardDeviation(unweighted), 1.0, 0.2);
}

// The derived densities' uncertainties against the scatter of 400 seeded
// weighted fits: n_2, n_4 and their total within 15 %, with T_exc fitted
// (correlated with n_1) and fixed; fixed, every level keeps n_1's relative
// uncertainty, as each is n_1 times a fixed factor.
TEST_F(WeightedFit, DerivedDensityUncertaintiesMatchTheScatterOfFits) {
  constexpr int kDraws = 400;
  for (const bool second : {false, true}) {
    std::mt19937_64 generator(77);
    std::vector<double> n2, n4, total, u2, u4, uTotal;
    for (int draw = 0; draw < kDraws; ++draw) {
      Draw(generator);
      FitRequest request = Request({UncertaintySource::Column});
      request.target.fitSecond = second;
      const FitResult fit = session.Fit(request);
      const ResultsFigures figures =
          ComputeResultsFigures(session.Table().levels, FitResultsInput(fit));
      ASSERT_EQ(figures.densities.size(), 4u);
      n2.push_back(static_cast<double>(figures.densities[1]));
      n4.push_back(static_cast<double>(figures.densities[3]));
      total.push_back(static_cast<double>(figures.total));
      u2.push_back(static_cast<double>(figures.uncertainties[1]));
      u4.push_back(static_cast<double>(figures.uncertainties[3]));
      uTotal.push_back(static_cast<double>(figures.totalUncertainty));
      if (!second) {
        const long double relative = figures.uncertainties[0] / figures.densities[0];
        for (size_t k = 1; k < 4; ++k)
          EXPECT_NEAR(static_cast<double>(figures.uncertainties[k] / figures.densities[k] /
                                          relative),
                      1.0, 1e-12);
        EXPECT_NEAR(static_cast<double>(figures.totalUncertainty / figures.total / relative),
                    1.0, 1e-12);
      }
    }
    EXPECT_NEAR(Mean(u2) / StandardDeviation(n2), 1.0, 0.15) << second;
    EXPECT_NEAR(Mean(u4) / StandardDeviation(n4), 1.0, 0.15) << second;
    EXPECT_NEAR(Mean(uTotal) / StandardDeviation(total), 1.0, 0.15) << second;
  }
}

// Stated uncertainties so large that the lines tell nothing: the fit is
// refused as no better than thin lines, as an unweighted one would be,
// instead of returning its start with a floor variance.
TEST_F(WeightedFit, UncertaintiesThatSwampTheLinesLeaveN1Undetermined) {
  for (const double noise : {1e4, 1e300}) {
    try {
      session.Fit(Request({UncertaintySource::Relative, noise}));
      ADD_FAILURE() << noise << ": fitted";
    } catch (const UndeterminedN1Error& e) {
      EXPECT_EQ(e.Why(), UndeterminedN1Error::Reason::LikeThinLines) << noise;
    }
  }
}

// The model takes T_exc's magnitude: a start far below it that sends the
// minimiser across 0 still states the temperature it found, positive.
TEST_F(WeightedFit, ATemperatureThatCrossedZeroIsStatedPositive) {
  FitRequest request = Request({});
  request.target.start.second = 100;
  request.target.fitSecond = true;
  request.log.write = true;
  request.log.text = true;
  const FitResult fit = session.Fit(request);
  EXPECT_NEAR(static_cast<double>(fit.fitted.second), 1000, 1);
  for (const IterationRecord& record : fit.trace) EXPECT_GT(record.parameters[1], 0);
  EXPECT_EQ(fit.logText.find(" -"), std::string::npos) << fit.logText;
}

// Started far off, the fit of the noise-free sample stops in a local
// minimum that its thin-lines test would take for lines without
// information: a coarse scan finds the better place, and the error names
// it; started there, the fit finds the sample's n_1.
TEST_F(WeightedFit, ALocalMinimumIsNamedAsSuchWithABetterStart) {
  FitRequest request = Request({});
  request.target.start.second = 20000;
  request.target.fitSecond = true;
  try {
    session.Fit(request);
    ADD_FAILURE() << "fitted";
  } catch (const UndeterminedN1Error& e) {
    ADD_FAILURE() << "taken for thin lines: " << e.what();
  } catch (const Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("local minimum"), std::string::npos) << message;
    const size_t at = message.find("T_exc = ");
    ASSERT_NE(at, std::string::npos) << message;
    request.target.start.second = std::stod(message.substr(at + 8));
    const size_t n1 = message.find("n_1 = ");
    request.target.start.log10N1 = std::log10(std::stod(message.substr(n1 + 6)));
    EXPECT_NEAR(static_cast<double>(session.Fit(request).fitted.log10N1), truth, 1e-6);
  }
}

// The refits of a weighted fit draw each intensity by its stated
// uncertainty; their spread is the weighted fit's u.
TEST_F(WeightedFit, MonteCarloSpreadMatchesTheWeightedU) {
  std::mt19937_64 generator(77);
  for (int draw = 0; draw < 10; ++draw) {
    Draw(generator);
    const FitRequest request = Request({UncertaintySource::Column});
    const FitResult fit = session.Fit(request);
    MonteCarloRequest refits;
    refits.fit = request;
    refits.runs = 400;
    refits.seed = 100 + draw;
    const MonteCarloResult spread = session.MonteCarlo(refits, fit);
    EXPECT_EQ(spread.failed, 0);
    EXPECT_NEAR(spread.log10N1.std / static_cast<double>(fit.Log10N1Error()), 1.0, 0.15) << draw;
  }
}

// The profile interval of a weighted fit is its +-1.96 u where the model is
// near linear in log10 n_1; with the second parameter refitted it is no
// narrower; the fit's optimum lies inside either way.
TEST_F(WeightedFit, ProfileIntervalAgreesWithTheCovariance) {
  std::mt19937_64 generator(3);
  Draw(generator);
  const FitRequest request = Request({UncertaintySource::Column});
  const FitResult fit = session.Fit(request);
  const ProfileInterval interval = session.Profile(request, fit, 0.95);
  const double optimum = static_cast<double>(fit.fitted.log10N1);
  const double u = static_cast<double>(fit.Log10N1Error());
  EXPECT_FALSE(interval.upperLimit || interval.lowerLimit);
  EXPECT_NEAR((optimum - interval.log10N1From) / (1.96 * u), 1.0, 0.1);
  EXPECT_NEAR((interval.log10N1To - optimum) / (1.96 * u), 1.0, 0.1);

  FitRequest both = request;
  both.target.fitSecond = true;
  const FitResult joint = session.Fit(both);
  const ProfileInterval profiled = session.Profile(both, joint, 0.95);
  EXPECT_LT(profiled.log10N1From, static_cast<double>(joint.fitted.log10N1));
  EXPECT_GT(profiled.log10N1To, static_cast<double>(joint.fitted.log10N1));
  EXPECT_GE(profiled.log10N1To - profiled.log10N1From,
            0.99 * (interval.log10N1To - interval.log10N1From));
  EXPECT_THROW(session.Profile(request, fit, 1.5), Error);
}

// Lines without self-absorption (intensities in the ratio of A / wavelength)
// bound n_1 from above only: no results line, but the upper limit.
TEST_F(WeightedFit, ThinLinesGiveAnUpperLimit) {
  std::mt19937_64 generator(8);
  std::normal_distribution<double> normal;
  const std::vector<TLineRecord> lines = session.Table().lines;
  for (size_t k = 0; k < lines.size(); ++k) {
    const double thin = 1e-3 * lines[k].AR.Aki / lines[k].AR.WaveLength;
    session.SetIntensity(k, thin * (1 + 0.02 * normal(generator)));
    session.SetIntensityUncertainty(k, 0.02 * thin);
  }
  session.Recalculate();
  FitRequest request = Request({UncertaintySource::Column});
  request.target.start.log10N1 = 13;
  try {
    session.Fit(request);
    ADD_FAILURE() << "a results line for thin lines";
  } catch (const Error& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("n_1 is not determined"), std::string::npos) << message;
    const size_t limit = message.find("they bound it from above: n_1 < ");
    ASSERT_NE(limit, std::string::npos) << message;
    // Below the densities that would absorb measurably (the samples' 2E15 does).
    EXPECT_LT(std::stod(message.substr(limit + 32)), 2e15) << message;
  }
}

// A map of the lines as they are over log10 n_1 from..to by the second
// parameter from..to, `points` a side, weighted by `uncertainty`.
MapRequest MapOver(double fromLog10N1, double toLog10N1, double fromSecond, double toSecond,
                   int points, IntensityUncertainty uncertainty) {
  MapRequest request;
  request.model = ArgonModel();
  request.densityPoints = points;
  request.temperaturePoints = points;
  request.log10FromDensity = fromLog10N1;
  request.log10ToDensity = toLog10N1;
  request.fromTemperature = fromSecond;
  request.toTemperature = toSecond;
  request.uncertainty = uncertainty;
  request.withReport = false;
  return request;
}

// The weighted fit of both parameters, and its optimum's chi-square.
class WeightedMap : public WeightedFit {
 protected:
  void SetUp() override {
    WeightedFit::SetUp();
    std::mt19937_64 generator(21);
    Draw(generator);
    FitRequest both = Request({UncertaintySource::Column});
    both.target.fitSecond = true;
    both.solver.iterationLimit = 200;
    fit = session.Fit(both);
    ASSERT_EQ(fit.parameterCount, 2);
  }

  std::vector<double> Sigmas() const {
    std::vector<double> sigmas;
    for (const TLineRecord& line : session.Table().lines) sigmas.push_back(line.IntSigma);
    return sigmas;
  }

  FitResult fit;
};

// Each grid point holds the chi-square the weighted fit minimises: at the
// fit's optimum its own, and at the map's minimum the pseudo-inverse form;
// no point of the grid lies below the optimum.
TEST_F(WeightedMap, GridPointsHoldTheWeightedFitsChiSquare) {
  const double log10N1 = static_cast<double>(fit.fitted.log10N1);
  const double second = static_cast<double>(fit.fitted.second);
  const MapResult atOptimum =
      session.Map(MapOver(log10N1, log10N1, second, second, 1, {UncertaintySource::Column}));
  EXPECT_NEAR(atOptimum.minimum / static_cast<double>(fit.sum), 1.0, 1e-9);

  const MapResult map = session.Map(MapOver(log10N1 - 0.3, log10N1 + 0.3, second - 150,
                                            second + 150, 13, {UncertaintySource::Column}));
  ASSERT_TRUE(map.Weighted());
  // The map leaves the lines' G_f at its minimum.
  EXPECT_NEAR(map.minimum / PseudoInverseChiSquare(session.Table().lines, Sigmas()), 1.0, 1e-6);
  for (const std::vector<double>& row : map.grid)
    for (double value : row) EXPECT_GE(value, static_cast<double>(fit.sum) * (1 - 1e-9));
  // 27 lines of 10 upper levels, two parameters.
  EXPECT_EQ(map.goodness.degreesOfFreedom, 15);
  EXPECT_NEAR(map.goodness.chiSquare, map.minimum, 1e-12 * map.minimum);

  // Unweighted, the same grid holds the plain sums, far smaller.
  const MapResult plain =
      session.Map(MapOver(log10N1 - 0.3, log10N1 + 0.3, second - 150, second + 150, 13, {}));
  EXPECT_FALSE(plain.Weighted());
  EXPECT_LT(plain.minimum, 1e-3 * map.minimum);
}

// The region of a weighted map rises from the optimum's chi-square by the
// chi-square quantile of 2 degrees of freedom; it holds the optimum on every
// grid, and where the grid resolves it, its ranges are the weighted fit's
// covariance ellipse at that rise; a finer grid's range lies within a
// coarser one's.
TEST_F(WeightedMap, RegionIsTheWeightedFitsEllipseAndHoldsItsOptimum) {
  const double quantile =
      boost::math::quantile(boost::math::chi_squared_distribution<double>(2), 0.95);
  const double log10N1 = static_cast<double>(fit.fitted.log10N1);
  const double second = static_cast<double>(fit.fitted.second);
  const double uN1 = std::sqrt(quantile * static_cast<double>(fit.covariance(0, 0)));
  const double uSecond = std::sqrt(quantile * static_cast<double>(fit.covariance(1, 1)));
  for (int points : {5, 10, 40, 120, 300}) {
    SCOPED_TRACE(points);
    const MapResult map =
        session.Map(MapOver(14.5, 16.5, 500, 2000, points, {UncertaintySource::Column}));
    const ConfidenceRegion r = session.Confidence(map, 0.95);
    ASSERT_TRUE(r.anchored && r.weighted);
    EXPECT_NEAR(r.threshold - r.minimum, quantile, 1e-9);
    EXPECT_NEAR(r.minimum, static_cast<double>(fit.sum), 1e-6 * static_cast<double>(fit.sum));
    EXPECT_NEAR(r.fitLog10N1, log10N1, 1e-5);
    EXPECT_LE(r.minLog10N1, log10N1);
    EXPECT_GE(r.maxLog10N1, log10N1);
    EXPECT_LE(r.minSecond, second);
    EXPECT_GE(r.maxSecond, second);
  }

  // A window of about four half-widths a side, resolved by the fine grid.
  auto window = [&](int points) {
    return session.Map(MapOver(log10N1 - 2 * uN1, log10N1 + 2 * uN1, second - 2 * uSecond,
                               second + 2 * uSecond, points, {UncertaintySource::Column}));
  };
  const ConfidenceRegion fine = session.Confidence(window(300), 0.95);
  const ConfidenceRegion coarse = session.Confidence(window(40), 0.95);
  ASSERT_EQ(fine.refineN1, 0);
  ASSERT_EQ(fine.refineSecond, 0);
  // Within a few cells and 10 % of the width (the sum is not quite a
  // quadratic over the region).
  const double cellN1 = 4 * uN1 / 300, cellSecond = 4 * uSecond / 300;
  EXPECT_NEAR(fine.minLog10N1, log10N1 - uN1, 3 * cellN1 + 0.1 * uN1);
  EXPECT_NEAR(fine.maxLog10N1, log10N1 + uN1, 3 * cellN1 + 0.1 * uN1);
  EXPECT_NEAR(fine.minSecond, second - uSecond, 3 * cellSecond + 0.1 * uSecond);
  EXPECT_NEAR(fine.maxSecond, second + uSecond, 3 * cellSecond + 0.1 * uSecond);
  ASSERT_EQ(coarse.refineN1, 0);
  ASSERT_EQ(coarse.refineSecond, 0);
  EXPECT_LE(coarse.minLog10N1, fine.minLog10N1);
  EXPECT_GE(coarse.maxLog10N1, fine.maxLog10N1);
  EXPECT_LE(coarse.minSecond, fine.minSecond);
  EXPECT_GE(coarse.maxSecond, fine.maxSecond);
  EXPECT_NE(ConfidenceText(fine, Distribution::Boltzmann).find("chi-square threshold"),
            std::string::npos);
}

// A measured line needs an uncertainty above 0 to be weighted.
TEST_F(WeightedFit, RefusesLinesWithoutUsableUncertainties) {
  for (double sigma : {0.0, -1.0, std::nan("")}) {
    for (size_t k = 0; k < trueIntensities.size(); ++k)
      session.SetIntensityUncertainty(k, k == 3 ? sigma : 1.0);
    EXPECT_THROW(session.Fit(Request({UncertaintySource::Column})), Error) << sigma;
  }
  EXPECT_THROW(session.Fit(Request({UncertaintySource::Relative, 0.0})), Error);
  EXPECT_NO_THROW(session.Fit(Request({UncertaintySource::Poisson})));
}

}  // namespace
}  // namespace lumora::test
