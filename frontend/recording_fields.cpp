#include "frontend/recording_fields.h"

#include "base/numparse.h"

namespace lumora {

namespace {

constexpr const char* kSection = "_Spectrum";

// The settings key of every field, in the dialog's order.
const std::pair<const char*, std::string SpectrumFields::*> kKeys[] = {
    {"FWHM", &SpectrumFields::Fwhm},
    {"Window", &SpectrumFields::Window},
    {"ShiftMax", &SpectrumFields::ShiftMax},
    {"MinSNR", &SpectrumFields::MinSnr},
    {"Saturation", &SpectrumFields::Saturation},
    {"Dark", &SpectrumFields::DarkFile},
    {"Response", &SpectrumFields::ResponseFile},
};

std::optional<double> OptionalNumber(const std::string& text) {
  if (Trim(text).empty()) return std::nullopt;
  return StrToFloat(text);
}

}  // namespace

SpectrumRequest SpectrumRequestFromFields(const SpectrumFields& fields,
                                          const std::string& spectrumFile) {
  SpectrumRequest request;
  request.spectrumFile = spectrumFile;
  request.darkFile = fields.DarkFile;
  request.responseFile = fields.ResponseFile;
  request.options.fwhm = OptionalNumber(fields.Fwhm);
  request.options.windowFactor = StrToFloat(fields.Window);
  request.options.shiftMax = StrToFloat(fields.ShiftMax);
  request.options.minSnr = StrToFloat(fields.MinSnr);
  request.options.saturation = OptionalNumber(fields.Saturation);
  return request;
}

SpectrumFields LoadSpectrumFields(const Settings& settings) {
  SpectrumFields fields;
  for (const auto& [key, field] : kKeys)
    fields.*field = settings.ReadString(kSection, key, fields.*field);
  return fields;
}

void SaveSpectrumFields(Settings& settings, const SpectrumFields& fields) {
  for (const auto& [key, field] : kKeys) settings.WriteString(kSection, key, fields.*field);
}

}  // namespace lumora
