#include "model/map_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

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

  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) throw InOutError::FromErrno("Cannot create file", path, errno);
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const int writeErrno = errno;
  if (std::fclose(out) != 0 || !written)
    throw InOutError::FromErrno("Cannot write file", path, written ? errno : writeErrno);
  return path;
}

}  // namespace lumora
