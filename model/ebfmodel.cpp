#include "model/ebfmodel.h"

#include <cmath>

#include "base/checked.h"
#include "model/atomicdata.h"

namespace lumora {

std::vector<TPrecalcRecord> PrecalcCache;

namespace {

constexpr int kDistributionBoltzmann = 0;
constexpr int kDistributionFirstLevels = 1;  // "1s levels"

const long double kSqrtPi = std::sqrt(3.14159265358979323846264338327950288L);

TLevelRecord& Level(int32_t index) {
  CheckIndex(index, LevelArray.size());
  return LevelArray[index];
}

// Populations of the absorbing levels (densities of levels 0..count-1).
void Populate(int kind, const vector& b, int32_t count) {
  const long double n1 = fp::Pow10(b[1]);
  if (kind == kDistributionBoltzmann) {
    const long double tExc = std::fabs(b[2]);
    for (int32_t i = 0; i < count; ++i) {
      const TLevelRecord& ground = LevelArray[0];
      TLevelRecord& level = LevelArray[i];
      const long double exponent =
          fp::Div(-(static_cast<long double>(level.Energy) - ground.Energy) * kElementaryCharge,
                  kBoltzmann * tExc);
      level.Density = fp::ToDouble(n1 * fp::Div(level.g, ground.g) * fp::Exp(exponent));
    }
    return;
  }
  // "1s levels": the first four levels, whatever their energies and weights.
  LevelArray[0].Density = fp::ToDouble(n1);
  LevelArray[1].Density = fp::ToDouble(std::fabs(b[2]) / 1000 * LevelArray[0].Density);
  LevelArray[2].Density = fp::ToDouble(0.2L * LevelArray[0].Density);
  LevelArray[3].Density = LevelArray[1].Density;
  for (int32_t i = 4; i < count; ++i) LevelArray[i].Density = 0;
}

// Escape-reduced emission rate of one line at thermal speed v and path L.
long double ReducedRate(const TLineRecord& line, long double v, long double path) {
  const long double lambda = static_cast<long double>(line.AR.WaveLength) * 1e-9L;
  const long double a = line.AR.Aki;
  const long double n = std::fabs(Level(line.LowerState).Density);
  const long double lambda2 = lambda * lambda;
  const long double strength =
      fp::Div(lambda2 * lambda2 * lambda * fp::Div(line.AR.gk, line.AR.gi), kEightPiHC) * a;
  const long double p = fp::Div(n * strength * kPlanck, lambda);
  const long double kappa0 = fp::Div(p * kSpeedOfLight, kSqrtPi * v * lambda);
  const long double tau = fp::Mul(kappa0, path);
  return fp::Mul(EscapeFactor(fp::ToDouble(tau)), a);
}

// Computes every line's G_f for b and stores them as a new cache entry.
const TPreCalcDataArray& ComputeModel(const vector& b) {
  const long double tn = b[3];
  const long double path = b[4];
  const long double mass = b[5];
  int32_t count = fp::TruncInt32(b[6]);
  const long double v = DopplerSpeed(fp::ToDouble(tn), fp::ToDouble(mass));
  if (count > static_cast<int32_t>(LevelArray.size())) count = static_cast<int32_t>(LevelArray.size());

  const long double kindValue = std::trunc(b[7]);
  if (kindValue != kDistributionBoltzmann && kindValue != kDistributionFirstLevels)
    throw Error("b[7] case else part");
  const int kind = static_cast<int>(kindValue);
  if (count < 0) throw RangeError();
  if (kind == kDistributionFirstLevels && LevelArray.size() < 4) throw RangeError();

  Populate(kind, b, count);
  for (size_t i = count; i < LevelArray.size(); ++i) LevelArray[i].Density = 0;

  for (TLineRecord& line : LineArray) line.G_f = fp::ToDouble(ReducedRate(line, v, path));

  for (TLevelRecord& level : LevelArray) {
    level.Sum_f = 0;
    level.LineDownCount = 0;
  }
  for (const TLineRecord& line : LineArray) {
    TLevelRecord& upper = Level(line.UpperState);
    upper.Sum_f = fp::ToDouble(static_cast<long double>(upper.Sum_f) + line.G_f);
    ++upper.LineDownCount;
  }

  TPreCalcDataArray data(LineArray.size());
  for (size_t j = 0; j < LineArray.size(); ++j) {
    TLineRecord& line = LineArray[j];
    const double sum = Level(line.UpperState).Sum_f;
    line.G_f = sum > 0 ? fp::ToDouble(static_cast<long double>(line.G_f) / sum) : -1.0;
    data[j] = line.G_f;
  }
  StorePrecalc(b, std::move(data));
  return PrecalcCache.back().data;
}

}  // namespace

void ComputeBranchingFractions() {
  for (TLevelRecord& level : LevelArray) {
    level.Sum_t = 0;
    level.Sum_m = 0;
    for (const TLineRecord& line : LineArray) {
      if (line.AR.Ek_eV != level.Energy) continue;
      level.Sum_t = fp::ToDouble(static_cast<long double>(level.Sum_t) + line.AR.Aki);
      level.Sum_m = fp::ToDouble(static_cast<long double>(level.Sum_m) +
                                 static_cast<long double>(line.Int) * line.AR.WaveLength);
    }
  }
  for (TLineRecord& line : LineArray) {
    const TLevelRecord& upper = Level(line.UpperState);
    line.G_t = upper.Sum_t > 0 ? fp::ToDouble(static_cast<long double>(line.AR.Aki) / upper.Sum_t) : -1.0;
    if (upper.Sum_m > 0)
      line.G_m = fp::ToDouble(static_cast<long double>(line.Int) * line.AR.WaveLength / upper.Sum_m);
  }
}

long double EvaluateModel(int /*n*/, const vector& b, bool& /*flag*/, long double x) {
  return EvaluateModel(b, x);
}

long double EvaluateModel(const vector& b, long double x) {
  int index = -1;
  const TPreCalcDataArray& data = FindPrecalc(b, 1, 8, index) ? PrecalcCache[index].data : ComputeModel(b);
  const int32_t line = fp::TruncInt32(x);
  CheckIndex(line, data.size());
  return data[line];
}

void ModelDerivatives(int i, const TMarqArray& x, int /*n*/, vector b, vector& d, bool& /*flag*/) {
  vector c = b;
  const long double xi = x[i];
  for (int k = 1; k <= 2; ++k) {
    const long double s = c[k];
    const long double h = DerivativeStep(s);
    c[k] = s + h;
    const long double fPlus = EvaluateModel(c, xi);
    c[k] = s - h;
    const long double fMinus = EvaluateModel(c, xi);
    d[k] = fp::Div(fPlus - fMinus, 2 * h);
    c[k] = s;
  }
}

long double DerivativeStep(long double v) { return v * 0.01L / 2; }

double EscapeFactor(double tau) {
  const long double t = tau;
  return fp::ToDouble(fp::Div(2 - fp::Exp(-t * 0.001L), 1 + t));
}

double DopplerSpeed(double t, double m) {
  return fp::ToDouble(fp::Sqrt(fp::Div(kTwoBoltzmann * t, m)));
}

bool FindPrecalc(const vector& b, int first, int count, int& index) {
  index = -1;
  for (size_t e = 0; e < PrecalcCache.size(); ++e) {
    const vector& pars = PrecalcCache[e].pars;
    bool same = true;
    for (int p = first; p < first + count && same; ++p) same = pars[p] == b[p];
    if (same) {
      index = static_cast<int>(e);
      return true;
    }
  }
  return false;
}

void StorePrecalc(const vector& b, TPreCalcDataArray data) {
  PrecalcCache.push_back(TPrecalcRecord{b, std::move(data)});
}

void ClearPrecalc() {
  PrecalcCache.clear();
  PrecalcCache.shrink_to_fit();
}

}  // namespace lumora
