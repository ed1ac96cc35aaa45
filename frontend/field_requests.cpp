#include "frontend/field_requests.h"

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"

namespace lumora {

namespace {

// log10 of a density field; a value of 0 or below has no logarithm.
long double Log10Density(const std::string& text, const char* fieldName) {
  const long double value = StrToExtended(text);
  if (!(value > 0))
    throw Error(Format("%s must be greater than 0, not \"%s\".", fieldName, Trim(text)));
  return fp::Log10(value);
}

// The inputs both commands share, read in the order the fields are checked.
void ReadModelFields(const WindowFields& fields, double massAmu, ModelParameters& model) {
  model.gasTemperature = StrToExtended(fields.Tn);
  model.path = StrToExtended(fields.Path);
  model.mass = massAmu * kAtomicMassUnit;
  model.levelCount = StrToInt(fields.Count);
  model.distribution = static_cast<Distribution>(fields.Distribution);
  CheckDistribution(model.distribution);
}

}  // namespace

FitRequest FitRequestFromFields(const WindowFields& fields, double massAmu) {
  FitRequest request;
  ModelParameters& start = request.target.start;
  start.log10N1 = Log10Density(fields.FitDensity, "Density n_1 (m-3)");
  start.second = StrToExtended(fields.FitTemperature);
  request.solver.iterationLimit = StrToInt(fields.MaxIter);
  ReadModelFields(fields, massAmu, start);
  request.target.fitSecond = fields.FitTemperatureChecked;
  request.report.kind = static_cast<ReportKind>(fields.ReportKind);
  return request;
}

MapRequest MapRequestFromFields(const WindowFields& fields, double massAmu) {
  ModelParameters model;
  ReadModelFields(fields, massAmu, model);
  MapRequest request = MapGridFromFields(fields);
  request.model = model;
  return request;
}

MapRequest MapGridFromFields(const WindowFields& fields) {
  MapRequest request;
  request.log10FromDensity =
      static_cast<double>(Log10Density(fields.FromDensity, "Map density From"));
  request.log10ToDensity = static_cast<double>(Log10Density(fields.ToDensity, "Map density To"));
  request.densityPoints = StrToInt(fields.DensityPoints);
  request.fromTemperature = StrToFloat(fields.FromTemperature);
  request.toTemperature = StrToFloat(fields.ToTemperature);
  request.temperaturePoints = StrToInt(fields.TemperaturePoints);
  return request;
}

std::string MapFileHeader(const WindowFields& f) {
  return Format("%s %s %s %s %s %s %d %s %s %s", f.FromDensity, f.ToDensity, f.DensityPoints,
                f.FromTemperature, f.ToTemperature, f.TemperaturePoints, f.Distribution, f.Path,
                f.Tn, f.Count);
}

ModelParameters AnalysisStartFromFields(const std::string& density, const std::string& temperature,
                                        const std::string& tn, const std::string& path,
                                        double massAmu) {
  // One field after the other, so that the first bad one is the one named.
  const long double log10N1 = fp::Log10(StrToExtended(density));
  const long double excitationTemperature = StrToExtended(temperature);
  const long double gasTemperature = StrToExtended(tn);
  return AnalysisStart(log10N1, excitationTemperature, gasTemperature, StrToExtended(path),
                       massAmu);
}

}  // namespace lumora
