#include "model/session.h"

#include <chrono>

#include "base/atomic_file.h"
#include "base/errors.h"
#include "model/map_file.h"

namespace lumora {

namespace {

std::string WithoutTrailingDelimiter(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// A saved file is replaced whole or not at all, so a failed save never
// leaves the user's earlier file cut short.
void WriteTextFile(const std::string& path, const std::string& text) {
  WriteFileAtomically(path, text);
}

}  // namespace

DistributionChoice ChoiceFor(Distribution distribution) {
  if (distribution == Distribution::FirstLevels) return {true, kFirstLevelsCount};
  return {};
}

Session::Session(SessionOptions options)
    : options_(std::move(options)),
      noise_(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())) {}

ElementListings Session::ChangeElement(const ElementSource& source, bool allLines) {
  LoadElement(source);
  ElementListings listings;
  listings.levels = ListLevels();
  listings.lines = ListLines(allLines);
  listings.structure = ListStructure();
  return listings;
}

void Session::LoadElement(const ElementSource& source) {
  const std::string folder = WithoutTrailingDelimiter(source.databaseFolder);
  try {
    bool replaced = false;
    try {
      ReadLevels(folder + "/" + source.levelsFile, element_.levels, options_.messages, replaced);
    } catch (...) {
      // The lines' level indexes refer to levels that are gone.
      if (replaced) {
        table_.lines.clear();
        table_.levels = element_.levels;
      }
      throw;
    }
    table_.lines.clear();
    table_.levels = element_.levels;
    element_.lineBase = OpenLineBase(folder, source.linesSetting);
  } catch (const InOutError& e) {
    throw FileError(e.what());
  }
  resultsLineCount_ = 0;
}

std::vector<std::string> Session::ListLevels() const { return lumora::ListLevels(element_.levels); }

std::vector<std::string> Session::ListLines(bool allLines) const {
  return lumora::ListLines(element_.lineBase.get(), allLines);
}

std::vector<std::string> Session::ListStructure() const {
  return ListLevelLineStructure(element_.levels, element_.lineBase.get());
}

void Session::ReadMeasurement(const std::string& path) {
  ImportIntensities(table_, element_.lineBase.get(), path, options_.messages);
}

void Session::Recalculate() {
  if (!HasEnoughLines()) throw Error("Not enough lines for EBF method.");
  ComputeBranchingFractions(table_);
}

void Session::SetIntensity(size_t line, double value) {
  if (line >= table_.lines.size()) throw RangeError();
  table_.lines[line].Int = value;
}

std::vector<LineTableRow> Session::TableRows(bool withFractions) const {
  return LineTableRows(table_.lines, withFractions);
}

FitResult Session::Fit(FitRequest request) {
  model_.ClearCache();
  if (request.logPath.empty()) request.logPath = options_.logFolder + "/" + kFitLogFileName;
  return RunFit(model_, request, resultsLineCount_, &noise_);
}

MapResult Session::Map(const MapRequest& request) {
  model_.ClearCache();
  return MapResiduals(model_, request, resultsLineCount_);
}

LineAnalysisResult Session::AnalyzeLines(const LineAnalysisRequest& request,
                                         const std::function<void()>& linesReplaced) {
  return RunLineAnalysis(model_, element_.lineBase.get(), request, linesReplaced);
}

void Session::SaveTable(const std::string& path, const std::vector<LineTableRow>& rows) {
  WriteTextFile(path, LineTableText(rows));
}

void Session::SaveReport(const std::string& path, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  WriteTextFile(path, text);
}

std::string Session::SaveMap(const std::string& measurementFile, const std::string& header,
                             const ResidualGrid& grid) {
  return WriteMapFile(measurementFile, header, grid);
}

}  // namespace lumora
