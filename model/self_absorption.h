// The effective branching fraction model: absorption-free and measured
// branching fractions of a line table, and the self-absorption model with
// its cache and memos and its derivatives for the minimiser.
#pragma once

#include <cstdint>
#include <vector>

#include "base/extended_exp.h"
#include "lsq/lsq_types.h"
#include "model/element_data.h"
#include "model/model_cache.h"
#include "model/model_memos.h"

namespace lumora {

constexpr long double kBoltzmann = 1.380658e-23L;
constexpr long double kTwoBoltzmann = 2.761316e-23L;
constexpr long double kElementaryCharge = 1.60217733e-19L;
constexpr long double kPlanck = 6.6260755e-34L;
constexpr long double kSpeedOfLight = 299792458.0L;
constexpr long double kEightPiHC = 4.9924870002727175e-24L;
constexpr long double kAtomicMassUnit = 1.6605402e-27L;

// How the absorbing levels are populated from n_1.
enum class Distribution : int {
  Boltzmann = 0,    // at the excitation temperature, over the first Count levels
  FirstLevels = 1,  // "1s levels": n_2 = n_4 from the second parameter, n_3 = 0.2 n_1
};

// The model's inputs by name. The model keys its cache on the 15-slot
// vector of the minimiser (b1 log10 n_1, b2 second, b3 Tn, b4 path, b5 mass,
// b6 level count, b7 distribution), which ToVector builds.
struct ModelParameters {
  long double log10N1 = 0;
  long double second = 0;          // T_exc in K, or the "1s levels" relative density
  long double gasTemperature = 0;  // Tn in K
  long double path = 0;            // absorption path in m
  long double mass = 0;            // in kg
  int32_t levelCount = 0;          // levels the distribution populates
  Distribution distribution = Distribution::Boltzmann;

  ParameterVector ToVector() const;
};

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

  // The G_f of every line for b (computed and cached when b is not cached).
  // Valid until the cache changes.
  const TPreCalcDataArray& EvaluateAllLines(const ParameterVector& b);
  // Every line's G_f for b computed anew and not cached, valid until the
  // next computation; n1, when given, is 10^b1 as fp::Pow10 forms it (a
  // map forms it once per grid column).
  const TPreCalcDataArray& ComputeUncached(const ParameterVector& b,
                                           const long double* n1 = nullptr);
  // G_f of line trunc(x) for b.
  long double Evaluate(const ParameterVector& b, long double x);

  // d[1], d[2]: central-difference derivatives at data point i (1-based).
  void Derivatives(int i, const PointArray& x, const ParameterVector& b, ParameterVector& d);
  // d[1] alone, formed exactly as Derivatives forms it.
  void DensityDerivative(int i, const PointArray& x, const ParameterVector& b,
                         ParameterVector& d);

  void ClearCache() { cache_.Clear(); }
  // Empties the cache but for the entry of b when it is the last one the
  // model computed: the level and line fields still hold its results, so
  // evaluating b again reads them instead of computing them anew.
  void ClearCacheKeeping(const ParameterVector& b) { cache_.ClearKeeping(b); }

 private:
  const TPreCalcDataArray& ComputeModel(const ParameterVector& b);
  void ComputeLines(const ParameterVector& b, const long double* n1, TPreCalcDataArray& data);
  void Populate(Distribution kind, const ParameterVector& b, long double n1, int32_t count);
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
};

}  // namespace lumora
