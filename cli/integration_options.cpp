#include "cli/integration_options.h"

#include "base/errors.h"
#include "base/numparse.h"
#include "cli/command.h"

namespace lumora::cli {

SpectrumFields TakeSpectrumFields(std::vector<std::string>& args) {
  SpectrumFields fields;
  const std::pair<const char*, std::string SpectrumFields::*> options[] = {
      {"--fwhm", &SpectrumFields::Fwhm},
      {"--window", &SpectrumFields::Window},
      {"--shift-max", &SpectrumFields::ShiftMax},
      {"--dark", &SpectrumFields::DarkFile},
      {"--response", &SpectrumFields::ResponseFile},
      {"--min-snr", &SpectrumFields::MinSnr},
      {"--saturation", &SpectrumFields::Saturation},
  };
  std::string value;
  for (const auto& [name, field] : options) {
    if (!TakeOption(args, name, value)) continue;
    // A number that is none is named by its option here; the request
    // built from the fields later knows no options.
    const bool file = field == &SpectrumFields::DarkFile || field == &SpectrumFields::ResponseFile;
    if (!file && !Trim(value).empty()) {
      try {
        (void)StrToFloat(value);
      } catch (const ConvertError& e) {
        throw ConvertError(std::string(name) + ": " + e.what());
      }
    }
    fields.*field = value;
  }
  return fields;
}

}  // namespace lumora::cli
