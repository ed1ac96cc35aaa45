#include "python/session_handle.h"

#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "base/errors.h"
#include "base/format.h"
#include "frontend/field_requests.h"
#include "model/recording_frames.h"
#include "model/fit.h"
#include "python/interruption.h"
#include "settings/startup.h"

namespace lumora::python {

std::string KeywordOf(WindowField field) {
  for (const NamedField& named : CommandFields()) {
    if (named.field != field) continue;
    std::string keyword = named.name;
    std::replace(keyword.begin(), keyword.end(), '-', '_');
    return keyword;
  }
  return "";
}

std::string MakeLogFolder() {
  std::string pattern = TempFolder() + "/lumora-python-XXXXXX";
  if (!mkdtemp(pattern.data())) throw InOutError::FromErrno("Cannot create folder", pattern, errno);
  return pattern;
}

namespace {

// The distribution and the fit-temperature switch first, as lumora-cli takes
// them, so that an explicit count still overrides the one "1s" fixes.
void ApplyDistribution(const FieldOverrides& o, WindowFields& f) {
  if (o.distribution) {
    if (*o.distribution == "boltzmann") {
      f.Distribution = static_cast<int>(Distribution::Boltzmann);
    } else if (*o.distribution == "1s") {
      f.Distribution = static_cast<int>(Distribution::FirstLevels);
      const DistributionChoice choice = ChoiceFor(Distribution::FirstLevels);
      if (choice.secondAlwaysFitted) f.FitTemperatureChecked = true;
      if (choice.levelCount) f.Count = std::to_string(*choice.levelCount);
    } else {
      throw std::invalid_argument("distribution takes \"boltzmann\" or \"1s\", not \"" +
                                  *o.distribution + "\"");
    }
  }
  if (o.fitTemperature) f.FitTemperatureChecked = true;
}

// The log as `lumora-cli fit --report log` prints it: its lines, LF ended.
std::string LfText(const std::string& crLfText) {
  std::string text;
  for (const std::string& line : TextLines(crLfText)) text += line + "\n";
  return text;
}

}  // namespace

SessionHandle::SessionHandle(const std::string& ini, const std::string& element)
    : logFolder_(MakeLogFolder()), session_(SessionOptions{logFolder_, MessageCollector()}) {
  try {
    context_ = std::make_unique<SettingsContext>(ini, element);
    settingsFile_ = context_->settings().FileName();
    LoadElement();
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove_all(logFolder_, ignored);
    throw;
  }
}

SessionHandle::~SessionHandle() {
  std::error_code ignored;
  std::filesystem::remove_all(logFolder_, ignored);
}

MessageSink SessionHandle::MessageCollector() {
  return [this](const std::string& text) { messages_.push_back(text); };
}

std::vector<std::string> SessionHandle::TakeMessages() {
  std::vector<std::string> taken;
  taken.swap(messages_);
  return taken;
}

std::vector<std::string> SessionHandle::ElementNames() const {
  return context_->settings().ElementNames();
}

void SessionHandle::LoadElement() {
  const std::string element = context_->ElementName();
  const double mass = context_->ElementMass();
  WindowFields fields = context_->Fields();
  Settings& settings = context_->settings();
  ElementSource source{context_->DatabaseFolder(), settings.ReadString(element, "Levels", ""),
                       settings.ReadString(element, "Lines", "")};
  session_.ChangeElement(source);
  elementSource_ = std::move(source);
  element_ = element;
  massAmu_ = mass;
  fields_ = std::move(fields);
  dataFileName_.clear();
}

void SessionHandle::ChangeElement(const std::string& element) {
  // The settings file found at the start stays the session's.
  auto context = std::make_unique<SettingsContext>(settingsFile_, element);
  context->ElementName();
  context_ = std::move(context);
  LoadElement();
}

void SessionHandle::RecalculateWhenEnough() {
  if (session_.HasEnoughLines()) session_.Recalculate();
}

void SessionHandle::ReadMeasurement(const std::string& path, bool withUncertainties) {
  session_.ReadMeasurement(path, withUncertainties);
  dataFileName_ = std::filesystem::path(path).filename().string();
  RecalculateWhenEnough();
}

IntegrationResult SessionHandle::ReadSpectrum(SpectrumRequest request) {
  request.options.checkpoint = python::StopIfInterrupted;
  IntegrationResult result = session_.ReadSpectrum(request);
  dataFileName_ = std::filesystem::path(request.spectrumFile).filename().string();
  RecalculateWhenEnough();
  return result;
}

void SessionHandle::SetMeasuredLines(const std::vector<double>& wavelengths,
                                     const std::vector<double>& intensities,
                                     const std::string& name) {
  session_.SetMeasuredLines(wavelengths, intensities);
  dataFileName_ = name;
  RecalculateWhenEnough();
}

void SessionHandle::SetIntensity(size_t line, double value) {
  session_.SetIntensity(line, value);
  RecalculateWhenEnough();
}

void SessionHandle::SetLineIncluded(size_t line, bool included) {
  session_.SetLineIncluded(line, included);
  RecalculateWhenEnough();
}

FieldCaptions SessionHandle::FieldNames(const FieldOverrides& o) const {
  std::vector<WindowField> given;
  for (const auto& [field, text] : o.texts) given.push_back(field);
  return GivenOrSettingsNames(context_->settings(), element_, given, KeywordOf);
}

template <typename Call>
auto SessionHandle::NamingFields(const FieldOverrides& overrides, Call call) -> decltype(call()) {
  try {
    return call();
  } catch (const FieldError& e) {
    // Named already: no caption left for a later renaming to match.
    throw FieldError("", RenamedFieldMessage(e, FieldNames(overrides)));
  }
}

WindowFields SessionHandle::Fields(const FieldOverrides& o) const {
  WindowFields f = fields_;
  ApplyDistribution(o, f);
  for (const auto& [field, text] : o.texts) f.*field = text;
  return f;
}

CommandOutcome SessionHandle::Fit(const FieldOverrides& overrides, bool withLog,
                                  FitResult& result) {
  return NamingFields(overrides, [&] {
    FitRequest request = FitRequestFromFields(Fields(overrides), massAmu_, FieldNames(overrides));
    request.report.dataFileName = dataFileName_;
    request.report.kind = ReportKind::FinalResults;
    request.log.folder = logFolder_;
    request.log.text = withLog;
    request.uncertainty = overrides.uncertainty;
    request.beforeIteration = [](int) { python::StopIfInterrupted(); };
    // The model's G_m always follows the intensities, as after a read.
    session_.Recalculate();
    // Every result carries its own header, as a single-file lumora-cli run prints it.
    session_.ResetResultsLines();
    result = session_.Fit(request);
    CommandOutcome outcome;
    outcome.report = result.report;
    // A weighted fit's chi-square follows its results line, as lumora-cli prints it.
    if (result.weighted && !result.resultsLine.line.empty())
      for (const std::string& line : FitUncertaintyLines(result)) outcome.report.push_back(line);
    outcome.resultsLine = result.resultsLine;
    outcome.figures = ComputeResultsFigures(session_.Table().levels, FitResultsInput(result));
    if (withLog) outcome.log = LfText(result.logText);
    return outcome;
  });
}

CommandOutcome SessionHandle::Map(const FieldOverrides& overrides, MapResult& result) {
  return NamingFields(overrides, [&] {
    MapRequest request = MapRequestFromFields(Fields(overrides), massAmu_, FieldNames(overrides));
    request.dataFileName = dataFileName_;
    request.uncertainty = overrides.uncertainty;
    request.progress = [](int, int) { python::StopIfInterrupted(); };
    session_.Recalculate();
    session_.ResetResultsLines();
    result = session_.Map(request);
    CommandOutcome outcome;
    outcome.report = result.report;
    // A weighted map's chi-square follows its results line, as lumora-cli prints it.
    if (!result.resultsLine.line.empty())
      for (const std::string& line : MapUncertaintyLines(result)) outcome.report.push_back(line);
    outcome.resultsLine = result.resultsLine;
    outcome.figures = ComputeResultsFigures(session_.Table().levels, MapResultsInput(result));
    return outcome;
  });
}

CommandOutcome SessionHandle::MonteCarlo(const FieldOverrides& overrides,
                                         const MonteCarloSettings& settings, FitResult& fit,
                                         MonteCarloResult& result) {
  FitRequest request = FitRequestFromFields(Fields(overrides), massAmu_, FieldNames(overrides));
  request.uncertainty = overrides.uncertainty;
  MonteCarloRequest refits = MonteCarloRequestFor(request, settings);
  refits.progress = [](int, int) { python::StopIfInterrupted(); };
  CommandOutcome outcome = Fit(overrides, false, fit);
  result = session_.MonteCarlo(refits, fit);
  for (const std::string& line : MonteCarloReport(result, refits)) outcome.report.push_back(line);
  return outcome;
}

CommandOutcome SessionHandle::Confidence(const FieldOverrides& overrides, double level,
                                         MapResult& map, ConfidenceRegion& region) {
  CommandOutcome outcome = Map(overrides, map);
  region = session_.Confidence(map, level);
  outcome.report.push_back(ConfidenceText(region, map.atMinimum.distribution));
  return outcome;
}

SeriesTable SessionHandle::FitMany(const FieldOverrides& overrides,
                                   const std::vector<std::string>& files,
                                   const std::optional<SpectrumRequest>& spectrum,
                                   const std::optional<std::string>& xPattern, int threads) {
  SeriesRequest request;
  request.element = elementSource_;
  request.fit = FitRequestFromFields(Fields(overrides), massAmu_, FieldNames(overrides));
  request.fit.beforeIteration = [](int) { python::StopIfInterrupted(); };
  request.spectrum = spectrum;
  if (request.spectrum) request.spectrum->options.checkpoint = python::StopIfInterrupted;
  request.files = files;
  // An SPE file counts as its frames.
  const std::vector<RecordingFrame> frames = SeriesOverFrames(request);
  if (xPattern) request.pattern.emplace(*xPattern);
  request.threads = threads;
  request.progress = [](size_t, size_t) { python::StopIfInterrupted(); };
  SeriesTable table;
  if (threads != 1) {
    table = FitSeries(request);
  } else {
    // One worker: the session's own element, without loading it again.
    try {
      table = FitSeriesIn(session_, request);
    } catch (...) {
      session_.SetMessageSink(MessageCollector());
      throw;
    }
    session_.SetMessageSink(MessageCollector());
  }
  PlaceFrameRows(table, frames, request);
  return table;
}

LineAnalysisResult SessionHandle::Analyze(const SimulationParameters& limits,
                                          const FieldOverrides& overrides, double pairX,
                                          double pairY) {
  const WindowFields f = Fields(overrides);
  LineAnalysisRequest request;
  request.limits = limits;
  request.start = AnalysisStartFromFields(f.FitDensity, f.FitTemperature, f.Tn, f.Path, massAmu_);
  request.pairX = pairX;
  request.pairY = pairY;
  request.progress = [](int, int) { python::StopIfInterrupted(); };
  LineAnalysisResult result = session_.AnalyzeLines(request);
  dataFileName_.clear();
  return result;
}

}  // namespace lumora::python
