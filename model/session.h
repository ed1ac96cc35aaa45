// A session: the state one front end works on (an element, the lines of a
// measurement or a line analysis, the model with its cache, the count of
// results lines) and every command of the program on it. Sessions share
// nothing: two of them may run on two threads at once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/confidence_region.h"
#include "model/element_data.h"
#include "model/fit.h"
#include "model/integration_report.h"
#include "model/line_history.h"
#include "model/line_integration.h"
#include "model/line_pair_analysis.h"
#include "model/monte_carlo.h"
#include "model/profile.h"
#include "model/residual_map.h"
#include "model/self_absorption.h"
#include "model/table_text.h"

namespace lumora {

// The levels of the "1s levels" distribution.
inline constexpr int kFirstLevelsCount = 4;

// What choosing a distribution fixes for the fit: "1s levels" always fits
// its second parameter over the first four levels.
struct DistributionChoice {
  bool secondAlwaysFitted = false;
  std::optional<int> levelCount;
};
DistributionChoice ChoiceFor(Distribution distribution);

// A recorded spectrum with its optional corrections and the integration's
// options. An SPE file's frame and region of interest are counted from 0;
// an SPE dark file gives the mean of its frames.
struct SpectrumRequest {
  std::string spectrumFile;
  std::optional<size_t> frame;  // none: the first
  size_t region = 0;
  std::string darkFile;      // empty: no dark spectrum
  std::string responseFile;  // empty: no response correction
  IntegrationOptions options;
};

struct SessionOptions {
  // Where a fit writes its log; empty: the user's private log folder.
  std::string logFolder;
  MessageSink messages;  // empty: standard error
};

// What the columns of a results line depend on: the second parameter's
// kind and the levels counted.
struct ResultsColumns {
  Distribution distribution = Distribution::Boltzmann;
  int levelCount = -1;
  bool operator==(const ResultsColumns&) const = default;
};

class Session {
 public:
  explicit Session(SessionOptions options = {});
  ~Session();  // removes the log it kept
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void SetMessageSink(MessageSink sink) { options_.messages = std::move(sink); }

  // ---- the element
  // Reads the element's levels and line base and returns the listings; the
  // lines are emptied and the results lines start again with a header.
  // Input/output failures are raised as FileError.
  ElementListings ChangeElement(const ElementSource& source, bool allLines = false);
  // The same change without the listings, which take longer than the load
  // itself for a large line base; List*() build them when they are shown.
  void LoadElement(const ElementSource& source);
  const ElementData& Element() const { return element_; }
  std::vector<std::string> ListLevels() const;
  std::vector<std::string> ListLines(bool allLines) const;
  std::vector<std::string> ListStructure() const;

  // ---- the lines
  // Replaces the lines by those of a measurement file (a failure leaves the
  // lines read before it). Does not recalculate. With `withUncertainties`
  // each line's third number is its intensity's standard uncertainty.
  void ReadMeasurement(const std::string& path, bool withUncertainties = false) {
    ReadMeasurement(path, withUncertainties ? UncertaintyColumn::Required
                                            : UncertaintyColumn::Ignored);
  }
  void ReadMeasurement(const std::string& path, UncertaintyColumn column);
  // Replaces the lines by those of the given wavelengths and intensities
  // (equally many), each wavelength exactly as the line base holds it. A
  // wavelength the base lacks raises Error with the import's message and
  // leaves the lines as they were. Does not recalculate.
  void SetMeasuredLines(const std::vector<double>& wavelengths,
                        const std::vector<double>& intensities);
  // Reads a spectrum, integrates the element's lines in it and replaces the
  // lines by them with their net areas, in wavelength order: the unflagged
  // ones as reading the measurement MeasurementLines() gives would, the
  // flagged ones excluded. A refused file or option leaves the
  // lines as they were. Does not recalculate.
  const IntegrationResult& ReadSpectrum(const SpectrumRequest& request);
  // The last spectrum read since the last measurement or element change.
  const std::optional<IntegrationResult>& Integration() const { return integration_; }
  // Its report table (header first) and its measurement lines; empty
  // without a spectrum.
  std::vector<IntegrationReportRow> IntegrationReportRows() const;
  std::vector<std::string> MeasurementLines() const;
  // The branching fractions need two included lines or more.
  bool HasEnoughLines() const { return IncludedLineCount() >= 2; }
  // Absorption-free and measured branching fractions of every line; raises
  // "Not enough lines for EBF method." below two lines.
  void Recalculate();
  // A negative or non-finite value raises Error and leaves the line as it was.
  void SetIntensity(size_t line, double value);
  // The standard uncertainty of a line's intensity, as a measurement's third
  // column states it (0: none).
  void SetIntensityUncertainty(size_t line, double sigma);
  // Takes a line into the commands or leaves it out of them. An excluded
  // line stays in the table without fractions; the fractions, fit, map,
  // profile, confidence region and Monte Carlo see only the included lines.
  // Including a line whose intensity is negative or no finite number raises
  // Error and leaves it excluded. Does not recalculate.
  void SetLineIncluded(size_t line, bool included);
  size_t IncludedLineCount() const;
  // ---- edits that Undo takes back
  // SetIntensity and SetLineIncluded, each remembered on the undo stack; a
  // refused edit changes nothing and is not remembered.
  void EditIntensity(size_t line, double value);
  void EditLineIncluded(size_t line, bool included);
  // What Undo would take back next: an edit, or a replacement of the lines
  // (ReadMeasurement, SetMeasuredLines, ReadSpectrum, AnalyzeLines, each
  // over lines that were there). An element change empties the stack.
  std::optional<LineHistory::Step> NextUndo() const { return history_.Next(); }
  // Puts the lines back as they were before the latest step; after a
  // replacement also the spectrum and source they came with. Does not
  // recalculate. Raises Error when there is nothing to undo.
  LineHistory::Step Undo();
  // Edits since the lines were read, replaced or marked saved.
  bool HasUnsavedEdits() const { return history_.Unsaved(); }
  void MarkLinesSaved() { history_.MarkSaved(); }
  // Where the lines came from: the measurement or spectrum file read, or a
  // front end's name for lines it made (empty until then).
  const std::string& LinesSource() const { return linesSource_; }
  void SetLinesSource(std::string source) { linesSource_ = std::move(source); }
  // The lines are those of the spectrum Integration() holds.
  bool LinesFromSpectrum() const { return linesFromSpectrum_ && integration_.has_value(); }

