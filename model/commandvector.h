// What the fit and map commands build from the window's fields: the model's
// parameter vector, the map's grid, and the map file. Shared by the window
// and the command line so that both compute the same numbers.
#pragma once

#include <string>
#include <vector>

#include "lsq/marqdef.h"
#include "settings/settings.h"

namespace lumora {

enum class CommandKind { Fit, Map };

// b1..b8 as the command builds them (b9..b15 are 0). Fit: b1 = log10 of the
// fit density, b2 = the fit temperature, b8 = the iteration limit. Map: b1,
// b2 and b8 are 0. Both: b3 = Tn, b4 = path, b5 = massAmu in kg, b6 = Count,
// b7 = the distribution. Raises ConvertError for a field that is not a
// number and Error for a fit density of 0 or below.
vector CommandVector(const WindowFields& fields, double massAmu, CommandKind kind);

// Number of free parameters of a fit: 2 when the temperature is fitted.
int FreeParameterCount(const WindowFields& fields);

// The map's grid from the map fields.
struct MapGrid {
  int densityPoints = 0;
  int temperaturePoints = 0;
  double log10FromDensity = 0;
  double log10ToDensity = 0;
  double fromTemperature = 0;
  double toTemperature = 0;
};
MapGrid MapGridFromFields(const WindowFields& fields);

// Folder of the measurement + "/Maps/" + its file name + "_map.txt".
std::string MapFilePath(const std::string& measurementFile);

// Writes the grid as a map file beside the measurement (folder created when
// missing, an existing file replaced) and returns its path. Raises
// InOutError naming the file when it cannot be written.
std::string WriteMapFile(const std::string& measurementFile, const WindowFields& fields,
                         const std::vector<std::vector<double>>& grid);

}  // namespace lumora
