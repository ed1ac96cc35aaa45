// The model of every bundled rare gas against a computation written here from
// the gas's own facts: each level's weight is 2J + 1 of that gas's J for the
// Paschen label, never argon's, and "1s levels" populates the gas's own four
// 1s levels by their labels.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "model/element_data.h"
#include "model/self_absorption.h"
#include "tests/support/facts_table.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;
const fs::path kData = fs::path(LUMORA_SOURCE_DIR) / "data";

using Row = testing::FactRow;

std::vector<Row> ReadFacts(const std::string& name) {
  return testing::ReadFactsTable(kData / "facts" / name);
}

struct Gas {
  const char* symbol;
  const char* levelFacts;
  double massAmu;
};

std::ostream& operator<<(std::ostream& os, const Gas& gas) { return os << gas.symbol; }

// A level of the facts: its label, weight from its J, and energy.
struct FactLevel {
  std::string paschen;
  long double g;
  double energy;
};

class RareGasWeights : public ::testing::TestWithParam<Gas> {
 protected:
  void SetUp() override {
    const Gas& gas = GetParam();
    for (const Row& r : ReadFacts(gas.levelFacts))
      facts_.push_back(
          {r.at("paschen"), 2 * std::stold(r.at("J")) + 1, std::stod(r.at("energy_eV"))});
    bool replaced = false;
    ReadLevels((kData / "database" / (std::string(gas.symbol) + "_I_levels.txt")).string(),
               table_.levels, [](const std::string&) {}, replaced);
    base_ = OpenLineBase((kData / "database").string(), std::string(gas.symbol) + ", I");
    ImportLinesForAnalysis(table_, base_.get(), 0, 5000, 0, 1000);
    ASSERT_GE(table_.lines.size(), 18u);
  }

  const FactLevel& FactAt(double energy) const {
    for (const FactLevel& f : facts_)
      if (f.energy == energy) return f;
    throw std::runtime_error("no level at this energy");
  }

  ModelParameters Params(Distribution distribution, long double second) const {
    ModelParameters p;
    p.log10N1 = 17;
    p.second = second;
    p.gasTemperature = 300;
    p.path = 1;
    p.mass = GetParam().massAmu * 1.6605402e-27L;
    p.levelCount = 4;
    p.distribution = distribution;
    return p;
  }

  // Every line's effective branching fraction for the given lower-level
  // densities, with the weights of the facts' levels.
  std::vector<long double> Expected(const std::map<std::string, long double>& density,
                                    const ModelParameters& p) const {
    const long double pi = 3.14159265358979323846264338327950288L;
    const long double v = std::sqrt(2 * 1.380658e-23L * p.gasTemperature / p.mass);
    std::vector<long double> rate;
    std::vector<std::string> upper;
    for (const TLineRecord& line : table_.lines) {
      const FactLevel& lower = FactAt(line.AR.Ei_eV);
      const FactLevel& up = FactAt(line.AR.Ek_eV);
      const auto n = density.find(lower.paschen);
      const long double lambda = line.AR.WaveLength * 1e-9L;
      const long double kappa0 = (n == density.end() ? 0 : n->second) * lambda * lambda * lambda *
                                 up.g / lower.g * line.AR.Aki / (8 * std::pow(pi, 1.5L) * v);
      const long double tau = kappa0 * p.path;
      rate.push_back((2 - std::exp(-tau / 1000)) / (1 + tau) * line.AR.Aki);
      upper.push_back(up.paschen);
    }
    std::vector<long double> fractions;
    for (size_t j = 0; j < rate.size(); ++j) {
      long double sum = 0;
      for (size_t k = 0; k < rate.size(); ++k)
        if (upper[k] == upper[j]) sum += rate[k];
      fractions.push_back(rate[j] / sum);
    }
    return fractions;
  }

  void ExpectModel(const ModelParameters& p, const std::map<std::string, long double>& density) {
    EbfModel model(table_);
    const TPreCalcDataArray& fractions = model.EvaluateAllLines(p);
    const std::vector<long double> expected = Expected(density, p);
    ASSERT_EQ(fractions.size(), expected.size());
    for (size_t j = 0; j < expected.size(); ++j)
      EXPECT_NEAR(fractions[j], expected[j], 1e-12 * expected[j])
          << table_.lines[j].AR.WaveLength << " nm";
  }

  std::vector<FactLevel> facts_;
  LineTable table_;
  std::unique_ptr<TTextBase> base_;
};

// The weights the lines and levels carry are those of the gas's own J.
TEST_P(RareGasWeights, LinesAndLevelsCarryTheGasesOwnWeights) {
  for (const TLevelRecord& level : table_.levels) EXPECT_EQ(level.g, FactAt(level.Energy).g);
  for (const TLineRecord& line : table_.lines) {
    EXPECT_EQ(line.AR.gi, FactAt(line.AR.Ei_eV).g) << line.AR.WaveLength;
    EXPECT_EQ(line.AR.gk, FactAt(line.AR.Ek_eV).g) << line.AR.WaveLength;
  }
}

TEST_P(RareGasWeights, BoltzmannPopulationUsesTheGasesWeights) {
  const ModelParameters p = Params(Distribution::Boltzmann, 1000);
  const FactLevel& ground = FactAt(table_.levels[0].Energy);
  std::map<std::string, long double> density;
  for (int i = 0; i < 4; ++i) {
    const FactLevel& f = FactAt(table_.levels[i].Energy);
    density[f.paschen] = 1e17L * f.g / ground.g *
                         std::exp(-(static_cast<long double>(f.energy) - ground.energy) *
                                  1.60217733e-19L / (1.380658e-23L * 1000));
  }
  ExpectModel(p, density);
}

TEST_P(RareGasWeights, FirstLevelsAreTheGasesOwn1sLevels) {
  const ModelParameters p = Params(Distribution::FirstLevels, 300);
  ExpectModel(
      p, {{"1s5", 1e17L}, {"1s4", 0.3L * 1e17L}, {"1s3", 0.2L * 1e17L}, {"1s2", 0.3L * 1e17L}});
}

INSTANTIATE_TEST_SUITE_P(Bundled, RareGasWeights,
                         ::testing::Values(Gas{"Ar", "ar_i_levels.tsv", 39.948},
                                           Gas{"Ne", "ne_i_levels.tsv", 20.1797},
                                           Gas{"Kr", "kr_i_levels.tsv", 83.798},
                                           Gas{"Xe", "xe_i_levels.tsv", 131.293}),
                         [](const auto& info) { return std::string(info.param.symbol); });

// The point of the cases above: a Paschen label does not fix J across the
// gases, so a program that took argon's weight for a label would be wrong.
TEST(RareGasLabels, JOfALabelDiffersBetweenGases) {
  auto j = [](const std::string& facts, const std::string& label) {
    for (const Row& r : ReadFacts(facts))
      if (r.at("paschen") == label) return r.at("J");
    return std::string();
  };
  EXPECT_EQ(j("ar_i_levels.tsv", "2p3"), "2");
  EXPECT_EQ(j("ne_i_levels.tsv", "2p3"), "0");
  EXPECT_EQ(j("ar_i_levels.tsv", "2p2"), "1");
  EXPECT_EQ(j("kr_i_levels.tsv", "2p2"), "2");
  EXPECT_EQ(j("ar_i_levels.tsv", "2p8"), "2");
  EXPECT_EQ(j("xe_i_levels.tsv", "2p8"), "3");
}

}  // namespace
}  // namespace lumora
