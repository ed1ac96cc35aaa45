// The integration options of `integrate`, shared by `fit --spectrum` and
// `map --spectrum`.
#pragma once

#include <string>
#include <vector>

#include "frontend/recording_fields.h"

namespace lumora::cli {

// Takes the options out of args; those not given keep the dialog's defaults.
SpectrumFields TakeSpectrumFields(std::vector<std::string>& args);

}  // namespace lumora::cli
