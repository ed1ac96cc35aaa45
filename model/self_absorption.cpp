#include "model/self_absorption.h"

#include <cmath>
#include <cstdint>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"

namespace lumora {

namespace {

const long double kSqrtPi = std::sqrt(3.14159265358979323846264338327950288L);

TLevelRecord& Level(std::vector<TLevelRecord>& levels, int32_t index) {
  CheckIndex(index, levels.size());
  return levels[index];
}

// Line-centre optical depth of one line on path L, from its constants.
double OpticalDepth(const std::vector<TLevelRecord>& levels, const TLineRecord& line,
                    const LineConstants& c, long double path) {
  CheckIndex(line.LowerState, levels.size());
  const long double n = std::fabs(levels[line.LowerState].Density);
  if (!c.faultless) LineStrength(line.AR, c.lambda);  // raises the line's fault after the level's
  const long double p = fp::Div(n * c.strength * kPlanck, c.lambda);
  const long double kappa0 = fp::Div(p * kSpeedOfLight, c.doppler);
  return fp::ToDouble(fp::Mul(kappa0, path));
}

// Escape-reduced emission rate of a line of optical depth tau.
double ReducedRate(const TLineRecord& line, double tau) {
  return fp::ToDouble(fp::Mul(EscapeFactor(tau), line.AR.Aki));
}

}  // namespace

// ---- memos -------------------------------------------------------------------

void BoltzmannFactors::Compute(const TLevelRecord& level, const TLevelRecord& ground,
                               long double t) {
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

long double Pow10Memo::Get(long double exponent) {
  Entry& e = entries_[Slot(exponent)];
  if (e.set && SameBits(e.exponent, exponent)) return e.value;
  const long double value = fp::Pow10(exponent);
  e = Entry{true, exponent, value};
  return value;
}

size_t Pow10Memo::Slot(const long double& v) {
  const Bits80 bits = BitsOf(v);
  const uint64_t h = (bits.mantissa ^ (uint64_t{bits.signExponent} << 48)) * 0x9E3779B97F4A7C15ull;
  return static_cast<size_t>(h >> 55) % kSlots;
}

long double LineStrength(const TRecord& ar, long double lambda) {
  const long double lambda2 = lambda * lambda;
  return fp::Div(lambda2 * lambda2 * lambda * fp::Div(ar.gk, ar.gi), kEightPiHC) * ar.Aki;
}

void LineConstants::Compute(const TRecord& ar, long double v) {
  set = true;
  waveLength = ar.WaveLength;
  aki = ar.Aki;
  gk = ar.gk;
  gi = ar.gi;
  lambda = static_cast<long double>(ar.WaveLength) * 1e-9L;
  try {
    strength = LineStrength(ar, lambda);
    faultless = true;
  } catch (const std::exception&) {
    faultless = false;  // the optical depth raises it again, in its place
  }
  doppler = kSqrtPi * v * lambda;
}

// ---- free functions ------------------------------------------------------------

void CheckDistribution(Distribution distribution) {
  if (distribution != Distribution::Boltzmann && distribution != Distribution::FirstLevels)
    throw Error(Format("Unknown distribution %d: 0 is Boltzmann, 1 \"1s levels\".",
                       static_cast<int>(distribution)));
}

void ComputeBranchingFractions(LineTable& table) {
  for (TLevelRecord& level : table.levels) {
    level.Sum_t = 0;
    level.Sum_m = 0;
    for (const TLineRecord& line : table.lines) {
      if (line.AR.Ek_eV != level.Energy) continue;
      level.Sum_t = fp::ToDouble(static_cast<long double>(level.Sum_t) + line.AR.Aki);
      level.Sum_m = fp::ToDouble(static_cast<long double>(level.Sum_m) +
                                 static_cast<long double>(line.Int) * line.AR.WaveLength);
    }
  }
  for (TLineRecord& line : table.lines) {
    const TLevelRecord& upper = Level(table.levels, line.UpperState);
    line.G_t =
        upper.Sum_t > 0 ? fp::ToDouble(static_cast<long double>(line.AR.Aki) / upper.Sum_t) : -1.0;
    if (upper.Sum_m > 0)
      line.G_m =
          fp::ToDouble(static_cast<long double>(line.Int) * line.AR.WaveLength / upper.Sum_m);
  }
}

long double DerivativeStep(long double v) { return v * 0.01L / 2; }

double DopplerSpeed(double t, double m) {
  return fp::ToDouble(fp::Sqrt(fp::Div(kTwoBoltzmann * t, m)));
}

// ---- the model -----------------------------------------------------------------

// Populations of the absorbing levels (densities of levels 0..count-1).
void EbfModel::Populate(const ModelParameters& p, long double n1, int32_t count) {
  std::vector<TLevelRecord>& levels = table_->levels;
  if (p.distribution == Distribution::Boltzmann) {
    const long double tExc = std::fabs(p.second);
    if (boltzmannFactors_.size() < static_cast<size_t>(count)) boltzmannFactors_.resize(count);
    for (int32_t i = 0; i < count; ++i) {
      const TLevelRecord& ground = levels[0];
      TLevelRecord& level = levels[i];
      BoltzmannFactors& f = boltzmannFactors_[i];
      if (!f.Hold(level, ground, tExc)) f.Compute(level, ground, tExc);
      level.Density = fp::ToDouble(n1 * f.ratio * f.boltzmann);
    }
    return;
  }
  // "1s levels": the first four levels, whatever their energies and weights.
  levels[0].Density = fp::ToDouble(n1);
  levels[1].Density = fp::ToDouble(std::fabs(p.second) / 1000 * levels[0].Density);
  levels[2].Density = fp::ToDouble(0.2L * levels[0].Density);
  levels[3].Density = levels[1].Density;
  for (int32_t i = 4; i < count; ++i) levels[i].Density = 0;
}

void EbfModel::UpdateLineConstants(long double v) {
  const std::vector<TLineRecord>& lines = table_->lines;
  const bool sameSpeed = SameBits(v, lineConstantsSpeed_);
  if (lineConstants_.size() != lines.size()) lineConstants_.resize(lines.size());
  for (size_t j = 0; j < lines.size(); ++j) {
    LineConstants& c = lineConstants_[j];
    const TRecord& ar = lines[j].AR;
    if (!c.Hold(ar))
      c.Compute(ar, v);
    else if (!sameSpeed)
      c.doppler = kSqrtPi * v * c.lambda;
  }
  lineConstantsSpeed_ = v;
}

// Every line's G_f before normalising, stage by stage over all lines: the
// iterations of each stage are independent and short, so the divisions
// and exponentials of several lines are in flight at once where line after
// line would wait for each one. The operations of each line are those of
// OpticalDepth and ReducedRate, in their order. Any fault ends it with
// false before a G_f is written.
bool EbfModel::ReducedRatesByStage(long double path) {
  const std::vector<TLevelRecord>& levels = table_->levels;
  std::vector<TLineRecord>& lines = table_->lines;
  const size_t count = lines.size();
  for (size_t j = 0; j < count; ++j) {
    const int32_t lower = lines[j].LowerState;
    if (!lineConstants_[j].faultless || lower < 0 || static_cast<size_t>(lower) >= levels.size())
      return false;
  }
  stageValues_.resize(count);
  opticalDepths_.resize(count);
  long double* values = stageValues_.data();
  try {
    for (size_t j = 0; j < count; ++j) {
      const LineConstants& c = lineConstants_[j];
      const long double n = std::fabs(levels[lines[j].LowerState].Density);
      values[j] = fp::Div(n * c.strength * kPlanck, c.lambda);
    }
    for (size_t j = 0; j < count; ++j)
      values[j] = fp::Div(values[j] * kSpeedOfLight, lineConstants_[j].doppler);
    for (size_t j = 0; j < count; ++j) opticalDepths_[j] = fp::ToDouble(fp::Mul(values[j], path));
    // EscapeFactor, in two stages.
    for (size_t j = 0; j < count; ++j)
      values[j] = fp::TableExp(-static_cast<long double>(opticalDepths_[j]) * 0.001L);
    for (size_t j = 0; j < count; ++j) {
      const long double t = opticalDepths_[j];
      values[j] = fp::ToDouble(fp::Div(2 - values[j], 1 + t));
    }
    for (size_t j = 0; j < count; ++j)
      values[j] = fp::ToDouble(fp::Mul(static_cast<double>(values[j]), lines[j].AR.Aki));
  } catch (const std::exception&) {
    return false;
  }
  for (size_t j = 0; j < count; ++j) lines[j].G_f = static_cast<double>(values[j]);
  return true;
}

// When a line faults, the lines are done one by one so that the first
// fault is raised where it stands, after the rates before it.
void EbfModel::ReducedRates(long double path) {
  if (ReducedRatesByStage(path)) return;
  std::vector<TLineRecord>& lines = table_->lines;
  for (size_t j = 0; j < lines.size(); ++j)
    lines[j].G_f =
        ReducedRate(lines[j], OpticalDepth(table_->levels, lines[j], lineConstants_[j], path));
}

// Computes every line's G_f at p into data; n1 is 10^log10N1 when the
// caller has it, else the memo gives it where the population needs it.
void EbfModel::ComputeLines(const ModelParameters& p, const long double* n1,
                            TPreCalcDataArray& data) {
  std::vector<TLevelRecord>& levels = table_->levels;
  std::vector<TLineRecord>& lines = table_->lines;
  int32_t count = p.levelCount;
  const long double v = DopplerSpeed(fp::ToDouble(p.gasTemperature), fp::ToDouble(p.mass));
  if (count > static_cast<int32_t>(levels.size())) count = static_cast<int32_t>(levels.size());

  CheckDistribution(p.distribution);
  if (count < 0) throw RangeError();
  if (p.distribution == Distribution::FirstLevels && levels.size() < 4) throw RangeError();

  Populate(p, n1 ? *n1 : pow10Memo_.Get(p.log10N1), count);
  for (size_t i = count; i < levels.size(); ++i) levels[i].Density = 0;

  UpdateLineConstants(v);
  ReducedRates(p.path);

  for (TLevelRecord& level : levels) {
    level.Sum_f = 0;
    level.LineDownCount = 0;
  }
  for (const TLineRecord& line : lines) {
    TLevelRecord& upper = Level(levels, line.UpperState);
    upper.Sum_f = fp::ToDouble(static_cast<long double>(upper.Sum_f) + line.G_f);
    ++upper.LineDownCount;
  }

  data.resize(lines.size());
  for (size_t j = 0; j < lines.size(); ++j) {
    TLineRecord& line = lines[j];
    const double sum = Level(levels, line.UpperState).Sum_f;
    line.G_f = sum > 0 ? fp::ToDouble(static_cast<long double>(line.G_f) / sum) : -1.0;
    data[j] = line.G_f;
  }
}

// Computes every line's G_f at p and stores them as a new cache entry.
const TPreCalcDataArray& EbfModel::ComputeModel(const ModelParameters& p) {
  TPreCalcDataArray data = cache_.NewDataArray(table_->lines.size());
  ComputeLines(p, nullptr, data);
  return cache_.StoreComputed(p, std::move(data));
}

const TPreCalcDataArray& EbfModel::ComputeUncached(const ModelParameters& p,
                                                   const long double* n1) {
  ComputeLines(p, n1, uncachedValues_);
  return uncachedValues_;
}

const TPreCalcDataArray& EbfModel::EvaluateAllLines(const ModelParameters& p) {
  const int index = cache_.FindComputed(p);
  return index >= 0 ? cache_.Data(index) : ComputeModel(p);
}

long double EbfModel::Evaluate(const ModelParameters& p, int line) {
  const TPreCalcDataArray& data = EvaluateAllLines(p);
  CheckIndex(line, data.size());
  return data[line];
}

// The per-line and per-level terms of the sweep for p's path and thermal
// speed; false where the table or the inputs leave the model without them
// (the extended model then raises the fault).
bool EbfModel::PrepareSweepTerms(const ModelParameters& p) {
  const long double v = DopplerSpeed(fp::ToDouble(p.gasTemperature), fp::ToDouble(p.mass));
  if (sweepTermsValid_ && SameBits(v, sweepTermsSpeed_) && SameBits(p.path, sweepTermsPath_))
    return true;
  sweepTermsValid_ = false;
  const std::vector<TLevelRecord>& levels = table_->levels;
  const std::vector<TLineRecord>& lines = table_->lines;
  UpdateLineConstants(v);
  lineTerms_.resize(lines.size());
  for (size_t j = 0; j < lines.size(); ++j) {
    const LineConstants& c = lineConstants_[j];
    const int32_t lower = lines[j].LowerState, upper = lines[j].UpperState;
    if (!c.faultless || lower < 0 || upper < 0 || static_cast<size_t>(lower) >= levels.size() ||
        static_cast<size_t>(upper) >= levels.size())
      return false;
    const long double depth = c.strength * kPlanck / c.lambda * kSpeedOfLight / c.doppler * p.path;
    lineTerms_[j] = LineTerms<double>{static_cast<double>(depth), lines[j].AR.Aki, lower, upper};
  }
  levelTerms_.resize(levels.size());
  for (size_t i = 0; i < levels.size(); ++i)
    levelTerms_[i] = LevelTerms<double>{
        static_cast<double>(static_cast<long double>(levels[i].g) / levels[0].g),
        static_cast<double>((static_cast<long double>(levels[i].Energy) - levels[0].Energy) *
                            kElementaryCharge / kBoltzmann)};
  sweepTermsSpeed_ = v;
  sweepTermsPath_ = p.path;
  sweepTermsValid_ = true;
  return true;
}

// Whether the sweep's terms exist at p; false where the extended model
// must meet the fault.
bool EbfModel::SweepTermsAt(const ModelParameters& p) {
  if (p.distribution != Distribution::Boltzmann && p.distribution != Distribution::FirstLevels)
    return false;
  if (p.levelCount < 0) return false;
  if (p.distribution == Distribution::FirstLevels && table_->levels.size() < 4) return false;
  try {
    return PrepareSweepTerms(p);
  } catch (const std::exception&) {
    return false;
  }
}

// One sweep at p into sweep_; false where the model cannot be formed there.
bool EbfModel::SweepLines(const ModelParameters& p) {
  if (!SweepTermsAt(p)) return false;
  LevelDensities(levelTerms_, p.distribution, p.levelCount,
                 ModelJet<double>(static_cast<double>(p.log10N1), 0),
                 ModelJet<double>(static_cast<double>(p.second), 1), densityJets_);
  for (const ModelJet<double>& density : densityJets_)
    if (!ceres::isfinite(density)) return false;
  if (!BranchingFractions(densityJets_, lineTerms_, table_->levels.size(), upperSumJets_,
                          fractionJets_))
    return false;
  const size_t count = fractionJets_.size();
  sweep_.values.resize(count);
  sweep_.byLog10N1.resize(count);
  sweep_.bySecond.resize(count);
  bool finite = true;
  for (size_t j = 0; j < count; ++j) {
    const ModelJet<double>& g = fractionJets_[j];
    sweep_.values[j] = g.a;
    sweep_.byLog10N1[j] = g.v[0];
    sweep_.bySecond[j] = g.v[1];
    finite = finite && std::isfinite(g.a) && std::isfinite(g.v[0]) && std::isfinite(g.v[1]);
  }
  return finite;
}

// The sweep's values alone into values_; false where they cannot be formed
// in double precision.
bool EbfModel::SweepValues(const ModelParameters& p) {
  if (!SweepTermsAt(p)) return false;
  LevelDensities(levelTerms_, p.distribution, p.levelCount, static_cast<double>(p.log10N1),
                 static_cast<double>(p.second), densityValues_);
  for (const double density : densityValues_)
    if (!std::isfinite(density)) return false;
  if (!BranchingFractions(densityValues_, lineTerms_, table_->levels.size(), upperSumValues_,
                          fractionValues_))
    return false;
  for (const double g : fractionValues_)
    if (!std::isfinite(g)) return false;
  return true;
}

const TPreCalcDataArray& EbfModel::FractionValues(const ModelParameters& p) {
  return SweepValues(p) ? fractionValues_ : ComputeUncached(p);
}

const FractionSweep& EbfModel::Sweep(const ModelParameters& p) {
  if (sweepValid_ && SameKeyBits(sweepAt_, p)) return sweep_;
  sweepValid_ = false;
  if (!SweepLines(p)) {
    // The extended model raises the fault where it meets it.
    EvaluateAllLines(p);
    throw OverflowError();
  }
  sweepAt_ = p;
  sweepValid_ = true;
  return sweep_;
}

}  // namespace lumora
