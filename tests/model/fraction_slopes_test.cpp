// The model's sweep in double precision, its fractions and their exact
// slopes, against the chain rule written out by hand in extended precision:
// n_i -> tau = n_lower K -> escape factor -> rate -> fraction, with
// K = lambda^3 (gk/gi) A L / (8 pi^(3/2) v), over the model's whole domain
// (n_1 1e10 to 1e20 m^-3, T_exc 300 to 50 000 K, optical depths from 1e-6
// to 1e6) for both distributions: within 1e-12; so are the values formed without
// slopes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "model/session.h"
#include "model/self_absorption.h"
#include "tests/support/argon_model.h"

namespace lumora::test {
namespace {

const std::string kData = std::string(LUMORA_SOURCE_DIR) + "/data/";
const long double kPi = 3.14159265358979323846264338327950288L;

// A fraction and its slopes by log10 n_1 and the second parameter.
struct Slope {
  long double value = 0, byLog10N1 = 0, bySecond = 0;
};

// Each absorbing level's density and the slopes of its logarithm.
struct LevelTerm {
  long double density = 0, dLnByLog10N1 = 0, dLnBySecond = 0;
};

std::vector<LevelTerm> ReferenceLevels(const std::vector<TLevelRecord>& levels,
                                       const ModelParameters& p) {
  std::vector<LevelTerm> terms(levels.size());
  const long double n1 = std::pow(10.0L, p.log10N1);
  const long double ln10 = std::log(10.0L);
  const size_t count = std::min<size_t>(p.levelCount, levels.size());
  for (size_t i = 0; i < count; ++i) {
    LevelTerm& t = terms[i];
    if (p.distribution == Distribution::Boltzmann) {
      const long double de =
          (static_cast<long double>(levels[i].Energy) - levels[0].Energy) * kElementaryCharge;
      t.density = n1 * levels[i].g / levels[0].g * std::exp(-de / (kBoltzmann * p.second));
      t.dLnByLog10N1 = ln10;
      t.dLnBySecond = de / (kBoltzmann * p.second * p.second);
    } else if (i < 4) {
      const bool scaled = i == 1 || i == 3;
      t.density = scaled ? p.second / 1000 * n1 : i == 2 ? 0.2L * n1 : n1;
      t.dLnByLog10N1 = ln10;
      t.dLnBySecond = scaled ? 1 / p.second : 0;
    }
  }
  return terms;
}

std::vector<Slope> ReferenceSlopes(const LineTable& table, const ModelParameters& p) {
  const std::vector<LevelTerm> levels = ReferenceLevels(table.levels, p);
  const long double v = std::sqrt(2 * kBoltzmann * p.gasTemperature / p.mass);
  std::vector<Slope> rates;
  for (const TLineRecord& line : table.lines) {
    const long double lambda = line.AR.WaveLength * 1e-9L;
    const long double k = lambda * lambda * lambda * line.AR.gk / line.AR.gi * line.AR.Aki * p.path /
                          (8 * std::pow(kPi, 1.5L) * v);
    const LevelTerm& lower = levels[line.LowerState];
    const long double tau = lower.density * k;
    const long double e = std::exp(-tau / 1000);
    const long double escape = (2 - e) / (1 + tau);
    const long double escapeSlope = (e / 1000 * (1 + tau) - (2 - e)) / ((1 + tau) * (1 + tau));
    const long double dRateByLnN = line.AR.Aki * escapeSlope * tau;
    rates.push_back(Slope{line.AR.Aki * escape, dRateByLnN * lower.dLnByLog10N1,
                          dRateByLnN * lower.dLnBySecond});
  }
  std::vector<Slope> fractions;
  for (size_t j = 0; j < rates.size(); ++j) {
    Slope sum;
    for (size_t i = 0; i < rates.size(); ++i) {
      if (table.lines[i].UpperState != table.lines[j].UpperState) continue;
      sum.value += rates[i].value;
      sum.byLog10N1 += rates[i].byLog10N1;
      sum.bySecond += rates[i].bySecond;
    }
    const Slope& r = rates[j];
    fractions.push_back(Slope{r.value / sum.value,
                              (r.byLog10N1 * sum.value - r.value * sum.byLog10N1) /
                                  (sum.value * sum.value),
                              (r.bySecond * sum.value - r.value * sum.bySecond) /
                                  (sum.value * sum.value)});
  }
  return fractions;
}

struct DomainCase {
  long double log10N1, second, path;
  Distribution distribution;
};

class FractionSlopesTest : public ::testing::TestWithParam<DomainCase> {
 protected:
  void SetUp() override {
    session.ChangeElement({kData + "database", "Ar_I_levels.txt", "Ar, I"});
    session.ReadMeasurement(kData + "measurements/argon_n4e16_noise.txt");
    session.Recalculate();
  }
  Session session{SessionOptions{"", [](const std::string&) {}}};
};

TEST_P(FractionSlopesTest, AgreeWithTheChainRuleWrittenOut) {
  const DomainCase c = GetParam();
  ModelParameters p = testing::ArgonModel();
  p.log10N1 = c.log10N1;
  p.second = c.second;
  p.path = c.path;
  p.distribution = c.distribution;
  LineTable table = session.Table();
  EbfModel model(table);
  const FractionSweep& sweep = model.Sweep(p);
  const std::vector<Slope> expected = ReferenceSlopes(table, p);
  ASSERT_EQ(sweep.values.size(), expected.size());
  // Slopes relative to the largest of their kind: a line whose fraction
  // hardly moves has a slope near 0, which no relative test can judge.
  long double largestN1 = 0, largestSecond = 0;
  for (const Slope& s : expected) {
    largestN1 = std::max(largestN1, std::fabs(s.byLog10N1));
    largestSecond = std::max(largestSecond, std::fabs(s.bySecond));
  }
  for (size_t j = 0; j < expected.size(); ++j) {
    EXPECT_NEAR(sweep.values[j] / expected[j].value, 1, 1e-12) << j;
    EXPECT_LE(std::fabs(sweep.byLog10N1[j] - expected[j].byLog10N1), 1e-12L * largestN1) << j;
    EXPECT_LE(std::fabs(sweep.bySecond[j] - expected[j].bySecond), 1e-12L * largestSecond) << j;
  }
  // The values alone, as a map asks for them, hold the same precision.
  model.ClearCache();
  const std::vector<double>& values = model.FractionValues(p);
  ASSERT_EQ(values.size(), expected.size());
  for (size_t j = 0; j < expected.size(); ++j)
    EXPECT_NEAR(values[j] / expected[j].value, 1, 1e-12) << j;
}

// The optical depths of the strongest lines run from about 1e-6 at n_1 1e10
// on a 1 mm path to about 1e6 at 1e20 on a metre.
INSTANTIATE_TEST_SUITE_P(
    Domain, FractionSlopesTest,
    ::testing::Values(DomainCase{10, 300, 1e-3L, Distribution::Boltzmann},
                      DomainCase{10, 50000, 1e-3L, Distribution::Boltzmann},
                      DomainCase{14, 1500, 0.05L, Distribution::Boltzmann},
                      DomainCase{16.6L, 1000, 1, Distribution::Boltzmann},
                      DomainCase{17.5L, 5000, 0.05L, Distribution::Boltzmann},
                      DomainCase{20, 300, 1, Distribution::Boltzmann},
                      DomainCase{20, 50000, 1, Distribution::Boltzmann},
                      DomainCase{10, 177, 1e-3L, Distribution::FirstLevels},
                      DomainCase{16, 500, 1, Distribution::FirstLevels},
                      DomainCase{20, 2000, 1, Distribution::FirstLevels}));

TEST_F(FractionSlopesTest, ALevelsOnlyLineAndUnpopulatedLevelsHaveNoSlope) {
  ModelParameters p = testing::ArgonModel();
  p.log10N1 = 17;
  p.levelCount = 1;  // only the lowest level absorbs
  LineTable table = session.Table();
  EbfModel model(table);
  const FractionSweep& sweep = model.Sweep(p);
  std::vector<int> perUpper(table.levels.size());
  for (const TLineRecord& line : table.lines) ++perUpper[line.UpperState];
  for (size_t j = 0; j < table.lines.size(); ++j) {
    EXPECT_EQ(sweep.bySecond[j], 0) << j;  // T_exc moves no population of one level
    if (perUpper[table.lines[j].UpperState] == 1) {
      EXPECT_EQ(sweep.byLog10N1[j], 0) << j;
    }
  }
}

}  // namespace
}  // namespace lumora::test
