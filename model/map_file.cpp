#include "model/map_file.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

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

namespace {

// One row of cells as the map file holds it.
std::string RowText(const std::vector<double>& row) {
  std::string text;
  text.reserve(row.size() * 20 + 2);
  for (double cell : row) {
    AppendScientific(text, cell, 12, 3);  // Format("%.12e ")'s text, faster
    text += ' ';
  }
  text += "\r\n";
  return text;
}

}  // namespace

std::string WriteMapFile(const std::string& measurementFile, const std::string& header,
                         const ResidualGrid& grid) {
  const std::string path = MapFilePath(measurementFile);
  const std::string folder = std::filesystem::path(path).parent_path().string();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) throw InOutError("Cannot create folder \"" + folder + "\": " + ec.message(), ec.value());

  // Formatting the cells costs more than computing them: the rows are
  // formatted in parallel, each into a buffer of its own, and written in
  // order without joining them first.
  std::vector<std::string> rows(grid.size());
  tbb::parallel_for(tbb::blocked_range<size_t>(0, grid.size()),
                    [&](const tbb::blocked_range<size_t>& range) {
                      for (size_t i = range.begin(); i != range.end(); ++i)
                        rows[i] = RowText(grid[i]);
                    });
  AtomicFile file(path);
  file.Write("#" + header + "\r\n");
  for (const std::string& row : rows) file.Write(row);
  file.Commit();
  return path;
}

}  // namespace lumora
