#include "model/input_checks.h"

#include <cmath>

#include "base/errors.h"
#include "base/format.h"

namespace lumora {

void CheckAboveZero(long double value, const char* caption) {
  if (!(value > 0))
    throw FieldError(caption, Format(" must be greater than 0, not \"%s\".", MessageNumber(value)));
}

void CheckModelInputs(const ModelParameters& model) {
  CheckAboveZero(model.path, kPathCaption);
  if (model.path > kMaxPath)
    throw FieldError(kPathCaption, Format(" must be at most %s, not \"%s\".",
                                          MessageNumber(kMaxPath), MessageNumber(model.path)));
  CheckAboveZero(model.gasTemperature, kGasTemperatureCaption);
  CheckAboveZero(model.mass, kMassCaption);
  if (model.levelCount < 1)
    throw FieldError(kCountCaption, Format(" must be at least 1, not \"%d\".", model.levelCount));
}

void CheckLog10Density(long double log10N1, const char* caption) {
  if (log10N1 >= kMinLog10Density && log10N1 <= kMaxLog10Density) return;
  const auto density = [](long double log10) { return MessageNumber(std::pow(10.0L, log10)); };
  throw FieldError(caption,
                   Format(" must lie between %s and %s, not \"%s\".", density(kMinLog10Density),
                          density(kMaxLog10Density), density(log10N1)));
}

void CheckSecondParameter(long double second, Distribution distribution, const char* caption) {
  if (distribution != Distribution::FirstLevels) {
    CheckAboveZero(second, caption);
    return;
  }
  if (!(second >= 0))
    throw FieldError(caption, Format(" must not be negative, not \"%s\".", MessageNumber(second)));
}

const char* SecondParameterCaption(Distribution distribution) {
  return distribution == Distribution::FirstLevels ? "Fit 1s2/4 log10 N" : "Fit T_exc (K)";
}

void CheckMeasuredIntensities(const std::vector<TLineRecord>& lines) {
  for (const TLineRecord& line : lines)
    if (line.Int > 0) return;
  throw Error("No line of the measurement has an intensity greater than 0.");
}

}  // namespace lumora
