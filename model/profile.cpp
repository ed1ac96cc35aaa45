#include "model/profile.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>

#include <cmath>
#include <functional>
#include <optional>
#include <set>

#include "base/errors.h"
#include "base/format.h"
#include "model/input_checks.h"

namespace lumora {

namespace {

// The fit's sum at given model inputs: the chi-square through the whitening
// when the fit is weighted, else the measured lines' plain sum of squares.
class SumAt {
 public:
  SumAt(EbfModel& model, const FitRequest& request) : model_(model) {
    const std::vector<TLineRecord>& lines = model.Table().lines;
    if (request.uncertainty.Weighted())
      whitening_.emplace(lines, IntensityUncertainties(lines, request.uncertainty));
  }

  double operator()(const ModelParameters& at) {
    const std::vector<TLineRecord>& lines = model_.Table().lines;
    model_.ClearCache();
    const TPreCalcDataArray& fractions = model_.EvaluateAllLines(at);
    if (whitening_) return static_cast<double>(whitening_->ChiSquare(lines, fractions));
    long double sum = 0;
    for (size_t k = 0; k < lines.size(); ++k) {
      if (!(lines[k].G_m > 0)) continue;
      const long double r = static_cast<long double>(lines[k].G_m) - fractions[k];
      sum += r * r;
    }
    return static_cast<double>(sum);
  }

 private:
  EbfModel& model_;
  std::optional<FractionWhitening> whitening_;
};

// The smallest sum over the second parameter at this log10 n_1 (golden
// section within a factor of 3 of the fit's value), or the sum itself when
// the second parameter is fixed.
double ProfileSum(SumAt& sum, ModelParameters at, bool fitSecond) {
  if (!fitSecond) return sum(at);
  const double centre = static_cast<double>(at.second);
  double a = centre / 3, b = centre * 3;
  const double ratio = (std::sqrt(5.0) - 1) / 2;
  auto value = [&](double second) {
    at.second = second;
    return sum(at);
  };
  double c = b - ratio * (b - a), d = a + ratio * (b - a);
  double fc = value(c), fd = value(d);
  for (int i = 0; i < 60; ++i) {
    if (fc < fd) {
      b = d, d = c, fd = fc;
      c = b - ratio * (b - a);
      fc = value(c);
    } else {
      a = c, c = d, fc = fd;
      d = a + ratio * (b - a);
      fd = value(d);
    }
  }
  return std::min(fc, fd);
}

// Where the profile crosses the threshold between the optimum's side `inside`
// and `outside`, by bisection.
double Crossing(const std::function<double(double)>& excess, double inside, double outside) {
  for (int i = 0; i < 50; ++i) {
    const double middle = (inside + outside) / 2;
    (excess(middle) <= 0 ? inside : outside) = middle;
  }
  return (inside + outside) / 2;
}

}  // namespace

ProfileInterval ProfileLog10N1(EbfModel& model, const FitRequest& request, const FitResult& fit,
                               double level) {
  if (!(level > 0 && level < 1))
    throw Error(Format("A profile takes a level between 0 and 1, not %s.", MessageNumber(level)));
  const std::vector<TLineRecord>& lines = model.Table().lines;
  const int freedom = FractionDegreesOfFreedom(lines, fit.parameterCount);
  if (freedom < 1) throw Error("A profile of n_1 needs more lines than the fit has parameters.");

  ProfileInterval interval;
  interval.level = level;
  SumAt sum(model, request);
  const bool fitSecond = fit.parameterCount == 2;
  const double minimum = ProfileSum(sum, fit.fitted, fitSecond);
  if (fit.weighted) {
    const boost::math::chi_squared_distribution<double> chi2(1);
    interval.threshold = minimum + boost::math::quantile(chi2, level);
  } else {
    const boost::math::fisher_f_distribution<double> f(1, freedom);
    interval.threshold = minimum * (1 + boost::math::quantile(f, level) / freedom);
  }
  const std::function<double(double)> excess = [&](double log10N1) {
    ModelParameters at = fit.fitted;
    at.log10N1 = log10N1;
    return ProfileSum(sum, at, fitSecond) - interval.threshold;
  };

  // Steps outwards, growing, until the profile leaves the region or the
  // model's edge is reached.
  const double optimum = static_cast<double>(fit.fitted.log10N1);
  const double firstStep = std::max(0.25 * static_cast<double>(fit.Log10N1Error()), 1e-4);
  auto bound = [&](double direction, double edge, bool& reachedEdge) {
    double inside = optimum, step = firstStep;
    for (;;) {
      const double next = optimum + direction * (std::fabs(inside - optimum) + step);
      if (direction * (next - edge) >= 0) {
        if (excess(edge) <= 0) {
          reachedEdge = true;
          return edge;
        }
        return Crossing(excess, inside, edge);
      }
      if (excess(next) > 0) return Crossing(excess, inside, next);
      inside = next;
      step *= 1.5;
    }
  };
  interval.log10N1From =
      bound(-1, static_cast<double>(kMinLog10Density), interval.upperLimit);
  interval.log10N1To = bound(1, static_cast<double>(kMaxLog10Density), interval.lowerLimit);
  model.ClearCache();
  return interval;
}

std::string ProfileText(const ProfileInterval& interval) {
  const double percent = interval.level * 100;
  auto density = [](double log10) { return Format("%.3e", std::pow(10.0, log10)); };
  if (interval.upperLimit && interval.lowerLimit)
    return Format("Profile %g %%: the lines do not bound n_1 at all", percent);
  if (interval.upperLimit)
    return Format("n_1 < %s m-3 (%g %%): the lines bound n_1 from above only",
                  density(interval.log10N1To), percent);
  if (interval.lowerLimit)
    return Format("n_1 > %s m-3 (%g %%): the lines bound n_1 from below only",
                  density(interval.log10N1From), percent);
  return Format("Profile %g %%: n_1 %s .. %s m-3 (log10 %.5f .. %.5f)", percent,
                density(interval.log10N1From), density(interval.log10N1To),
                interval.log10N1From, interval.log10N1To);
}

}  // namespace lumora
