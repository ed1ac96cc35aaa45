#include "cli/integration_options.h"

#include <charconv>

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

namespace {

// A frame or region number: a whole number of 1 or more.
std::optional<size_t> TakeNumberFromOne(std::vector<std::string>& args, const std::string& name) {
  std::string text;
  if (!TakeOption(args, name, text)) return std::nullopt;
  size_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value < 1)
    throw UsageError(name + " takes a whole number of 1 or more, not \"" + QuoteToken(text) +
                     "\"");
  return value - 1;
}

}  // namespace

FrameChoice TakeFrameChoice(std::vector<std::string>& args) {
  FrameChoice choice;
  choice.frame = TakeNumberFromOne(args, "--frame");
  choice.region = TakeNumberFromOne(args, "--roi").value_or(0);
  return choice;
}

}  // namespace lumora::cli
