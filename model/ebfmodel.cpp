#include "model/ebfmodel.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

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

// The 80 bits of an extended value, without the padding of its storage.
struct Bits80 {
  uint64_t mantissa = 0;
  uint16_t signExponent = 0;
};
Bits80 BitsOf(const long double& v) {
  Bits80 bits;
  std::memcpy(&bits.mantissa, &v, sizeof bits.mantissa);
  std::memcpy(&bits.signExponent, reinterpret_cast<const char*>(&v) + sizeof bits.mantissa,
              sizeof bits.signExponent);
  return bits;
}

// A memo hits only on the very same inputs, so compare the bits.
bool SameBits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }
bool SameBits(const long double& a, const long double& b) {
  const Bits80 x = BitsOf(a);
  const Bits80 y = BitsOf(b);
  return x.mantissa == y.mantissa && x.signExponent == y.signExponent;
}

// The factors of a level's Boltzmann population, g/g0 and exp(-dE/kT), kept
// while the level, the ground level and T_exc stay the same: a fit of n_1
// alone, and every row of a map, reuse them.
struct BoltzmannFactors {
  bool valid = false;
  double energy = 0, g = 0, groundEnergy = 0, groundG = 0;
  long double tExc = 0;
  long double ratio = 0, boltzmann = 0;

  bool Hold(const TLevelRecord& level, const TLevelRecord& ground, long double t) const {
    return valid && SameBits(tExc, t) && SameBits(energy, level.Energy) && SameBits(g, level.g) &&
           SameBits(groundEnergy, ground.Energy) && SameBits(groundG, ground.g);
  }
  // Raises the faults of the population formula, in its order.
  void Compute(const TLevelRecord& level, const TLevelRecord& ground, long double t) {
    valid = false;
    const long double exponent =
        fp::Div(-(static_cast<long double>(level.Energy) - ground.Energy) * kElementaryCharge,
                kBoltzmann * t);
    ratio = fp::Div(level.g, ground.g);
    boltzmann = fp::Exp(exponent);
    energy = level.Energy;
    g = level.g;
    groundEnergy = ground.Energy;
    groundG = ground.g;
    tExc = t;
    valid = true;
  }
};
std::vector<BoltzmannFactors> boltzmannFactors;

// 10^b1 as fp::Pow10 gives it, remembered by the bits of b1: a map asks for
// the same densities in every row, and a two-parameter fit for the same
// density with a shifted b2.
class Pow10Memo {
 public:
  long double Get(long double exponent) {
    Entry& e = entries_[Slot(exponent)];
    if (e.set && SameBits(e.exponent, exponent)) return e.value;
    const long double value = fp::Pow10(exponent);
    e = Entry{true, exponent, value};
    return value;
  }

 private:
  struct Entry {
    bool set = false;
    long double exponent = 0, value = 0;
  };
  static constexpr size_t kSlots = 512;
  static size_t Slot(const long double& v) {
    const Bits80 bits = BitsOf(v);
    const uint64_t h =
        (bits.mantissa ^ (uint64_t{bits.signExponent} << 48)) * 0x9E3779B97F4A7C15ull;
    return static_cast<size_t>(h >> 55) % kSlots;
  }
  Entry entries_[kSlots];
};
Pow10Memo pow10Memo;

