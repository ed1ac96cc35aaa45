#include "model/map_file.h"

#include <filesystem>
#include <system_error>

#include "base/atomic_file.h"
#include "base/errors.h"
#include "base/format.h"

namespace lumora {

std::string MapFilePath(const std::string& measurementFile) {
  const std::filesystem::path file(measurementFile);
  std::filesystem::path folder = file.parent_path();
  if (folder.empty()) folder = ".";
  return (folder / "Maps" / (file.filename().string() + "_map.txt")).string();
}

std::string WriteMapFile(const std::string& measurementFile, const std::string& header,
                         const ResidualGrid& grid) {
  const std::string path = MapFilePath(measurementFile);
  const std::string folder = std::filesystem::path(path).parent_path().string();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw InOutError("Cannot create folder \"" + folder + "\": " + ec.message(), ec.value());

  std::string text = "#" + header + "\r\n";
  for (const auto& row : grid) {
    for (double cell : row) text += Format("%.12e ", cell);
    text += "\r\n";
  }

  WriteFileAtomically(path, text);
  return path;
}

}  // namespace lumora
