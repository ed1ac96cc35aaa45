// The commands' requests from the texts of the window's fields, shared by
// the window and the command line so that both compute the same numbers.
// A field that is not a number raises ConvertError; a density of 0 or below
// raises Error naming the field.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "model/fit.h"
#include "model/line_pair_analysis.h"
#include "model/residual_map.h"
#include "settings/settings.h"

namespace lumora {

// How a front end names a field in a message about its text; empty: the
// message of the number alone.
using WindowField = std::string WindowFields::*;
using FieldCaptions = std::function<std::string(WindowField field)>;

// The window's caption of each field ("Gas Tn (K)", "Map density Points",
// ...); the second parameter's follows the distribution.
std::string WindowFieldCaption(const WindowFields& fields, WindowField field);
// The window's captions as the request builders below take them.
FieldCaptions WindowCaptions(const WindowFields& fields);

// The fields the command line and Python take, under their names there:
// "max-iter" is lumora-cli's --max-iter and Python's max_iter.
struct NamedField {
  const char* name;
  WindowField field;
};
const std::vector<NamedField>& CommandFields();

// Names each of the fields above by `name` when the user gave it (an option,
// a keyword), else by the settings key it was filled from.
FieldCaptions GivenOrSettingsNames(const Settings& settings, const std::string& element,
                                   const std::vector<WindowField>& given,
                                   const FieldCaptions& name);

// A refused field's message with the field named the front end's way
// (names(field) in place of the window's caption); e.what() when the
// caption is none of the fields'.
std::string RenamedFieldMessage(const FieldError& e, const FieldCaptions& names);

// Fit: n_1 from "Density n_1 (m-3)", the second parameter, the iteration
// limit, Tn, path, the mass (given in u) in kg, Count and the distribution.
// A text that is no number raises ConvertError, led by its field's caption
// when the front end gives captions.
FitRequest FitRequestFromFields(const WindowFields& fields, double massAmu,
                                const FieldCaptions& captions = {});

// Map: Tn, path, mass, Count and the distribution, then the grid.
MapRequest MapRequestFromFields(const WindowFields& fields, double massAmu,
                                const FieldCaptions& captions = {});
// The grid alone: the density and temperature ranges and point counts.
MapRequest MapGridFromFields(const WindowFields& fields, const FieldCaptions& captions = {});

// The header line of the map file: the map's fields as they were typed.
std::string MapFileHeader(const WindowFields& fields);

// The start of a line analysis from the fit's density and temperature, Tn
// and path.
ModelParameters AnalysisStartFromFields(const std::string& density, const std::string& temperature,
                                        const std::string& tn, const std::string& path,
                                        double massAmu);

}  // namespace lumora
