#include "frontend/field_requests.h"

#include <algorithm>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "model/input_checks.h"

namespace lumora {

namespace {

// Reads the fields' texts as numbers; a text that is no number is reported
// with its field's caption when there are captions.
class FieldReader {
 public:
  FieldReader(const WindowFields& fields, const FieldCaptions& captions)
      : fields_(fields), captions_(captions) {}

  long double Extended(WindowField field) const { return Read(field, StrToExtended); }
  double Real(WindowField field) const { return Read(field, StrToFloat); }
  int32_t Integer(WindowField field) const { return Read(field, StrToInt); }
  const WindowFields& Fields() const { return fields_; }

  // The front end's name of a field, else the window's caption.
  std::string Caption(WindowField field, const char* windowCaption) const {
    return captions_ ? captions_(field) : windowCaption;
  }

  // log10 of a density field; a value of 0 or below has no logarithm.
  long double Log10Density(WindowField field, const char* caption) const {
    const long double value = Extended(field);
    if (!(value > 0))
      throw FieldError(Caption(field, caption), Format(" must be greater than 0, not \"%s\".",
                                                       QuoteToken(Trim(fields_.*field))));
    return fp::Log10(value);
  }

  // A count of 1 or more: 0 or below would mean no limit to a loop.
  int32_t PositiveCount(WindowField field, const char* caption) const {
    const int32_t value = Integer(field);
    if (value < 1)
      throw FieldError(Caption(field, caption), Format(" must be at least 1, not \"%d\".", value));
    return value;
  }

 private:
  template <typename Parse>
  auto Read(WindowField field, Parse parse) const -> decltype(parse(std::string())) {
    try {
      return parse(fields_.*field);
    } catch (const ConvertError& e) {
      if (!captions_) throw;
      throw ConvertError(captions_(field) + ": " + e.what());
    }
  }

