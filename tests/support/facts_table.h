// The tab-separated facts tables of data/facts/: '#' lines are comments, the
// first other line names the columns, each further line is one row.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace lumora::testing {

using FactRow = std::map<std::string, std::string>;

inline std::vector<FactRow> ReadFactsTable(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<FactRow> rows;
  std::vector<std::string> header;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> cells;
    std::stringstream ss(line);
    for (std::string cell; std::getline(ss, cell, '\t');) cells.push_back(cell);
    if (header.empty()) {
      header = cells;
      continue;
    }
    FactRow row;
    for (size_t i = 0; i < header.size() && i < cells.size(); ++i) row[header[i]] = cells[i];
    rows.push_back(row);
  }
  return rows;
}

}  // namespace lumora::testing
