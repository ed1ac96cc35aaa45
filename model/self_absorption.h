// The effective branching fraction model: absorption-free and measured
// branching fractions of a line table, and the self-absorption model with
// its cache and memos and its derivatives for the minimiser.
#pragma once

#include <cstdint>
#include <vector>

#include "base/extended_exp.h"
#include "model/element_data.h"
#include "model/fraction_slopes.h"
#include "model/model_cache.h"
#include "model/model_memos.h"
#include "model/model_parameters.h"

namespace lumora {

constexpr long double kBoltzmann = 1.380658e-23L;
constexpr long double kTwoBoltzmann = 2.761316e-23L;
constexpr long double kElementaryCharge = 1.60217733e-19L;
constexpr long double kPlanck = 6.6260755e-34L;
constexpr long double kSpeedOfLight = 299792458.0L;
constexpr long double kEightPiHC = 4.9924870002727175e-24L;
constexpr long double kAtomicMassUnit = 1.6605402e-27L;

// Sums of the absorption-free and measured rates per upper level, and every
// line's G_t and G_m from them.
void ComputeBranchingFractions(LineTable& table);

long double DerivativeStep(long double v);
// The escape factor of a line of line-centre optical depth tau.
inline double EscapeFactor(double tau) {
  const long double t = tau;
  return fp::ToDouble(fp::Div(2 - fp::TableExp(-t * 0.001L), 1 + t));
}
double DopplerSpeed(double t, double m);

// The model over one line table. It writes the populations into the table's
// levels and every line's G_f; between commands the table's lines and
// levels may change, but then the cache must be cleared first.
class EbfModel {
 public:
  explicit EbfModel(LineTable& table) : table_(&table) {}
  EbfModel(const EbfModel&) = delete;
  EbfModel& operator=(const EbfModel&) = delete;

  LineTable& Table() const { return *table_; }
  ModelCache& Cache() { return cache_; }

  // The G_f of every line at p (computed and cached when p is not cached).
  // Valid until the cache changes.
  const TPreCalcDataArray& EvaluateAllLines(const ModelParameters& p);
  // Every line's G_f at p computed anew and not cached, valid until the
  // next computation; n1, when given, is 10^log10N1 as fp::Pow10 forms it
  // (a map forms it once per grid column).
  const TPreCalcDataArray& ComputeUncached(const ModelParameters& p,
                                           const long double* n1 = nullptr);
  // G_f of a line (an index into the table's lines) at p.
  long double Evaluate(const ModelParameters& p, int line);

  // Every line's G_f and its exact slopes at p, in one sweep in double
  // precision (see fraction_slopes.h); raises the model's faults as
  // Evaluate does. The last sweep is kept: the minimiser asks for it line by
  // line. Writes no field of the table.
  const FractionSweep& Sweep(const ModelParameters& p);

  // Every line's G_f at p in double precision: the sweep's values without
  // its slopes, for callers that need many parameter sets and no slopes.
  // Where double precision cannot form them the extended model computes
  // them (writing the lines' G_f) or raises its fault. Neither cached nor
  // kept: valid until the model's next computation.
  const TPreCalcDataArray& FractionValues(const ModelParameters& p);

  void ClearCache() {
    cache_.Clear();
    sweepValid_ = false;
    sweepTermsValid_ = false;
  }
  // Empties the cache but for the entry of p when it is the last one the
  // model computed: the level and line fields still hold its results, so
  // evaluating p again reads them instead of computing them anew.
  void ClearCacheKeeping(const ModelParameters& p) { cache_.ClearKeeping(p); }

 private:
  const TPreCalcDataArray& ComputeModel(const ModelParameters& p);
  void ComputeLines(const ModelParameters& p, const long double* n1, TPreCalcDataArray& data);
  void Populate(const ModelParameters& p, long double n1, int32_t count);
  void UpdateLineConstants(long double v);
  bool ReducedRatesByStage(long double path);
  void ReducedRates(long double path);

  LineTable* table_;
  ModelCache cache_;
  // Memos of what does not change within a command; each compares its
  // inputs by their bits, so a changed input is never answered from it.
  std::vector<BoltzmannFactors> boltzmannFactors_;
  std::vector<LineConstants> lineConstants_;
  long double lineConstantsSpeed_ = 0;
  std::vector<double> opticalDepths_;
  std::vector<long double> stageValues_;
  Pow10Memo pow10Memo_;
  TPreCalcDataArray uncachedValues_;
  bool SweepTermsAt(const ModelParameters& p);
  bool SweepLines(const ModelParameters& p);
  bool SweepValues(const ModelParameters& p);
  bool PrepareSweepTerms(const ModelParameters& p);

  // The last sweep, its parameters and its working arrays.
  bool sweepValid_ = false;
  ModelParameters sweepAt_;
  FractionSweep sweep_;
  std::vector<ModelJet<double>> densityJets_, upperSumJets_, fractionJets_;
  // The working arrays of FractionValues.
  std::vector<double> densityValues_, upperSumValues_;
  TPreCalcDataArray fractionValues_;
  // What the sweep takes from the table, the path and the thermal speed; kept
  // until the cache is cleared or one of these changes.
  bool sweepTermsValid_ = false;
  long double sweepTermsSpeed_ = 0, sweepTermsPath_ = 0;
  std::vector<LineTerms<double>> lineTerms_;
  std::vector<LevelTerms<double>> levelTerms_;
};

}  // namespace lumora