// Populations of the absorbing levels (densities of levels 0..count-1).
void Populate(int kind, const vector& b, int32_t count) {
  const long double n1 = pow10Memo.Get(b[1]);
  if (kind == kDistributionBoltzmann) {
    const long double tExc = std::fabs(b[2]);
    if (boltzmannFactors.size() < static_cast<size_t>(count)) boltzmannFactors.resize(count);
    for (int32_t i = 0; i < count; ++i) {
      const TLevelRecord& ground = LevelArray[0];
      TLevelRecord& level = LevelArray[i];
      BoltzmannFactors& f = boltzmannFactors[i];
      if (!f.Hold(level, ground, tExc)) f.Compute(level, ground, tExc);
      level.Density = fp::ToDouble(n1 * f.ratio * f.boltzmann);
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

// Absorption strength of a line, lambda^5 (gk/gi) / 8 pi h c x A, with
// lambda its wavelength in m.
long double Strength(const TRecord& ar, long double lambda) {
  const long double lambda2 = lambda * lambda;
  return fp::Div(lambda2 * lambda2 * lambda * fp::Div(ar.gk, ar.gi), kEightPiHC) * ar.Aki;
}

// What a line's rate takes from the line's own data and the thermal speed,
// kept while they stay the same (a command does not change them between
// evaluations).
struct LineConstants {
  bool set = false;
  double waveLength = 0, aki = 0;
  int32_t gk = 0, gi = 0;
  bool faultless = false;    // Strength raised no fault
  long double lambda = 0;    // wavelength in m
  long double strength = 0;
  long double doppler = 0;   // sqrt(pi) v lambda

  bool Hold(const TRecord& ar) const {
    return set && SameBits(waveLength, ar.WaveLength) && SameBits(aki, ar.Aki) && gk == ar.gk &&
           gi == ar.gi;
  }
  void Compute(const TRecord& ar, long double v) {
    set = true;
    waveLength = ar.WaveLength;
    aki = ar.Aki;
    gk = ar.gk;
    gi = ar.gi;
    lambda = static_cast<long double>(ar.WaveLength) * 1e-9L;
    try {
      strength = Strength(ar, lambda);
      faultless = true;
    } catch (const std::exception&) {
      faultless = false;  // ReducedRate raises it again, in its place
    }
    doppler = kSqrtPi * v * lambda;
  }
};
std::vector<LineConstants> lineConstants;
long double lineConstantsSpeed = 0;

void UpdateLineConstants(long double v) {
  const bool sameSpeed = SameBits(v, lineConstantsSpeed);
  if (lineConstants.size() != LineArray.size()) lineConstants.resize(LineArray.size());
  for (size_t j = 0; j < LineArray.size(); ++j) {
    LineConstants& c = lineConstants[j];
    const TRecord& ar = LineArray[j].AR;
    if (!c.Hold(ar)) c.Compute(ar, v);
    else if (!sameSpeed) c.doppler = kSqrtPi * v * c.lambda;
  }
  lineConstantsSpeed = v;
}

// Line-centre optical depth of one line on path L, from its constants.
double OpticalDepth(const TLineRecord& line, const LineConstants& c, long double path) {
  const long double n = std::fabs(Level(line.LowerState).Density);
  if (!c.faultless) Strength(line.AR, c.lambda);  // raises the line's fault after the level's
  const long double p = fp::Div(n * c.strength * kPlanck, c.lambda);
  const long double kappa0 = fp::Div(p * kSpeedOfLight, c.doppler);
  return fp::ToDouble(fp::Mul(kappa0, path));
}

// Escape-reduced emission rate of a line of optical depth tau.
double ReducedRate(const TLineRecord& line, double tau) {
  return fp::ToDouble(fp::Mul(EscapeFactor(tau), line.AR.Aki));
}

// Every line's G_f before normalising. The optical depths are formed first,
// all of them, which lets their divisions overlap the exponentials of the
// escape factors; when one of them fails, the lines are done one by one so
// that the first fault is raised where it stands, after the rates before it.
std::vector<double> opticalDepths;

bool AllOpticalDepths(long double path) {
  opticalDepths.resize(LineArray.size());
  try {
    for (size_t j = 0; j < LineArray.size(); ++j)
      opticalDepths[j] = OpticalDepth(LineArray[j], lineConstants[j], path);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void ReducedRates(long double path) {
  if (AllOpticalDepths(path)) {
    for (size_t j = 0; j < LineArray.size(); ++j)
      LineArray[j].G_f = ReducedRate(LineArray[j], opticalDepths[j]);
    return;
  }
  for (size_t j = 0; j < LineArray.size(); ++j)
    LineArray[j].G_f = ReducedRate(LineArray[j], OpticalDepth(LineArray[j], lineConstants[j], path));
}

constexpr int kKeySlots = 8;  // the cache compares slots 1..8

bool SameKeyBits(const vector& a, const vector& b) {
  for (int i = 1; i <= kKeySlots; ++i)
    if (!SameBits(a.v[i], b.v[i])) return false;
  return true;
}

// Every key slot an ordinary number (zero, denormal, normal or infinite), so
// that equal bits mean equal values; not so for a nan, nor for encodings the
// FPU does not support.
bool OrdinaryKey(const vector& b) {
  for (int i = 1; i <= kKeySlots; ++i) {
    const Bits80 bits = BitsOf(b.v[i]);
    const int exponent = bits.signExponent & 0x7fff;
    const bool integerBit = (bits.mantissa >> 63) != 0;
    if (exponent == 0x7fff ? bits.mantissa != (uint64_t{1} << 63) : exponent != 0 && !integerBit)
      return false;
  }
  return true;
}

// Per computed entry: whether its key is ordinary.
std::vector<bool> ordinaryKeys;

// Entries at the front of PrecalcCache that the model itself stored.
size_t computedEntries = 0;

// Data arrays of cleared entries, reused rather than allocated anew for
// every grid point of a map.
std::vector<TPreCalcDataArray> spareArrays;
constexpr size_t kMaxSpareArrays = 64;

TPreCalcDataArray NewDataArray(size_t size) {
  if (spareArrays.empty()) return TPreCalcDataArray(size);
  TPreCalcDataArray data = std::move(spareArrays.back());
  spareArrays.pop_back();
  data.resize(size);
  return data;
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

  UpdateLineConstants(v);
  ReducedRates(path);

  for (TLevelRecord& level : LevelArray) {
    level.Sum_f = 0;
    level.LineDownCount = 0;
  }
  for (const TLineRecord& line : LineArray) {
    TLevelRecord& upper = Level(line.UpperState);
    upper.Sum_f = fp::ToDouble(static_cast<long double>(upper.Sum_f) + line.G_f);
    ++upper.LineDownCount;
  }

  TPreCalcDataArray data = NewDataArray(LineArray.size());
  for (size_t j = 0; j < LineArray.size(); ++j) {
    TLineRecord& line = LineArray[j];
    const double sum = Level(line.UpperState).Sum_f;
    line.G_f = sum > 0 ? fp::ToDouble(static_cast<long double>(line.G_f) / sum) : -1.0;
    data[j] = line.G_f;
  }
  const bool unique = computedEntries == PrecalcCache.size();
  StorePrecalc(b, std::move(data));
  if (unique) {
    computedEntries = PrecalcCache.size();
    ordinaryKeys.resize(computedEntries);
    ordinaryKeys.back() = OrdinaryKey(b);
  }
  return PrecalcCache.back().data;
}

// The entry of b, by slots 1..8, or -1. Entries stored by the model are
// unique, so the newest (most likely asked for) is searched first; when the
// cache was filled from elsewhere it is searched as FindPrecalc does.
int FindComputed(const vector& b) {
  int index = -1;
  if (computedEntries != PrecalcCache.size()) {
    FindPrecalc(b, 1, 8, index);
    return index;
  }
  for (size_t e = PrecalcCache.size(); e-- > 0;) {
    if (!SameKeyBits(PrecalcCache[e].pars, b)) continue;
    if (ordinaryKeys[e]) return static_cast<int>(e);
    break;
  }
  // Equal values in other bits (0 and -0), and nans, by comparing the values.
  const long double* key = b.v;
  for (size_t e = PrecalcCache.size(); e-- > 0;) {
    const long double* pars = PrecalcCache[e].pars.v;
    if (pars[1] == key[1] && pars[2] == key[2] && pars[3] == key[3] && pars[4] == key[4] &&
        pars[5] == key[5] && pars[6] == key[6] && pars[7] == key[7] && pars[8] == key[8])
      return static_cast<int>(e);
  }
  return -1;
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

const TPreCalcDataArray& EvaluateAllLines(const vector& b) {
  const int index = FindComputed(b);
  return index >= 0 ? PrecalcCache[index].data : ComputeModel(b);
}

long double EvaluateModel(const vector& b, long double x) {
  const TPreCalcDataArray& data = EvaluateAllLines(b);
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

void ClearPrecalcKeeping(const vector& b) {
  bool keep = !PrecalcCache.empty() && computedEntries == PrecalcCache.size() && ordinaryKeys.back();
  for (int i = 1; keep && i <= vector::kSize; ++i) keep = SameBits(PrecalcCache.back().pars.v[i], b.v[i]);
  if (!keep) {
    ClearPrecalc();
    return;
  }
  TPrecalcRecord last = std::move(PrecalcCache.back());
  PrecalcCache.pop_back();
  ClearPrecalc();
  PrecalcCache.push_back(std::move(last));
  computedEntries = 1;
  ordinaryKeys.assign(1, true);
}

void ClearPrecalc() {
  for (TPrecalcRecord& entry : PrecalcCache)
    if (spareArrays.size() < kMaxSpareArrays) spareArrays.push_back(std::move(entry.data));
  PrecalcCache.clear();
  computedEntries = 0;
  ordinaryKeys.clear();
}

}  // namespace lumora
