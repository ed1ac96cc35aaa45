#include "model/session.h"

#include <cmath>
#include <filesystem>
#include <fstream>

#include "base/atomic_file.h"
#include "base/errors.h"
#include "base/format.h"
#include "model/input_checks.h"
#include "model/map_file.h"
#include "model/recording_file.h"
#include "model/recording_frames.h"

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

std::string CrLfText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::vector<TRecord> AtomRecords(const TTextBase* lineBase) {
  std::vector<TRecord> records;
  if (!lineBase) return records;
  records.reserve(lineBase->AtomLength());
  for (int32_t i = 0; i < lineBase->AtomLength(); ++i)
    records.push_back(lineBase->GetAtomRecord(i));
  return records;
}

// The lines with the intensities their measurement lines carry, tied to
// their levels as the import ties them. A flagged line comes in excluded; one
// whose levels the element lacks stays out, as nothing could use it.
void ImportIntegratedLines(LineTable& table, const IntegrationResult& result) {
  table.lines.clear();
  for (const LineIntegral& l : result.lines) {
    TLineRecord line;
    line.AR = l.line;
    line.Int = MeasurementIntensity(l.area);
    line.Excluded = l.flags != 0;
    try {
      TieLineToLevels(table.levels, line);
    } catch (const Error&) {
      if (line.Excluded) continue;
      // As a measurement's import: the line that stopped it stays.
      table.lines.push_back(line);
      throw;
    }
    table.lines.push_back(line);
  }
}

bool UsableIntensity(double value) { return value >= 0 && std::isfinite(value); }

}  // namespace

DistributionChoice ChoiceFor(Distribution distribution) {
  if (distribution == Distribution::FirstLevels) return {true, kFirstLevelsCount};
  return {};
}

// Takes the excluded lines out of the table for the length of a command and
// puts them back where they stood (they carry no fractions, so there are
// none to clear): the model and every command see the included lines alone,
// in their order.
class Session::ExcludedLinesAside {
 public:
  explicit ExcludedLinesAside(LineTable& table) : table_(table) {
    std::vector<TLineRecord> included;
    for (size_t i = 0; i < table_.lines.size(); ++i) {
      if (table_.lines[i].Excluded)
        aside_.emplace_back(i, table_.lines[i]);
      else
        included.push_back(table_.lines[i]);
    }
    if (!aside_.empty()) table_.lines = std::move(included);
  }
  ~ExcludedLinesAside() {
    for (const auto& [position, line] : aside_)
      table_.lines.insert(table_.lines.begin() + static_cast<std::ptrdiff_t>(position), line);
  }
  ExcludedLinesAside(const ExcludedLinesAside&) = delete;
  ExcludedLinesAside& operator=(const ExcludedLinesAside&) = delete;

 private:
  LineTable& table_;
  std::vector<std::pair<size_t, TLineRecord>> aside_;
};

Session::Session(SessionOptions options) : options_(std::move(options)) {}

Session::~Session() { RemoveKeptLog(); }

void Session::RemoveKeptLog() {
  std::error_code ec;
  if (!keptLog_.empty()) std::filesystem::remove(keptLog_, ec);
  keptLog_.clear();
  keptLogText_.clear();
}

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
    integration_.reset();
    history_.Clear();
    linesSource_.clear();
    linesFromSpectrum_ = false;
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

void Session::RecordReplacement(std::string source, bool fromSpectrum) {
  std::optional<LineHistory::Lines> before;
  if (!table_.lines.empty())
    before = LineHistory::Lines{table_, integration_, linesSource_, linesFromSpectrum_};
  history_.RecordReplacement(std::move(before));
  linesSource_ = std::move(source);
  linesFromSpectrum_ = fromSpectrum;
}

void Session::EditIntensity(size_t line, double value) {
  const LineTable before = table_;
  SetIntensity(line, value);
  history_.RecordEdit(before);
}

void Session::EditLineIncluded(size_t line, bool included) {
  const LineTable before = table_;
  SetLineIncluded(line, included);
  history_.RecordEdit(before);
}

LineHistory::Step Session::Undo() {
  auto [step, before] = history_.Pop();
  table_ = std::move(before.table);
  if (step == LineHistory::Step::Replacement) {
    integration_ = std::move(before.integration);
    linesSource_ = std::move(before.source);
    linesFromSpectrum_ = before.fromSpectrum;
  }
  model_.ClearCache();
  return step;
}

void Session::ReadMeasurement(const std::string& path, UncertaintyColumn column) {
  RecordReplacement(path);
  ImportIntensities(table_, element_.lineBase.get(), path, options_.messages, column);
  // Only a file that was read replaces the spectrum the lines came from.
  integration_.reset();
}

