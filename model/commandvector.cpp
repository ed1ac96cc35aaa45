#include "model/commandvector.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "model/ebfmodel.h"

namespace lumora {

namespace {

// log10 of a density field; a value of 0 or below has no logarithm.
long double Log10Density(const std::string& text, const char* fieldName) {
  const long double value = StrToExtended(text);
  if (!(value > 0))
    throw Error(Format("%s must be greater than 0, not \"%s\".", fieldName, Trim(text)));
  return fp::Log10(value);
}

}  // namespace

vector CommandVector(const WindowFields& fields, double massAmu, CommandKind kind) {
  vector b;
  if (kind == CommandKind::Fit) {
    b[1] = Log10Density(fields.FitDensity, "Density n_1 (m-3)");
    b[2] = StrToExtended(fields.FitTemperature);
    b[8] = StrToInt(fields.MaxIter);
  }
  b[3] = StrToExtended(fields.Tn);
  b[4] = StrToExtended(fields.Path);
  b[5] = massAmu * kAtomicMassUnit;
  b[6] = StrToInt(fields.Count);
  b[7] = fields.Distribution;
  return b;
}

int FreeParameterCount(const WindowFields& fields) {
  return fields.FitTemperatureChecked ? 2 : 1;
}

MapGrid MapGridFromFields(const WindowFields& fields) {
  MapGrid grid;
  grid.log10FromDensity = static_cast<double>(Log10Density(fields.FromDensity, "Map density From"));
  grid.log10ToDensity = static_cast<double>(Log10Density(fields.ToDensity, "Map density To"));
  grid.densityPoints = StrToInt(fields.DensityPoints);
  grid.fromTemperature = StrToFloat(fields.FromTemperature);
  grid.toTemperature = StrToFloat(fields.ToTemperature);
  grid.temperaturePoints = StrToInt(fields.TemperaturePoints);
  return grid;
}

std::string MapFilePath(const std::string& measurementFile) {
  const std::filesystem::path file(measurementFile);
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  return (folder / "Maps" / (file.filename().string() + "_map.txt")).string();
}

std::string WriteMapFile(const std::string& measurementFile, const WindowFields& fields,
                         const std::vector<std::vector<double>>& grid) {
  const std::string path = MapFilePath(measurementFile);
  const std::string folder = std::filesystem::path(path).parent_path().string();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw InOutError("Cannot create folder \"" + folder + "\": " + ec.message(), ec.value());

  std::string text = Format("#%s %s %s %s %s %s %d %s %s %s", fields.FromDensity,
                            fields.ToDensity, fields.DensityPoints, fields.FromTemperature,
                            fields.ToTemperature, fields.TemperaturePoints, fields.Distribution,
                            fields.Path, fields.Tn, fields.Count);
  text += "\r\n";
  for (const auto& row : grid) {
    for (double cell : row) text += Format("%.12e ", cell);
    text += "\r\n";
  }

  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) throw InOutError::FromErrno("Cannot create file", path, errno);
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const int writeErrno = errno;
  if (std::fclose(out) != 0 || !written)
    throw InOutError::FromErrno("Cannot write file", path, written ? errno : writeErrno);
  return path;
}

}  // namespace lumora