  // Empties the lines, so that a failed read leaves none behind.
  void ClearLines() { table_.lines.clear(); }
  const LineTable& Table() const { return table_; }
  std::vector<LineTableRow> TableRows(bool withFractions) const;

  // ---- the commands; each starts with an empty model cache
  // Without request.log.path the fit writes a log of its own in the session's
  // log folder; with request.log.keep the session keeps the last such log
  // (removing the one before) until SaveFitLog has copied it or the session
  // ends.
  FitResult Fit(FitRequest request);
  MapResult Map(const MapRequest& request);
  LineAnalysisResult AnalyzeLines(const LineAnalysisRequest& request,
                                  const std::function<void()>& linesReplaced = {});
  // Refits of perturbed copies of the lines, each starting where `fit`
  // ended; the lines stay as they are. A fit that did not end well ("OK" or
  // "sum reached") is refused: its spread would describe no optimum.
  MonteCarloResult MonteCarlo(MonteCarloRequest request, const FitResult& fit) const;
  // The profile interval of n_1 at `level` around where `fit` (run with
  // `request` on the lines as they are) ended; the lines stay as they are.
  ProfileInterval Profile(const FitRequest& request, const FitResult& fit, double level);
  // The joint confidence region of n_1 and the second parameter at `level`
  // on a map of the lines as they are, anchored on the optimum a fit of
  // both parameters finds from the map's minimum (when the fit can run).
  // Raises Error for a level outside (0, 1) and for fewer than three lines.
  ConfidenceRegion Confidence(const MapResult& map, double level) const;

  // ---- saving
  // Writes the log of the last fit that kept it, atomically; Error when
  // there is none.
  void SaveFitLog(const std::string& path) const;
  // The table as ReadMeasurement reads it back (LineTableFileText):
  // `excluded` and `uncertainties` hold one value per line row.
  static void SaveTable(const std::string& path, const std::vector<LineTableRow>& rows,
                        const std::vector<bool>& excluded = {},
                        const std::vector<double>& uncertainties = {});
  static void SaveIntegrationReport(const std::string& path,
                                    const std::vector<IntegrationReportRow>& rows);
  // The measurement lines of the last spectrum, CR LF ended ("Save lines").
  void SaveMeasurementLines(const std::string& path) const;
  static void SaveReport(const std::string& path, const std::vector<std::string>& lines);
  // Writes the grid beside the measurement and returns the map file's path.
  static std::string SaveMap(const std::string& measurementFile, const std::string& header,
                             const ResidualGrid& grid);

  // The results lines counted since the last element change, or since the
  // columns changed: a line under another distribution or level count
  // than the line before it starts under a header of its own.
  int ResultsLineCount() const { return resultsLineCount_; }
  void ResetResultsLines() { resultsLineCount_ = 0; }

  // The lines, levels and results-line count as a command found them; a
  // front end puts them back when it cancels the command or the command
  // fails, so that neither changes anything.
  // The undo stack, the spectrum and the source go with them.
  struct State {
    LineTable table;
    int resultsLineCount = 0;
    ResultsColumns resultsColumns;
    LineHistory history;
    std::optional<IntegrationResult> integration;
    std::string linesSource;
    bool linesFromSpectrum = false;
  };
  State SaveState() const {
    return {table_,   resultsLineCount_, resultsColumns_,   history_,
            integration_, linesSource_,  linesFromSpectrum_};
  }
  void RestoreState(State state) {
    table_ = std::move(state.table);
    resultsLineCount_ = state.resultsLineCount;
    resultsColumns_ = state.resultsColumns;
    history_ = std::move(state.history);
    integration_ = std::move(state.integration);
    linesSource_ = std::move(state.linesSource);
    linesFromSpectrum_ = state.linesFromSpectrum;
    model_.ClearCache();
  }

  // The model, for the tests and benchmarks that drive it directly.
  EbfModel& Model() { return model_; }

 private:
  void StartResultsLineFor(const ModelParameters& at);

  SessionOptions options_;
  ElementData element_;
  LineTable table_;
  std::optional<IntegrationResult> integration_;
  EbfModel model_{table_};
  int resultsLineCount_ = 0;
  ResultsColumns resultsColumns_;
  std::string keptLog_;  // the last log a fit kept, removed with the next
  std::string keptLogText_;  // and its text
  LineHistory history_;
  std::string linesSource_;
  bool linesFromSpectrum_ = false;

  class ExcludedLinesAside;
  LineTable IncludedLines() const;
  void RemoveKeptLog();
  // Before the lines are replaced: the undo stack keeps them, and they
  // come from `source` (a spectrum's when `fromSpectrum`).
  void RecordReplacement(std::string source, bool fromSpectrum = false);
  std::optional<RegionOptimum> OptimumNear(const MapResult& map) const;
};

}  // namespace lumora