void Session::SetMeasuredLines(const std::vector<double>& wavelengths,
                               const std::vector<double>& intensities) {
  if (wavelengths.size() != intensities.size()) throw RangeError();
  std::vector<TLineRecord> lines(wavelengths.size());
  for (size_t k = 0; k < lines.size(); ++k) {
    std::string message;
    if (!FindMeasuredLine(element_.lineBase.get(), wavelengths[k], intensities[k], lines[k],
                          message))
      throw Error(message);
    TieLineToLevels(table_.levels, lines[k]);
  }
  RecordReplacement({});
  table_.lines = std::move(lines);
}

const IntegrationResult& Session::ReadSpectrum(const SpectrumRequest& request) {
  IntegrationInput input;
  input.spectrum = ReadRecording(request.spectrumFile, request.frame, request.region);
  if (!request.darkFile.empty()) input.dark = ReadDarkRecording(request.darkFile, request.region);
  // A response curve may be tabulated at a few wavelengths only.
  if (!request.responseFile.empty())
    input.response = ReadSpectrumFile(request.responseFile, SpectrumKind::Curve);
  input.lines = AtomRecords(element_.lineBase.get());
  IntegrationResult integrated = IntegrateLines(input, request.options);
  RecordReplacement(request.spectrumFile, true);
  integration_ = std::move(integrated);
  ImportIntegratedLines(table_, *integration_);
  return *integration_;
}

std::vector<IntegrationReportRow> Session::IntegrationReportRows() const {
  if (!integration_) return {};
  return lumora::IntegrationReportRows(*integration_);
}

std::vector<std::string> Session::MeasurementLines() const {
  if (!integration_) return {};
  return lumora::MeasurementLines(*integration_);
}

void Session::Recalculate() {
  if (!HasEnoughLines()) throw Error("Not enough lines for EBF method.");
  ExcludedLinesAside aside(table_);
  ComputeBranchingFractions(table_);
}

void Session::SetIntensity(size_t line, double value) {
  if (line >= table_.lines.size()) throw RangeError();
  // The same rule as for a measurement file: light is never negative.
  if (!UsableIntensity(value))
    throw Error(Format("The intensity %s of the line %s nm is %s; a measured intensity is 0 or "
                       "more.",
                       FloatToStr(value), FloatToStr(table_.lines[line].AR.WaveLength),
                       value < 0 ? "negative" : "no finite number"));
  table_.lines[line].Int = value;
}

void Session::SetIntensityUncertainty(size_t line, double sigma) {
  if (line >= table_.lines.size()) throw RangeError();
  table_.lines[line].IntSigma = sigma;
}

void Session::SetLineIncluded(size_t line, bool included) {
  if (line >= table_.lines.size()) throw RangeError();
  TLineRecord& record = table_.lines[line];
  if (included && !UsableIntensity(record.Int))
    throw Error(Format("The line %s nm cannot be included: its intensity %s is %s.",
                       FloatToStr(record.AR.WaveLength), FloatToStr(record.Int),
                       record.Int < 0 ? "negative" : "no finite number"));
  record.Excluded = !included;
  // An excluded line carries no fractions: none of the commands computes them.
  if (!included) record.G_f = record.G_m = record.G_t = 0;
}

size_t Session::IncludedLineCount() const {
  size_t count = 0;
  for (const TLineRecord& line : table_.lines) count += line.Excluded ? 0 : 1;
  return count;
}

LineTable Session::IncludedLines() const {
  LineTable copy;
  copy.levels = table_.levels;
  for (const TLineRecord& line : table_.lines)
    if (!line.Excluded) copy.lines.push_back(line);
  return copy;
}

std::vector<LineTableRow> Session::TableRows(bool withFractions) const {
  return LineTableRows(table_.lines, withFractions);
}

FitResult Session::Fit(FitRequest request) {
  request.Validate();
  ExcludedLinesAside aside(table_);
  CheckMeasuredIntensities(table_.lines);
  model_.ClearCache();
  const bool ownLog = request.log.path.empty();
  if (ownLog && request.log.folder.empty()) request.log.folder = options_.logFolder;
  const bool keep = ownLog && request.log.keep;
  if (keep) request.log.text = true;  // saved from memory, whole or not at all
  StartResultsLineFor(request.target.start);
  FitResult result = RunFit(model_, request, resultsLineCount_);
  if (keep) {
    RemoveKeptLog();
    keptLog_ = result.logPath;
    keptLogText_ = result.logText;
  }
  return result;
}

void Session::SaveFitLog(const std::string& path) const {
  if (keptLog_.empty()) throw Error("No fit has kept its log.");
  // Replaced whole or not at all: a full disk keeps the earlier file.
  WriteTextFile(path, keptLogText_);
}

MapResult Session::Map(const MapRequest& request) {
  request.Validate();
  ExcludedLinesAside aside(table_);
  CheckMeasuredIntensities(table_.lines);
  model_.ClearCache();
  StartResultsLineFor(request.model);
  return MapResiduals(model_, request, resultsLineCount_);
}

void Session::StartResultsLineFor(const ModelParameters& at) {
  const ResultsColumns columns{at.distribution, at.levelCount};
  if (columns != resultsColumns_) resultsLineCount_ = 0;
  resultsColumns_ = columns;
}

