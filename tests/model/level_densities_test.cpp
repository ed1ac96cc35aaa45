// The levels' density uncertainties against the slopes the distributions
// have in closed form: log10 N_i = log10 n_1 + log10(g_i / g_1) - E_i / (k T ln 10)
// for a Boltzmann distribution, and N = n_1 * ratio / 1000 for the 1s2 and
// 1s4 levels of "1s levels".
#include "model/level_densities.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "model/session.h"
#include "tests/support/argon_model.h"

namespace lumora::test {
namespace {

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";
constexpr double kBoltzmannEv = 8.617333262e-5;  // eV/K

class LevelDensities : public ::testing::Test {
 protected:
  void SetUp() override {
    session.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
    session.ReadMeasurement(kData + "measurements/argon_n4e16_noise.txt");
    session.Recalculate();
  }

  FitResult Fit(bool second, Distribution distribution = Distribution::Boltzmann) {
    FitRequest request;
    request.target.start = testing::ArgonModel();
    request.target.start.log10N1 = 16.5;
    request.target.start.distribution = distribution;
    if (distribution == Distribution::FirstLevels) request.target.start.second = 1000;
    request.target.fitSecond = second;
    request.solver.iterationLimit = 200;
    request.log.write = false;
    return session.Fit(request);
  }

  // sqrt(s' C s) with the covariance the standard errors come from.
  static double Propagated(const FitResult& fit, double slopeN1, double slopeSecond) {
    const double scale =
        static_cast<double>(fit.errors[0] * fit.errors[0] / fit.covariance(0, 0));
    const auto c = [&](int a, int b) { return static_cast<double>(fit.covariance(a, b)) * scale; };
    return std::sqrt(slopeN1 * slopeN1 * c(0, 0) + 2 * slopeN1 * slopeSecond * c(0, 1) +
                     slopeSecond * slopeSecond * c(1, 1));
  }

  Session session{SessionOptions{"", [](const std::string&) {}}};
};

TEST_F(LevelDensities, WithN1AloneEveryLevelHasTheUncertaintyOfN1) {
  const FitResult fit = Fit(false);
  const std::vector<double> u = Log10LevelDensityUncertainties(session.Table(), fit);
  ASSERT_GT(fit.errors[0], 0);
  for (int i = 0; i < fit.fitted.levelCount; ++i)
    EXPECT_NEAR(u[i] / static_cast<double>(fit.errors[0]), 1, 1e-6) << i;
  for (size_t i = fit.fitted.levelCount; i < u.size(); ++i) EXPECT_EQ(u[i], 0) << i;
}

TEST_F(LevelDensities, BoltzmannLevelsFollowTheTemperatureSlope) {
  const FitResult fit = Fit(true);
  ASSERT_EQ(fit.parameterCount, 2);
  const std::vector<double> u = Log10LevelDensityUncertainties(session.Table(), fit);
  const double t = static_cast<double>(fit.fitted.second);
  const std::vector<TLevelRecord>& levels = session.Table().levels;
  for (int i = 0; i < fit.fitted.levelCount; ++i) {
    const double slope =
        (levels[i].Energy - levels[0].Energy) / (kBoltzmannEv * t * t * std::log(10.0));
    EXPECT_NEAR(u[i] / Propagated(fit, 1, slope), 1, 1e-4) << i;
  }
  EXPECT_GT(u[3], u[0]);  // the temperature's uncertainty adds to the upper levels'
}

TEST_F(LevelDensities, FirstLevelsRatioMovesOnlyTheLevelsItScales) {
  // A result as a fit of both parameters states it, with correlated errors.
  FitResult fit;
  fit.fitted = testing::ArgonModel();
  fit.fitted.distribution = Distribution::FirstLevels;
  fit.fitted.levelCount = 4;
  fit.fitted.log10N1 = 16.5;
  fit.fitted.second = 800;
  fit.parameterCount = 2;
  fit.covariance = ParameterMatrix(2, 2);
  fit.covariance << 0.0004L, 0.3L, 0.3L, 2500;
  fit.errors = ParameterValues(2);
  fit.errors << 0.02L, 50;
  const std::vector<double> u = Log10LevelDensityUncertainties(session.Table(), fit);
  const double ratioSlope = 1 / (800 * std::log(10.0));
  for (int i : {0, 2}) EXPECT_NEAR(u[i] / Propagated(fit, 1, 0), 1, 1e-6) << i;
  for (int i : {1, 3}) EXPECT_NEAR(u[i] / Propagated(fit, 1, ratioSlope), 1, 1e-6) << i;
  EXPECT_EQ(u[4], 0);
}

}  // namespace
}  // namespace lumora::test
