#include <cmath>
#include <functional>

#include "base/checked.h"
#include "fixture.h"

namespace lumora::test {
namespace {

constexpr long double kArgonMass = 39.948L * 1.6605402e-27L;

ModelParameters Params(long double log10n1, long double second, int32_t count, int kind = 0,
                       long double tn = 300, long double path = 0.1,
                       long double mass = kArgonMass) {
  ModelParameters p;
  p.log10N1 = log10n1;
  p.second = second;
  p.gasTemperature = tn;
  p.path = path;
  p.mass = mass;
  p.levelCount = count;
  p.distribution = static_cast<Distribution>(kind);
  return p;
}

// kappa0 = n lambda^3 (gk/gi) A / (8 pi^(3/2) v), Doppler-broadened line centre.
long double ReferenceRate(const TLineRecord& line, long double n, long double tn, long double path,
                          long double mass) {
  const long double pi = 3.14159265358979323846264338327950288L;
  const long double v = std::sqrt(2 * 1.380658e-23L * tn / mass);
  const long double lambda = line.AR.WaveLength * 1e-9L;
  const long double kappa0 = n * lambda * lambda * lambda * line.AR.gk / line.AR.gi * line.AR.Aki /
                             (8 * std::pow(pi, 1.5L) * v);
  const long double tau = kappa0 * path;
  return (2 - std::exp(-tau / 1000)) / (1 + tau) * line.AR.Aki;
}

// Expected G_f of every line for the given level densities.
std::vector<double> ReferenceFractions(const std::vector<TLineRecord>& lines,
                                       const std::vector<long double>& density,
                                       const ModelParameters& p) {
  std::vector<long double> rate;
  for (const TLineRecord& line : lines)
    rate.push_back(ReferenceRate(line, density[line.LowerState], p.gasTemperature, p.path, p.mass));
  std::vector<double> g;
  for (size_t j = 0; j < lines.size(); ++j) {
    long double sum = 0;
    for (size_t k = 0; k < lines.size(); ++k)
      if (lines[k].UpperState == lines[j].UpperState) sum += rate[k];
    g.push_back(sum > 0 ? static_cast<double>(rate[j] / sum) : -1.0);
  }
  return g;
}

void ExpectFractions(const std::vector<TLineRecord>& lines, const std::vector<double>& expected) {
  ASSERT_EQ(expected.size(), lines.size());
  for (size_t j = 0; j < expected.size(); ++j)
    EXPECT_NEAR(lines[j].G_f, expected[j], 1e-12) << "line " << j;
}

class EbfModelTest : public ModelTest {
 protected:
  void SetUp() override {
    ModelTest::SetUp();
    LoadFixture();
    MeasureFixture();
  }
};

TEST_F(EbfModelTest, AbsorptionFreeAndMeasuredFractionsByHand) {
  ComputeBranchingFractions(table);
  EXPECT_DOUBLE_EQ(table.levels[2].Sum_t, 4e7);
  EXPECT_DOUBLE_EQ(table.levels[2].Sum_m, 2 * 700.0 + 750.0);
  EXPECT_DOUBLE_EQ(table.lines[0].G_t, 0.25);
  EXPECT_DOUBLE_EQ(table.lines[1].G_t, 0.75);
  EXPECT_DOUBLE_EQ(table.lines[2].G_t, 1.0);
  EXPECT_DOUBLE_EQ(table.lines[3].G_t, -1.0);  // its only line has Aki 0
  EXPECT_DOUBLE_EQ(table.lines[0].G_m, 1400.0 / 2150.0);
  EXPECT_DOUBLE_EQ(table.lines[1].G_m, 750.0 / 2150.0);
  EXPECT_DOUBLE_EQ(table.lines[2].G_m, 1.0);
  EXPECT_DOUBLE_EQ(table.lines[3].G_m, 1.0);
}

TEST_F(EbfModelTest, ZeroIntensitiesKeepThePreviousMeasuredFractions) {
  table.lines[0].Int = 0;
  table.lines[1].Int = 0;
  table.lines[0].G_m = 0.3;
  table.lines[1].G_m = 0.7;
  ComputeBranchingFractions(table);
  EXPECT_EQ(table.levels[2].Sum_m, 0);
  EXPECT_EQ(table.lines[0].G_m, 0.3);
  EXPECT_EQ(table.lines[1].G_m, 0.7);

  // One intensity of a level set to 0 takes that line out of the level's sum.
  table.lines[1].Int = 3;
  ComputeBranchingFractions(table);
  EXPECT_EQ(table.lines[0].G_m, 0);
  EXPECT_EQ(table.lines[1].G_m, 1);
}

TEST_F(EbfModelTest, BoltzmannPopulationsAndFractions) {
  const ModelParameters b = Params(17, 5000, 100);
  model.Evaluate(b, 0);
  const long double n1 = 1e17L;
  std::vector<long double> density;
  for (const TLevelRecord& l : table.levels)
    density.push_back(n1 * l.g / table.levels[0].g *
                      std::exp(-(l.Energy - 11.5L) * 1.60217733e-19L / (1.380658e-23L * 5000)));
  for (size_t i = 0; i < table.levels.size(); ++i)
    EXPECT_NEAR(table.levels[i].Density / density[i], 1, 1e-15) << "level " << i;
  EXPECT_EQ(table.levels[0].Density, 1e17);
  ExpectFractions(table.lines, ReferenceFractions(table.lines, density, b));
  // Line 1 (three times the Aki, lower level 1 not much emptier) has the
  // larger optical depth and loses share to line 0.
  EXPECT_GT(table.lines[0].G_f, 0.25);
  EXPECT_LT(table.lines[1].G_f, 0.75);
  EXPECT_EQ(table.lines[2].G_f, 1);
  EXPECT_EQ(table.lines[3].G_f, -1);  // Aki 0
  EXPECT_EQ(table.levels[2].LineDownCount, 2);
  EXPECT_EQ(table.levels[0].LineDownCount, 0);
  EXPECT_EQ(table.levels[0].Sum_f, 0);
  EXPECT_NEAR(table.levels[2].Sum_f,
              static_cast<double>(ReferenceRate(table.lines[0], density[0], 300, 0.1, kArgonMass) +
                                  ReferenceRate(table.lines[1], density[1], 300, 0.1, kArgonMass)),
              1e-6);
}

TEST_F(EbfModelTest, NegativeExcitationTemperatureActsAsItsMagnitude) {
  model.Evaluate(Params(17, 5000, 100), 0);
  const double positive = table.lines[0].G_f;
  const double density1 = table.levels[1].Density;
  model.ClearCache();
  model.Evaluate(Params(17, -5000, 100), 0);
  EXPECT_EQ(table.lines[0].G_f, positive);
  EXPECT_EQ(table.levels[1].Density, density1);
}

TEST_F(EbfModelTest, CountLimitsThePopulatedLevels) {
  struct Case {
    const char* name;
    int32_t count;
    std::vector<bool> populated;
  };
  const Case cases[] = {
      {"none", 0, {false, false, false, false, false}},
      {"first level only", 1, {true, false, false, false, false}},
      {"more than there are", 1000000, {true, true, true, true, true}},
  };
  for (const Case& c : cases) {
    for (TLevelRecord& l : table.levels) l.Density = 99;  // an earlier computation
    model.ClearCache();
    const ModelParameters b = Params(17, 5000, c.count);
    model.Evaluate(b, 0);
    std::vector<long double> density;
    for (size_t i = 0; i < table.levels.size(); ++i) {
      EXPECT_EQ(table.levels[i].Density > 0, c.populated[i]) << c.name << " level " << i;
      density.push_back(table.levels[i].Density);
    }
    SCOPED_TRACE(c.name);
    ExpectFractions(table.lines, ReferenceFractions(table.lines, density, b));
  }
  // Count 0: no absorption, so G_f equals G_t wherever the level has a rate.
  model.ClearCache();
  model.Evaluate(Params(17, 5000, 0), 0);
  ComputeBranchingFractions(table);
  for (size_t j = 0; j < 3; ++j) EXPECT_DOUBLE_EQ(table.lines[j].G_f, table.lines[j].G_t);
}

TEST_F(EbfModelTest, LineWhoseLowerLevelIsNotPopulatedIsNotAbsorbed) {
  // Count 1: level 1 (lower level of lines 1 and 2) stays empty.
  const ModelParameters b = Params(17, 5000, 1);
  model.Evaluate(b, 0);
  const long double rate0 = ReferenceRate(table.lines[0], 1e17L, 300, 0.1, kArgonMass);
  EXPECT_NEAR(table.levels[2].Sum_f, static_cast<double>(rate0 + 3e7L), 1e-6);
  EXPECT_NEAR(table.lines[1].G_f, static_cast<double>(3e7L / (rate0 + 3e7L)), 1e-15);
}

TEST_F(EbfModelTest, FirstLevelsDistribution) {
  for (TLevelRecord& l : table.levels) l.Density = 99;
  model.Evaluate(Params(16, 500, 4, 1), 0);
  EXPECT_EQ(table.levels[0].Density, 1e16);
  EXPECT_DOUBLE_EQ(table.levels[1].Density, 0.5e16);
  EXPECT_DOUBLE_EQ(table.levels[2].Density, 0.2e16);
  EXPECT_DOUBLE_EQ(table.levels[3].Density, 0.5e16);
  EXPECT_EQ(table.levels[4].Density, 0);

  // Count 1: the four assignments, then levels 1 to 3 emptied.
  model.ClearCache();
  model.Evaluate(Params(16, 500, 1, 1), 0);
  EXPECT_EQ(table.levels[0].Density, 1e16);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(table.levels[i].Density, 0) << i;

  // Count above 4: the levels past the fourth get no population.
  for (TLevelRecord& l : table.levels) l.Density = 99;
  model.ClearCache();
  model.Evaluate(Params(16, 500, 5, 1), 0);
  EXPECT_EQ(table.levels[4].Density, 0);
}

TEST_F(EbfModelTest, EscapeFactorDopplerSpeedAndStep) {
  EXPECT_EQ(EscapeFactor(0), 1);
  EXPECT_NEAR(EscapeFactor(1), 0.50049975, 1e-8);
  EXPECT_NEAR(EscapeFactor(1000), (2 - std::exp(-1.0)) / 1001, 1e-15);
  EXPECT_NEAR(EscapeFactor(1000), 0.0016305, 1e-7);
  EXPECT_DOUBLE_EQ(DopplerSpeed(300, 2.761316e-23), std::sqrt(300.0));
  EXPECT_EQ(DerivativeStep(300), 1.5L);
  EXPECT_NEAR(static_cast<double>(DerivativeStep(16)), 0.08, 1e-18);
}

TEST_F(EbfModelTest, CachedEvaluationChangesNoField) {
  const ModelParameters b = Params(17, 5000, 100);
  const long double first = model.Evaluate(b, 1);
  for (TLevelRecord& l : table.levels) {
    l.Density = -5;
    l.Sum_f = -6;
    l.LineDownCount = -7;
  }
  for (TLineRecord& line : table.lines) line.G_f = -8;
  EXPECT_EQ(model.Evaluate(b, 1), first);
  for (const TLevelRecord& l : table.levels) {
    EXPECT_EQ(l.Density, -5);
    EXPECT_EQ(l.Sum_f, -6);
    EXPECT_EQ(l.LineDownCount, -7);
  }
  for (const TLineRecord& line : table.lines) EXPECT_EQ(line.G_f, -8);
  EXPECT_EQ(model.Cache().Size(), 1u);
}

TEST_F(EbfModelTest, CacheKeyIsEveryModelInput) {
  const ModelParameters b = Params(17, 5000, 100);
  model.Evaluate(b, 0);
  model.Evaluate(b, 1);
  EXPECT_EQ(model.Cache().Size(), 1u);
  // Each input changed alone is another entry.
  const std::vector<std::function<void(ModelParameters&)>> changes = {
      [](ModelParameters& p) { p.log10N1 = 16; },
      [](ModelParameters& p) { p.second = 4000; },
      [](ModelParameters& p) { p.gasTemperature = 400; },
      [](ModelParameters& p) { p.path = 0.2L; },
      [](ModelParameters& p) { p.mass = 2 * kArgonMass; },
      [](ModelParameters& p) { p.levelCount = 2; },
      [](ModelParameters& p) { p.distribution = Distribution::FirstLevels; },
  };
  for (size_t k = 0; k < changes.size(); ++k) {
    ModelParameters other = b;
    changes[k](other);
    model.Evaluate(other, 0);
    EXPECT_EQ(model.Cache().Size(), k + 2) << k;
    EXPECT_EQ(model.Cache().FindComputed(other), static_cast<int>(k + 1)) << k;
  }
  EXPECT_EQ(model.Cache().FindComputed(b), 0);
  // 0 and -0 are one key.
  ModelParameters negativeZero = b;
  negativeZero.path = 0;
  model.Evaluate(negativeZero, 0);
  negativeZero.path = -0.0L;
  EXPECT_EQ(model.Cache().FindComputed(negativeZero), static_cast<int>(changes.size() + 1));
  model.ClearCache();
  EXPECT_EQ(model.Cache().Size(), 0u);
}

// The sweep raises what the extended model raises where it cannot be
// formed, and agrees with the extended model's values where it can.
TEST_F(EbfModelTest, SweepRaisesTheModelsFaultsAndAgreesWithItsValues) {
  const std::string range = "Range check error", invalid = "Invalid floating point operation",
                    zero = "Floating point division by zero", overflow = "Floating point overflow";
  const std::vector<std::pair<ModelParameters, std::string>> faults = {
      {Params(17, 5000, 100, 2), "Unknown distribution 2: 0 is Boltzmann, 1 \"1s levels\"."},
      {Params(17, 5000, -1), range},
      {Params(17, 5000, 100, 0, 300, 0.1, 0), zero},
      {Params(17, 5000, 100, 0, -300), invalid},
      {Params(17, 0, 100), invalid},
      {Params(400, 5000, 100), overflow},
  };
  for (const auto& [p, message] : faults) {
    model.ClearCache();
    try {
      model.Sweep(p);
      ADD_FAILURE() << message << ": no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
  for (const ModelParameters& p : {Params(17, 5000, 100), Params(15, 800, 2),
                                   Params(16, 150, 4, 1)}) {
    const FractionSweep sweep = model.Sweep(p);
    const TPreCalcDataArray& values = model.EvaluateAllLines(p);
    ASSERT_EQ(sweep.values.size(), values.size());
    for (size_t j = 0; j < values.size(); ++j)
      EXPECT_NEAR(sweep.values[j], values[j], 1e-13 * std::fabs(values[j])) << j;
  }
}

// Every failure of the model raises its error.
TEST_F(EbfModelTest, FailuresRaiseTheirErrors) {
  auto run = [this](const ModelParameters& p, int line = 0) { model.Evaluate(p, line); };
  const std::string range = "Range check error", invalid = "Invalid floating point operation",
                    zero = "Floating point division by zero", overflow = "Floating point overflow";
  struct Case {
    const char* name;
    std::function<void()> action;
    std::string message;
    bool beforeStoring = true;  // raised before a cache entry is made
  };
  const std::vector<Case> cases = {
      {"unknown distribution", [&] { run(Params(17, 5000, 100, 2)); },
       "Unknown distribution 2: 0 is Boltzmann, 1 \"1s levels\"."},
      {"negative count", [&] { run(Params(17, 5000, -1)); }, range},
      {"index past the last line", [&] { run(Params(17, 5000, 100), 4); }, range, false},
      {"negative index", [&] { run(Params(17, 5000, 100), -1); }, range, false},
      {"mass 0", [&] { run(Params(17, 5000, 100, 0, 300, 0.1, 0)); }, zero},
      {"negative gas temperature", [&] { run(Params(17, 5000, 100, 0, -300)); }, invalid},
      {"excitation temperature 0", [&] { run(Params(17, 0, 100)); }, invalid},
      {"density overflows a double", [&] { run(Params(400, 5000, 100)); }, overflow},
  };
  for (const Case& c : cases) {
    model.ClearCache();
    try {
      c.action();
      ADD_FAILURE() << c.name << ": no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), c.message) << c.name;
    }
    if (c.beforeStoring) {
      EXPECT_EQ(model.Cache().Size(), 0u) << c.name;
    }
  }
}

TEST_F(EbfModelTest, UnknownDistributionWritesNothing) {
  for (TLevelRecord& l : table.levels) l.Density = 7;
  for (TLineRecord& line : table.lines) line.G_f = 8;
  EXPECT_THROW(model.Evaluate(Params(17, 5000, 100, -1), 0), Error);
  for (const TLevelRecord& l : table.levels) EXPECT_EQ(l.Density, 7);
  for (const TLineRecord& line : table.lines) EXPECT_EQ(line.G_f, 8);
}

TEST_F(EbfModelTest, FirstLevelsNeedFourLevels) {
  table.levels.resize(3);
  table.lines.resize(1);
  EXPECT_THROW(model.Evaluate(Params(17, 500, 4, 1), 0), RangeError);
}

TEST_F(EbfModelTest, ZeroLowerWeightDividesByZero) {
  table.lines[0].AR.gi = 0;
  EXPECT_THROW(model.Evaluate(Params(17, 5000, 100), 0), ZeroDivideError);
  model.ClearCache();
  table.lines[0].AR.gk = 0;
  EXPECT_THROW(model.Evaluate(Params(17, 5000, 100), 0), InvalidOpError);
}

// Whatever the model remembers between evaluations must follow its inputs:
// after any input of a line's constants or a level's population changes (and
// the cache is cleared, as every command does), the model gives what a fresh
// model gives for the changed table, and not what it gave before.
TEST_F(EbfModelTest, MemosFollowEveryChangedInput) {
  struct Case {
    const char* name;
    std::function<void(LineTable&, ModelParameters&)> change;
  };
  const std::vector<Case> cases = {
      {"wavelength", [](LineTable& t, ModelParameters&) { t.lines[1].AR.WaveLength = 760; }},
      {"Aki", [](LineTable& t, ModelParameters&) { t.lines[1].AR.Aki = 4e7; }},
      {"upper weight gk", [](LineTable& t, ModelParameters&) { t.lines[1].AR.gk = 5; }},
      {"lower weight gi", [](LineTable& t, ModelParameters&) { t.lines[1].AR.gi = 1; }},
      {"absorbing level's energy",
       [](LineTable& t, ModelParameters&) { t.levels[1].Energy = 11.7; }},
      {"absorbing level's weight", [](LineTable& t, ModelParameters&) { t.levels[1].g = 5; }},
      {"ground level's energy", [](LineTable& t, ModelParameters&) { t.levels[0].Energy = 11.45; }},
      {"ground level's weight", [](LineTable& t, ModelParameters&) { t.levels[0].g = 3; }},
      {"level count", [](LineTable&, ModelParameters& b) { b.levelCount = 1; }},
      {"gas temperature", [](LineTable&, ModelParameters& b) { b.gasTemperature = 600; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoadFixture();
    MeasureFixture();
    ModelParameters b = Params(17, 5000, 2);
    model.ClearCache();
    const TPreCalcDataArray before = model.EvaluateAllLines(b);

    c.change(table, b);
    model.ClearCache();
    const TPreCalcDataArray after = model.EvaluateAllLines(b);

    LineTable fresh = table;
    EbfModel freshModel(fresh);
    EXPECT_EQ(after, freshModel.EvaluateAllLines(b));
    EXPECT_NE(after, before);
  }
}

}  // namespace
}  // namespace lumora::test