LineAnalysisResult Session::AnalyzeLines(const LineAnalysisRequest& request,
                                         const std::function<void()>& linesReplaced) {
  request.Validate();
  RecordReplacement({});
  return RunLineAnalysis(model_, element_.lineBase.get(), request, linesReplaced);
}

ProfileInterval Session::Profile(const FitRequest& request, const FitResult& fit, double level) {
  // The scan's evaluations write the model's figures into the lines and
  // levels; the fit's stay.
  const LineTable fitted = table_;
  ProfileInterval interval;
  {
    ExcludedLinesAside aside(table_);
    interval = ProfileLog10N1(model_, request, fit, level);
  }
  table_ = fitted;
  model_.ClearCache();
  return interval;
}

MonteCarloResult Session::MonteCarlo(MonteCarloRequest request, const FitResult& fit) const {
  if (fit.stopCode != StopCode::ParametersUnchanged && fit.stopCode != StopCode::SumReached) {
    std::string message = "Monte Carlo refits need a fit that ended well; this one ended with \"" +
                          StopCodeResultText(fit.stopCode) + "\".";
    if (fit.stopCode == StopCode::IterationLimitReached) {
      const int limit = request.fit.solver.iterationLimit;
      message += Format(" It stopped at the iteration limit of %d: raise the limit (to %d, say) "
                        "and fit again.",
                        limit, SuggestedIterationLimit(limit));
    }
    throw Error(message);
  }
  request.fitted = fit.fitted;
  return RunMonteCarlo(IncludedLines(), request);
}

ConfidenceRegion Session::Confidence(const MapResult& map, double level) const {
  const int lineCount = static_cast<int>(IncludedLineCount());
  // Checked before the fit, which would otherwise run for nothing.
  FindConfidenceRegion(map, lineCount, level);
  const std::optional<RegionOptimum> optimum = OptimumNear(map);
  if (!optimum) return FindConfidenceRegion(map, lineCount, level);
  return FindConfidenceRegion(map, lineCount, level, *optimum);
}

std::optional<RegionOptimum> Session::OptimumNear(const MapResult& map) const {
  // The fit runs on a copy: the lines and the model stay as the map left them.
  LineTable copy = IncludedLines();
  EbfModel model(copy);
  FitRequest request;
  request.target.start = map.atMinimum;
  request.target.fitSecond = true;
  // A weighted map's optimum is the weighted fit's.
  request.uncertainty = map.uncertainty;
  request.solver.iterationLimit = 200;
  // However poorly the model describes the lines, the region rests on the
  // least sum there is.
  request.solver.refuseGrossMisfit = false;
  request.log.write = false;
  request.report.enabled = false;
  int resultsLines = 0;
  FitResult fit;
  try {
    fit = RunFit(model, request, resultsLines);
  } catch (const Error&) {
    return std::nullopt;  // no optimum to anchor the region: the grid's minimum serves
  }
  // However the minimiser stopped, its sum is the best one found.
  RegionOptimum optimum;
  optimum.log10N1 = static_cast<double>(fit.fitted.log10N1);
  optimum.second = static_cast<double>(fit.fitted.second);
  // The fit's sum as the map forms it, and its covariance per unit of that:
  // a weighted fit's covariance is on the chi-square's scale as it stands.
  if (map.Weighted()) {
    const FractionWhitening whitening(copy.lines,
                                      IntensityUncertainties(copy.lines, map.uncertainty));
    optimum.mapSum = static_cast<double>(GridPointChiSquare(model, fit.fitted, whitening));
    optimum.covariance = fit.covariance;
    return optimum;
  }
  optimum.mapSum = static_cast<double>(GridPointRSS(model, fit.fitted, kConfidenceParameters));
  const int freedom = static_cast<int>(copy.lines.size()) - kConfidenceParameters;
  optimum.covariance = fit.covariance * static_cast<long double>(freedom > 0 ? freedom : 1);
  return optimum;
}

void Session::SaveTable(const std::string& path, const std::vector<LineTableRow>& rows,
                        const std::vector<bool>& excluded,
                        const std::vector<double>& uncertainties) {
  WriteTextFile(path, LineTableFileText(rows, excluded, uncertainties));
}

void Session::SaveReport(const std::string& path, const std::vector<std::string>& lines) {
  WriteTextFile(path, CrLfText(lines));
}

void Session::SaveIntegrationReport(const std::string& path,
                                    const std::vector<IntegrationReportRow>& rows) {
  WriteTextFile(path, IntegrationReportText(rows));
}

void Session::SaveMeasurementLines(const std::string& path) const {
  WriteTextFile(path, CrLfText(MeasurementLines()));
}

std::string Session::SaveMap(const std::string& measurementFile, const std::string& header,
                             const ResidualGrid& grid) {
  return WriteMapFile(measurementFile, header, grid);
}

}  // namespace lumora
