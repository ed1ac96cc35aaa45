#include "cli/integration_options.h"

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
  for (const auto& [name, field] : options)
    if (TakeOption(args, name, value)) fields.*field = value;
  return fields;
}

}  // namespace lumora::cli
