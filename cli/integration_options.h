// The integration options of `integrate`, shared by `fit --spectrum` and
// `map --spectrum`.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "frontend/recording_fields.h"

namespace lumora::cli {

// Takes the options out of args; those not given keep the dialog's defaults.
SpectrumFields TakeSpectrumFields(std::vector<std::string>& args);

// --frame K and --roi K: an SPE file's frame and region of interest, given
// from 1 as the acquisition programs count them, kept from 0.
struct FrameChoice {
  std::optional<size_t> frame;  // none: every frame
  size_t region = 0;
};
FrameChoice TakeFrameChoice(std::vector<std::string>& args);

}  // namespace lumora::cli
