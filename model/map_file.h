// The map file: the residual grid written beside its measurement, under
// a header line that repeats the map's settings.
#pragma once

#include <string>

#include "model/residual_map.h"

namespace lumora {

// Folder of the measurement + "/Maps/" + its file name + "_map.txt".
std::string MapFilePath(const std::string& measurementFile);

// Writes "#" + header, then a row of the grid a line (each cell as "%.12e ",
// 12 significant digits; lines ended by CR LF) as a map file beside the
// measurement (folder created when missing, an existing file replaced) and
// returns its path. Raises InOutError naming the file when it cannot be
// written.
std::string WriteMapFile(const std::string& measurementFile, const std::string& header,
                         const ResidualGrid& grid);

}  // namespace lumora
