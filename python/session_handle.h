// What one Python `lumora.Session` holds: the settings file found as
// lumora-cli finds it, the element, a Session with a fit-log folder of its
// own, and the window's fields from the settings as the defaults of every
// command. No Python here: the module converts and releases the GIL around
// these calls, and the mutex keeps two Python threads off one session.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frontend/field_requests.h"
#include "frontend/settings_context.h"
#include "frontend/uncertainty_requests.h"
#include "model/results_line.h"
#include "model/series.h"
#include "model/session.h"
#include "settings/settings.h"

namespace lumora::python {

// The keyword arguments of fit, map and analyze: each field given, as the
// text the window's field would hold, and the two choices lumora-cli takes
// as options of their own. What is not given keeps the settings' value.
struct FieldOverrides {
  std::vector<std::pair<std::string WindowFields::*, std::string>> texts;
  std::optional<std::string> distribution;  // "boltzmann" or "1s"
  bool fitTemperature = false;
  IntensityUncertainty uncertainty;  // noise=, poisson=, sigma_column=
};

// The figures of a fit or a map with the report lines lumora-cli prints for
// one file.
struct CommandOutcome {
  std::vector<std::string> report;
  ResultsLineText resultsLine;
  ResultsFigures figures;
  std::string log;  // the fit log as `fit --report log` prints it, when asked
};

class SessionHandle {
 public:
  // ini empty: the per-user settings file after the start-up check;
  // element empty: the settings' default element.
  SessionHandle(const std::string& ini, const std::string& element);
  ~SessionHandle();
  SessionHandle(const SessionHandle&) = delete;
  SessionHandle& operator=(const SessionHandle&) = delete;

  std::mutex& Mutex() { return mutex_; }
  // Plain messages of the last call, taken (and emptied) by the caller.
  std::vector<std::string> TakeMessages();

  const std::string& SettingsFile() const { return settingsFile_; }
  const std::string& ElementName() const { return element_; }
  std::vector<std::string> ElementNames() const;
  const std::string& LogFolder() const { return logFolder_; }
  const std::string& DataFileName() const { return dataFileName_; }
  Session& Core() { return session_; }

  void ChangeElement(const std::string& element);
  // Reads the file and recalculates when there are two lines or more.
  void ReadMeasurement(const std::string& path, bool withUncertainties = false);
  // Integrates the element's lines in a recorded spectrum and takes the
  // unflagged ones as the measurement, the flagged ones excluded.
  IntegrationResult ReadSpectrum(SpectrumRequest request);
  void SetMeasuredLines(const std::vector<double>& wavelengths,
                        const std::vector<double>& intensities, const std::string& name);
  void SetIntensity(size_t line, double value);
  void SetLineIncluded(size_t line, bool included);

  WindowFields Fields(const FieldOverrides& overrides) const;
  CommandOutcome Fit(const FieldOverrides& overrides, bool withLog, FitResult& result);
  CommandOutcome Map(const FieldOverrides& overrides, MapResult& result);
  // The fit, then its refits; the outcome's report is what lumora-cli fit
  // --monte-carlo prints: the results line, then the Monte Carlo report.
  CommandOutcome MonteCarlo(const FieldOverrides& overrides, const MonteCarloSettings& settings,
                            FitResult& fit, MonteCarloResult& result);
  // The map, then its confidence region at `level`; the outcome's report is
  // what lumora-cli map --confidence prints.
  CommandOutcome Confidence(const FieldOverrides& overrides, double level, MapResult& map,
                            ConfidenceRegion& region);
  // One fit per file on `threads` workers (0: every core), each file read
  // or (with a spectrum request) integrated in a session of its own, as
  // lumora-cli fit --series fits them.
  SeriesTable FitMany(const FieldOverrides& overrides, const std::vector<std::string>& files,
                      const std::optional<SpectrumRequest>& spectrum,
                      const std::optional<std::string>& xPattern, int threads);
  LineAnalysisResult Analyze(const SimulationParameters& limits, const FieldOverrides& overrides,
                             double pairX, double pairY);

 private:
  // How messages name a field: by its keyword when the call gave it, else
  // by the settings key it came from.
  FieldCaptions FieldNames(const FieldOverrides& overrides) const;
  // Runs `call`; a refused field is named as FieldNames says.
  template <typename Call>
  auto NamingFields(const FieldOverrides& overrides, Call call) -> decltype(call());
  void LoadElement();
  void RecalculateWhenEnough();
  // Where the session's plain messages go: into messages_.
  MessageSink MessageCollector();

  std::mutex mutex_;
  std::vector<std::string> messages_;
  std::string logFolder_;
  std::unique_ptr<SettingsContext> context_;
  std::string settingsFile_;
  std::string element_;
  double massAmu_ = 0;
  ElementSource elementSource_;
  WindowFields fields_;
  std::string dataFileName_;
  Session session_;
};

// The private fit-log folder: a new folder below the temporary-files folder.
std::string MakeLogFolder();

// A field's keyword argument: its command name with "_" for "-".
std::string KeywordOf(WindowField field);

}  // namespace lumora::python