  const WindowFields& fields_;
  const FieldCaptions& captions_;
};

// The inputs both commands share, read in the order the fields are checked.
void ReadModelFields(const FieldReader& in, double massAmu, ModelParameters& model) {
  model.gasTemperature = in.Extended(&WindowFields::Tn);
  model.path = in.Extended(&WindowFields::Path);
  model.mass = massAmu * kAtomicMassUnit;
  model.levelCount = in.Integer(&WindowFields::Count);
  model.distribution = static_cast<Distribution>(in.Fields().Distribution);
  CheckDistribution(model.distribution);
}

}  // namespace

std::string WindowFieldCaption(const WindowFields& fields, WindowField field) {
  const std::pair<WindowField, const char*> captions[] = {
      {&WindowFields::FitDensity, "Density n_1 (m-3)"},
      {&WindowFields::MaxIter, "Max iteration number"},
      {&WindowFields::Tn, "Gas Tn (K)"},
      {&WindowFields::Path, "Abs. path (m)"},
      {&WindowFields::Count, "Count"},
      {&WindowFields::FromDensity, "Map density From"},
      {&WindowFields::ToDensity, "Map density To"},
      {&WindowFields::DensityPoints, "Map density Points"},
      {&WindowFields::FromTemperature, "Map temperature From"},
      {&WindowFields::ToTemperature, "Map temperature To"},
      {&WindowFields::TemperaturePoints, "Map temperature Points"},
  };
  const bool firstLevels = static_cast<Distribution>(fields.Distribution) ==
                           Distribution::FirstLevels;
  if (field == &WindowFields::FitTemperature)
    return SecondParameterCaption(static_cast<Distribution>(fields.Distribution));
  // Under "1s levels" the map's second axis is the 1s2/4 density ratio.
  const std::pair<WindowField, const char*> ratioCaptions[] = {
      {&WindowFields::FromTemperature, "Map 1s2/4 From"},
      {&WindowFields::ToTemperature, "Map 1s2/4 To"},
      {&WindowFields::TemperaturePoints, "Map 1s2/4 Points"},
  };
  for (const auto& [f, caption] : ratioCaptions)
    if (firstLevels && f == field) return caption;
  for (const auto& [f, caption] : captions)
    if (f == field) return caption;
  return "";
}

FieldCaptions WindowCaptions(const WindowFields& fields) {
  return [fields](WindowField field) { return WindowFieldCaption(fields, field); };
}

const std::vector<NamedField>& CommandFields() {
  static const std::vector<NamedField> fields = {
      {"density", &WindowFields::FitDensity},
      {"temperature", &WindowFields::FitTemperature},
      {"count", &WindowFields::Count},
      {"tn", &WindowFields::Tn},
      {"path", &WindowFields::Path},
      {"max-iter", &WindowFields::MaxIter},
      {"from-density", &WindowFields::FromDensity},
      {"to-density", &WindowFields::ToDensity},
      {"density-points", &WindowFields::DensityPoints},
      {"from-temperature", &WindowFields::FromTemperature},
      {"to-temperature", &WindowFields::ToTemperature},
      {"temperature-points", &WindowFields::TemperaturePoints},
  };
  return fields;
}

FieldCaptions GivenOrSettingsNames(const Settings& settings, const std::string& element,
                                   const std::vector<WindowField>& given,
                                   const FieldCaptions& name) {
  std::vector<std::pair<WindowField, std::string>> names;
  for (const NamedField& named : CommandFields()) {
    const bool typed = std::find(given.begin(), given.end(), named.field) != given.end();
    names.emplace_back(named.field, typed ? name(named.field)
                                          : WindowFieldKeyPlace(settings, element, named.field));
  }
  return [names = std::move(names)](WindowField field) {
    for (const auto& [f, text] : names)
      if (f == field) return text;
    return std::string();
  };
}

std::string RenamedFieldMessage(const FieldError& e, const FieldCaptions& names) {
  // The second parameter's caption follows the distribution: try both.
  WindowFields fields;
  for (int distribution : {0, 1}) {
    fields.Distribution = distribution;
    for (const NamedField& named : CommandFields())
      if (WindowFieldCaption(fields, named.field) == e.caption())
        return names(named.field) + e.reason();
  }
  return e.what();
}

FitRequest FitRequestFromFields(const WindowFields& fields, double massAmu,
                                const FieldCaptions& captions) {
  const FieldReader in(fields, captions);
  FitRequest request;
  ModelParameters& start = request.target.start;
  start.log10N1 = in.Log10Density(&WindowFields::FitDensity, "Density n_1 (m-3)");
  start.second = in.Extended(&WindowFields::FitTemperature);
  request.solver.iterationLimit =
      in.PositiveCount(&WindowFields::MaxIter, "Max iteration number");
  ReadModelFields(in, massAmu, start);
  request.target.fitSecond = fields.FitTemperatureChecked;
  request.report.kind = static_cast<ReportKind>(fields.ReportKind);
  return request;
}

MapRequest MapRequestFromFields(const WindowFields& fields, double massAmu,
                                const FieldCaptions& captions) {
  ModelParameters model;
  ReadModelFields(FieldReader(fields, captions), massAmu, model);
  MapRequest request = MapGridFromFields(fields, captions);
  request.model = model;
  return request;
}

MapRequest MapGridFromFields(const WindowFields& fields, const FieldCaptions& captions) {
  const FieldReader in(fields, captions);
  MapRequest request;
  request.log10FromDensity =
      static_cast<double>(in.Log10Density(&WindowFields::FromDensity, "Map density From"));
  request.log10ToDensity =
      static_cast<double>(in.Log10Density(&WindowFields::ToDensity, "Map density To"));
  request.densityPoints = in.Integer(&WindowFields::DensityPoints);
  request.fromTemperature = in.Real(&WindowFields::FromTemperature);
  request.toTemperature = in.Real(&WindowFields::ToTemperature);
  request.temperaturePoints = in.Integer(&WindowFields::TemperaturePoints);
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
