// The effective branching fraction model: absorption-free and measured
// branching fractions, the self-absorption model with its cache, and its
// derivatives for the minimiser. Works on LevelArray and LineArray.
#pragma once

#include <vector>

#include "lsq/marqdef.h"

namespace lumora {

constexpr long double kBoltzmann = 1.380658e-23L;
constexpr long double kTwoBoltzmann = 2.761316e-23L;
constexpr long double kElementaryCharge = 1.60217733e-19L;
constexpr long double kPlanck = 6.6260755e-34L;
constexpr long double kSpeedOfLight = 299792458.0L;
constexpr long double kEightPiHC = 4.9924870002727175e-24L;
constexpr long double kAtomicMassUnit = 1.6605402e-27L;

using TPreCalcDataArray = std::vector<double>;
struct TPrecalcRecord {
  vector pars;
  TPreCalcDataArray data;
};
extern std::vector<TPrecalcRecord> PrecalcCache;

void ComputeBranchingFractions();

// G_f of line trunc(x) for parameter vector b (computing all lines when b is
// not cached). Has the shape of the minimiser's model callback.
long double EvaluateModel(int n, const vector& b, bool& flag, long double x);
long double EvaluateModel(const vector& b, long double x);

// The G_f of every line for b, as EvaluateModel gives them one at a time
// (computed and cached when b is not cached). Valid until the cache changes.
const TPreCalcDataArray& EvaluateAllLines(const vector& b);

// d[1], d[2]: central-difference derivatives at data point i (1-based).
void ModelDerivatives(int i, const TMarqArray& x, int n, vector b, vector& d, bool& flag);

long double DerivativeStep(long double v);
double EscapeFactor(double tau);
double DopplerSpeed(double t, double m);

bool FindPrecalc(const vector& b, int first, int count, int& index);
void StorePrecalc(const vector& b, TPreCalcDataArray data);
void ClearPrecalc();
// Empties the cache but for the entry of b (all 15 slots alike) when it is
// the last one the model computed: the level and line fields still hold its
// results, so evaluating b again reads them instead of computing them anew.
// The level and line data must not have changed since, as for any cache use.
void ClearPrecalcKeeping(const vector& b);

}  // namespace lumora
