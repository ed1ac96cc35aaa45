// lumora-cli fit FILE... and lumora-cli map FILE...: for each measurement
// import it, recalculate, run the fit or the map and print the report lines
// the window would append (or with --json one JSON object per file). A file
// that fails is reported and the batch goes on. With --jobs N the files run
// on N workers and print exactly what one worker would, in the files' order.
// fit --series CSV also writes one row per file (n_1, u, the second
// parameter, the sum, how the fit ended or why it failed) as a table. With
// --spectrum an SPE file counts as its frames, each fitted as a file.
#include <tbb/concurrent_queue.h>
#include <tbb/global_control.h>
#include <tbb/info.h>
#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>
#include <unistd.h>
#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/transform_width.hpp>

#include <atomic>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/atomic_file.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/paths.h"
#include "cli/command.h"
#include "cli/integration_options.h"
#include "cli/stop_signals.h"
#include "cli/uncertainty.h"
#include "cli/worker_threads.h"
#include "frontend/field_requests.h"
#include "model/map_file.h"
#include "model/recording_frames.h"
#include "model/results_json.h"
#include "model/series.h"
#include "model/session.h"
#include "settings/startup.h"

namespace lumora::cli {

namespace {

constexpr int kMapProgressPoints = 10000;

enum class BatchKind { Fit, Map };

struct BatchOptions {
  WindowFields fields;
  // How messages name a field: by its option when the command line set it,
  // else by the settings key it came from.
  FieldCaptions fieldNames;
  bool saveMap = false;
  bool table = false;
  bool json = false;    // one JSON object per file instead of the results lines
  int jobs = 1;         // files run at once
  std::string logCopy;  // fit: where the log of the last file's fit is copied
  UncertaintyOptions uncertainty;
  std::optional<SpectrumRequest> spectrum;  // the files are spectra to integrate first
  std::string seriesPath;                   // fit: where the series table goes
  std::optional<SeriesPattern> xPattern;    // fit: the series' x from the file names
  std::vector<std::string> files;           // as the output names them
  // With --spectrum: what each of `files` reads, an SPE file's frame included.
  std::vector<RecordingFrame> frames;
};

// A field's option: "--" and its command name.
std::string OptionOf(WindowField field) {
  for (const NamedField& named : CommandFields())
    if (named.field == field) return std::string("--") + named.name;
  return "";
}

// Options override the fields the window would show for the element; the
// fields set by an option are returned.
std::vector<WindowField> TakeFieldOptions(std::vector<std::string>& args, WindowFields& f) {
  std::string value;
  if (TakeOption(args, "--distribution", value)) {
    if (value == "boltzmann") {
      f.Distribution = 0;
    } else if (value == "1s") {
      f.Distribution = static_cast<int>(Distribution::FirstLevels);
      const DistributionChoice choice = ChoiceFor(Distribution::FirstLevels);
      if (choice.secondAlwaysFitted) f.FitTemperatureChecked = true;
      if (choice.levelCount) f.Count = std::to_string(*choice.levelCount);
    } else {
      throw UsageError("--distribution takes boltzmann or 1s, not \"" + value + "\"");
    }
  }
  if (TakeFlag(args, "--fit-temperature")) f.FitTemperatureChecked = true;
  if (TakeOption(args, "--report", value)) {
    if (value == "results")
      f.ReportKind = static_cast<int>(ReportKind::FinalResults);
    else if (value == "log")
      f.ReportKind = static_cast<int>(ReportKind::FitIteration);
    else
      throw UsageError("--report takes results or log, not \"" + value + "\"");
  }
  std::vector<WindowField> typed;
  for (const NamedField& named : CommandFields())
    if (TakeOption(args, "--" + std::string(named.name), value)) {
      f.*named.field = value;
      typed.push_back(named.field);
    }
  return typed;
}


// The most workers a batch runs on each core.
constexpr int kWorkersPerCore = 4;

// A count of workers: a whole number of 1 or more.
int ParseJobs(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || value < 1)
    throw UsageError("--jobs takes a whole number of workers of 1 or more, not \"" +
                     QuoteToken(text) + "\"");
  return value;
}

// An option naming a file the command writes: an empty name is refused
// rather than taken for no option.
bool TakeOutputOption(std::vector<std::string>& args, const std::string& name,
                      std::string& target) {
  if (!TakeOption(args, name, target)) return false;
  if (target.empty()) throw UsageError(name + " needs a file name, not \"\"");
  return true;
}

void TakeSeriesOptions(std::vector<std::string>& args, BatchOptions& options) {
  const bool series = TakeOutputOption(args, "--series", options.seriesPath);
  std::string pattern;
  if (!TakeOption(args, "--x-pattern", pattern)) return;
  if (!series) throw UsageError("--x-pattern needs --series: the pattern gives the series' x");
  try {
    options.xPattern.emplace(pattern);
  } catch (const Error& e) {
    throw UsageError(std::string("--x-pattern: ") + e.what());
  }
}

BatchOptions ParseBatchOptions(Context& ctx, std::vector<std::string> args, BatchKind kind) {
  BatchOptions options;
  options.fields = ctx.Fields();
  const std::vector<WindowField> typed = TakeFieldOptions(args, options.fields);
  options.fieldNames = GivenOrSettingsNames(ctx.settings(), ctx.ElementName(), typed, OptionOf);
  if (kind == BatchKind::Fit) {
    TakeOutputOption(args, "--log", options.logCopy);
    TakeSeriesOptions(args, options);
    const auto place = [](const std::string& file) {
      return std::filesystem::weakly_canonical(std::filesystem::absolute(file));
    };
    if (!options.logCopy.empty() && !options.seriesPath.empty() &&
        place(options.logCopy) == place(options.seriesPath))
      throw UsageError("--log and --series name the same file \"" + options.seriesPath +
                       "\": give each its own");
  }
  options.uncertainty = TakeUncertaintyOptions(args, kind == BatchKind::Fit);
  options.saveMap = TakeFlag(args, "--save-map");
  options.table = TakeFlag(args, "--table");
  FrameChoice frameChoice;
  if (TakeFlag(args, "--spectrum")) {
    options.spectrum = SpectrumRequestFromFields(TakeSpectrumFields(args), "");
    frameChoice = TakeFrameChoice(args);
    options.spectrum->region = frameChoice.region;
  }
  if (options.spectrum && options.uncertainty.intensities.source == UncertaintySource::Column)
    throw UsageError(
        "--sigma-column reads the third column of measurement files; a recording has none "
        "(use --noise or --poisson with --spectrum)");
  options.json = TakeFlag(args, "--json");
  if (options.json && options.table)
    throw UsageError("--json and --table cannot be combined: the table is not JSON");
  std::string jobs;
  options.jobs =
      TakeOption(args, "--jobs", jobs) ? ParseJobs(jobs) : tbb::info::default_concurrency();
  RejectUnknownOptions(args);
  if (args.empty()) throw UsageError("no measurement file given");
  options.files = std::move(args);
  if (options.spectrum) {
    // Damaged SPE files are refused before any fit starts.
    options.frames = RecordingFrames(options.files, frameChoice.frame, frameChoice.region);
    options.files.clear();
    for (const RecordingFrame& frame : options.frames) options.files.push_back(frame.name);
  }
  return options;
}

std::string FileNamePart(const std::string& file) {
  return std::filesystem::path(file).filename().string();
}

// Where one file's run prints: straight to the streams, or into a record
// that a parallel batch prints in the order of the files.
class FilePrinter {
 public:
  virtual ~FilePrinter() = default;
  virtual void Out(const std::string& text) = 0;
  virtual void Err(const std::string& text) = 0;
  // The header of the results lines, which only the first results line of
  // the session gets.
  virtual void Header(const std::string& text) { Out(text); }
};

class StreamPrinter : public FilePrinter {
 public:
  StreamPrinter(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}
  void Out(const std::string& text) override { out_ << text; }
  void Err(const std::string& text) override { err_ << text; }

 private:
  std::ostream& out_;
  std::ostream& err_;
};

// One file's output kept in the order it was printed.
class RecordingPrinter : public FilePrinter {
 public:
  enum class Target { Out, Err, Header };
  struct Piece {
    Target target;
    std::string text;
  };

  void Out(const std::string& text) override { pieces_.push_back({Target::Out, text}); }
  void Err(const std::string& text) override { pieces_.push_back({Target::Err, text}); }
  void Header(const std::string& text) override { pieces_.push_back({Target::Header, text}); }
  const std::vector<Piece>& Pieces() const { return pieces_; }

 private:
  std::vector<Piece> pieces_;
};

// What a batch's files share: the parsed options and the element's mass.
struct BatchJob {
  BatchOptions options;
  BatchKind kind = BatchKind::Fit;
  double massAmu = 0;
};

std::string JsonLine(const nlohmann::json& object) {
  return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool IsUtf8(const std::string& text) {
  try {
    (void)nlohmann::json(text).dump();
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

std::string Base64(const std::string& bytes) {
  using namespace boost::archive::iterators;
  using Encoder = base64_from_binary<transform_width<std::string::const_iterator, 6, 8>>;
  std::string text(Encoder(bytes.begin()), Encoder(bytes.end()));
  return text.append((3 - bytes.size() % 3) % 3, '=');
}

// One file's JSON line: its object with the warnings its reading gave and,
// for a name that is not UTF-8 (where "file" shows U+FFFD), the name's
// bytes in base64 as "file_bytes", so that a script finds the file again.
std::string FileJsonLine(nlohmann::json object, const std::string& file,
                         const std::vector<std::string>& warnings) {
  object["warnings"] = warnings;
  if (!IsUtf8(file)) object["file_bytes"] = Base64(file);
  return JsonLine(object);
}

// The report's lines, the results header (when this run started the
// session's results lines) as the header a batch prints once.
void PrintReport(const std::vector<std::string>& report, const ResultsLineText& results,
                 FilePrinter& printer) {
  const size_t resultsPart = results.line.empty() ? 0 : results.header.empty() ? 1 : 2;
  for (size_t i = 0; i + resultsPart < report.size(); ++i) printer.Out(report[i] + "\n");
  if (!results.header.empty()) printer.Header(results.header + "\n");
  if (!results.line.empty()) printer.Out(results.line + "\n");
}

// A file's row of the series table; null when no table is asked for.
using SeriesSlot = std::optional<SeriesRow>*;

void RunFit(Session& session, const BatchJob& job, const std::string& file,
            const std::vector<std::string>& warnings, FilePrinter& printer, SeriesSlot row) {
  const BatchOptions& options = job.options;
  FitRequest request = FitRequestFromFields(options.fields, job.massAmu, options.fieldNames);
  request.report.dataFileName = FileNamePart(file);
  request.uncertainty = options.uncertainty.intensities;
  // The log asked for is that of the last file's fit.
  request.log.keep = !options.logCopy.empty() && &file == &options.files.back();
  request.beforeIteration = [](int) { StopOnSignals::StopIfAsked(); };
  const FitResult fit = session.Fit(request);
  if (row) *row = SeriesRowOfFit(file, fit, session.Table().levels);
  if (request.log.keep) session.SaveFitLog(options.logCopy);
  std::optional<ProfileInterval> profile;
  if (options.uncertainty.profile)
    profile = session.Profile(request, fit, *options.uncertainty.profile);
  std::optional<MonteCarloOutcome> monteCarlo;
  if (options.uncertainty.monteCarlo.runs > 0)
    monteCarlo = RunMonteCarloFor(session, request, fit, options.uncertainty, options.jobs);
  if (options.json) {
    nlohmann::json object = FitJson(file, fit, session.Table().levels);
    if (monteCarlo) object["monte_carlo"] = MonteCarloJson(monteCarlo->result);
    if (profile) object["profile"] = ProfileJson(*profile);
    printer.Out(FileJsonLine(std::move(object), file, warnings));
    return;
  }
  PrintReport(fit.report, fit.resultsLine, printer);
  // The weighted fit's chi-square follows its results line; an unweighted
  // batch keeps its table of results lines as it always was.
  if (fit.weighted && !fit.resultsLine.line.empty())
    for (const std::string& line : FitUncertaintyLines(fit)) printer.Out(line + "\n");
  if (profile) printer.Out(ProfileText(*profile) + "\n");
  if (monteCarlo)
    for (const std::string& line : MonteCarloReport(monteCarlo->result, monteCarlo->request))
      printer.Out(line + "\n");
}

// Returns the grid, for the map file written after the output.
ResidualGrid RunMap(Session& session, const BatchJob& job, const std::string& file,
                    const std::vector<std::string>& warnings, FilePrinter& printer,
                    std::ostream* progress) {
  const BatchOptions& options = job.options;
  MapRequest request = MapRequestFromFields(options.fields, job.massAmu, options.fieldNames);
  // --jobs 1 keeps the map on this thread, without a thread pool at all.
  request.threads = options.jobs;
  request.dataFileName = FileNamePart(file);
  request.uncertainty = options.uncertainty.intensities;
  const long long points =
      static_cast<long long>(request.densityPoints) * request.temperaturePoints;
  const bool showProgress = progress && points > kMapProgressPoints;
  request.progress = [showProgress, progress, &file](int done, int rows) {
    StopOnSignals::StopIfAsked();
    if (!showProgress) return;
    *progress << "\rmap " << file << ": row " << done << " of " << rows
              << (done == rows ? "\n" : "") << std::flush;
  };
  MapResult map = session.Map(request);
  std::optional<ConfidenceRegion> region;
  if (options.uncertainty.confidence)
    region = session.Confidence(map, *options.uncertainty.confidence);
  if (options.json) {
    nlohmann::json object = MapJson(file, request, map, session.Table().levels);
    if (region) object["confidence"] = ConfidenceJson(*region);
    printer.Out(FileJsonLine(std::move(object), file, warnings));
  } else {
    PrintReport(map.report, map.resultsLine, printer);
    // A weighted map says what its sums are; an unweighted one prints as it always did.
    if (!map.resultsLine.line.empty())
      for (const std::string& line : MapUncertaintyLines(map)) printer.Out(line + "\n");
    if (region) printer.Out(ConfidenceText(*region, request.model.distribution) + "\n");
  }
  return std::move(map.grid);
}

// After the output: a map that cannot be saved still has its results line.
void SaveMapFile(const BatchOptions& options, const std::string& file, const ResidualGrid& grid,
                 FilePrinter& printer) {
  if (!options.saveMap || grid.empty()) return;
  printer.Err("map file: " + Session::SaveMap(file, MapFileHeader(options.fields), grid) + "\n");
}

// Memory put aside before each file and given back when one fails, so that
// a failure for want of memory still has the little its report takes.
class ReportReserve {
 public:
  static void Keep() {
    if (reserve_.load()) return;
    delete[] reserve_.exchange(new (std::nothrow) char[kBytes]);
  }
  static void Release() { delete[] reserve_.exchange(nullptr); }

 private:
  static constexpr size_t kBytes = 1 << 20;
  static inline std::atomic<char*> reserve_{nullptr};
};

// A file's failure: on standard error, or as its JSON line with --json.
// Prints a file's failure and returns its message.
std::string ReportFailure(const BatchJob& job, const std::string& file, const std::exception& e,
                          const std::vector<std::string>& warnings, FilePrinter& printer) {
  ReportReserve::Release();
  const auto* field = dynamic_cast<const FieldError*>(&e);
  const std::string message =
      field ? RenamedFieldMessage(*field, job.options.fieldNames)
            : UserMessage(e, job.kind == BatchKind::Fit ? "the fit" : "the map");
  if (job.options.json)
    printer.Out(FileJsonLine(ErrorJson(file, message), file, warnings));
  else
    printer.Err(file + ": " + message + "\n");
  return message;
}

// What one of the batch's files reads with --spectrum: its path and frame.
const RecordingFrame* FrameOf(const BatchJob& job, const std::string& file) {
  const std::vector<std::string>& files = job.options.files;
  if (job.options.frames.size() != files.size()) return nullptr;
  for (size_t k = 0; k < files.size(); ++k)
    if (&files[k] == &file) return &job.options.frames[k];
  return nullptr;
}

// One file of the batch; false when it failed. Progress, when given, shows
// the rows of a large map.
bool RunFile(Session& session, const BatchJob& job, const std::string& file, FilePrinter& printer,
             std::ostream* progress, SeriesSlot row = nullptr) {
  ReportReserve::Keep();
  // The messages of the reading go to standard error, and into the JSON.
  std::vector<std::string> warnings;
  bool ok = true;
  std::optional<SeriesTime> stamp;
  try {
    // A header's bad time stamp fails the file before its fit; a camera
    // file's frames have their times from the file itself.
    const RecordingFrame* frame = FrameOf(job, file);
    if (row && job.options.spectrum && !(frame && frame->frame))
      stamp = RecordingTimeStamp(frame ? frame->path : file);
    session.SetMessageSink([&printer, &file, &warnings](const std::string& text) {
      printer.Err(file + ": " + text + "\n");
      warnings.push_back(text);
    });
    std::optional<SpectrumRequest> spectrum = job.options.spectrum;
    std::string path = file;
    if (const RecordingFrame* frame = FrameOf(job, file)) {
      path = frame->path;
      spectrum->frame = frame->frame;
    }
    ReadFileToFit(session, path, spectrum,
                  job.options.uncertainty.intensities.source == UncertaintySource::Column);
    ResidualGrid grid;
    if (job.kind == BatchKind::Fit)
      RunFit(session, job, file, warnings, printer, row);
    else
      grid = RunMap(session, job, file, warnings, printer, progress);
    if (job.options.table) printer.Out(LineTableText(session.TableRows(true)));
    SaveMapFile(job.options, file, grid, printer);
  } catch (const std::exception& e) {
    const std::string message = ReportFailure(job, file, e, warnings, printer);
    ok = false;
    // A fit that ended keeps its row when what follows it fails.
    if (row && !*row) *row = FailedSeriesRow(file, message);
  }
  if (row && *row) (*row)->timeStamp = stamp;
  session.SetMessageSink({});
  return ok;
}

// The files one after the other in the command's own session.
// `series`, when given, gets each file's row in the files' order.
int RunSerially(Context& ctx, const BatchJob& job, bool terminal,
                std::vector<SeriesRow>* series) {
  Session& session = ctx.session();
  StreamPrinter printer(ctx.out, ctx.err);
  const std::vector<std::string>& files = job.options.files;
  int failed = 0;
  for (size_t i = 0; i < files.size() && !StopOnSignals::Stopped(); ++i) {
    if (terminal && files.size() > 1)
      ctx.err << "[" << i + 1 << "/" << files.size() << "] " << files[i] << "\n";
    std::optional<SeriesRow> row;
    if (!RunFile(session, job, files[i], printer, terminal ? &ctx.err : nullptr,
                 series ? &row : nullptr))
      ++failed;
    if (row) series->push_back(std::move(*row));
    // Each file's results leave as soon as they are made.
    ctx.out.flush();
  }
  ctx.out.flush();
  return failed ? 1 : 0;
}

// Sessions with the element loaded, each used by one worker at a time.
class SessionPool {
 public:
  explicit SessionPool(ElementSource source) : source_(std::move(source)) {}

  std::unique_ptr<Session> Take() {
    std::unique_ptr<Session> session;
    if (free_.try_pop(session)) return session;
    session = std::make_unique<Session>();
    // The command's own session has shown the element's messages already.
    session->SetMessageSink([](const std::string&) {});
    session->LoadElement(source_);
    session->SetMessageSink({});
    return session;
  }
  void Give(std::unique_ptr<Session> session) { free_.push(std::move(session)); }

 private:
  ElementSource source_;
  tbb::concurrent_queue<std::unique_ptr<Session>> free_;
};

// The output of one file of a parallel batch.
struct FileOutcome {
  size_t index = 0;
  bool ok = true;
  int resultsLines = 0;  // results lines the run counted
  RecordingPrinter printer;
  std::optional<SeriesRow> row;  // when the batch writes a series table
};

// Prints the files' outputs in their order as a serial run would have
// printed them: the header of the results lines only before the first one.
// The files' series rows, when `series` is given, are collected in that order.
class OrderedOutput {
 public:
  OrderedOutput(Context& ctx, size_t files, bool terminal, std::vector<SeriesRow>* series)
      : ctx_(ctx), files_(files), terminal_(terminal), series_(series) {}

  void Print(const FileOutcome& outcome) {
    if (terminal_) ctx_.err << "\r\033[K";
    for (const RecordingPrinter::Piece& piece : outcome.printer.Pieces()) {
      switch (piece.target) {
        case RecordingPrinter::Target::Header:
          if (resultsLines_ == 0) ctx_.out << piece.text;
          break;
        case RecordingPrinter::Target::Out:
          ctx_.out << piece.text;
          break;
        case RecordingPrinter::Target::Err:
          ctx_.out.flush();
          ctx_.err << piece.text;
          break;
      }
    }
    resultsLines_ += outcome.resultsLines;
    if (series_ && outcome.row) series_->push_back(*outcome.row);
    if (!outcome.ok) ++failed_;
    ++done_;
    // Each file's results leave as soon as they and those before are made.
    ctx_.out.flush();
    if (terminal_) {
      ctx_.out.flush();
      ctx_.err << "[" << done_ << "/" << files_ << "] files done" << (done_ == files_ ? "\n" : "")
               << std::flush;
    }
  }
  int Failed() const { return failed_; }
  // The files printed so far: those before the first one still to come.
  size_t Printed() const { return done_; }

 private:
  Context& ctx_;
  size_t files_;
  bool terminal_;
  std::vector<SeriesRow>* series_;
  int resultsLines_ = 0;
  size_t done_ = 0;
  int failed_ = 0;
};

// One file of a parallel batch, recorded: `run` runs it into the outcome.
// What escapes the file's own run (a session that cannot be made, memory
// that ran out while reporting) is that file's failure too.
template <typename Run>
std::shared_ptr<FileOutcome> RecordFile(const BatchJob& job, size_t index, Run run) {
  auto outcome = std::make_shared<FileOutcome>();
  outcome->index = index;
  try {
    run(*outcome);
  } catch (const std::exception& e) {
    outcome->ok = false;
    const std::string& file = job.options.files[index];
    const std::string message = ReportFailure(job, file, e, {}, outcome->printer);
    if (!job.options.seriesPath.empty()) outcome->row = FailedSeriesRow(file, message);
  }
  return outcome;
}

// The outcome's file in `session`, counting the results lines it starts.
void RunInSession(Session& session, const BatchJob& job, FileOutcome& outcome) {
  session.ResetResultsLines();
  outcome.ok = RunFile(session, job, job.options.files[outcome.index], outcome.printer, nullptr,
                       job.options.seriesPath.empty() ? nullptr : &outcome.row);
  outcome.resultsLines = session.ResultsLineCount();
}

// The files on `workers` threads, each file in a session of its own, the
// outputs printed in the files' order as they become ready.
void RunPipeline(Context& ctx, const BatchJob& job, int workers, OrderedOutput& output) {
  const std::vector<std::string>& files = job.options.files;
  SessionPool sessions(ctx.ElementSourceOf());
  size_t next = 0;
  // The count asked for, even above the number of cores.
  const tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                    static_cast<size_t>(workers));
  tbb::task_arena arena(workers);
  StartWorkers(arena, workers);
  arena.execute([&] {
    tbb::parallel_pipeline(
        static_cast<size_t>(workers) * 2,
        tbb::make_filter<void, size_t>(tbb::filter_mode::serial_in_order,
                                       [&](tbb::flow_control& fc) -> size_t {
                                         if (next == files.size() || StopOnSignals::Stopped())
                                           fc.stop();
                                         return next++;
                                       }) &
            tbb::make_filter<size_t, std::shared_ptr<FileOutcome>>(
                tbb::filter_mode::parallel,
                [&](size_t index) {
                  // A session that cannot be made stops the pool, not the file.
                  std::unique_ptr<Session> session = sessions.Take();
                  auto outcome = RecordFile(job, index, [&](FileOutcome& recorded) {
                    RunInSession(*session, job, recorded);
                  });
                  sessions.Give(std::move(session));
                  return outcome;
                }) &
            tbb::make_filter<std::shared_ptr<FileOutcome>, void>(
                tbb::filter_mode::serial_in_order,
                [&](const std::shared_ptr<FileOutcome>& outcome) { output.Print(*outcome); }));
  });
}

// A parallel batch; when its workers fail (one that cannot be started, a
// pool out of memory), the files not yet printed run on this thread, one
// after the other, so that each still gets its result or its error.
int RunInParallel(Context& ctx, const BatchJob& job, int workers, bool terminal,
                  std::vector<SeriesRow>* series) {
  const std::vector<std::string>& files = job.options.files;
  OrderedOutput output(ctx, files.size(), terminal, series);
  try {
    RunPipeline(ctx, job, workers, output);
  } catch (const std::exception& e) {
    ReportReserve::Release();
    ctx.out.flush();
    ctx.err << "lumora-cli: the workers stopped (" << UserMessage(e, "the workers")
            << "); the files left run one after the other\n";
    // On this thread alone, maps and refits included: no worker is started.
    BatchJob alone = job;
    alone.options.jobs = 1;
    const tbb::global_control oneThread(tbb::global_control::max_allowed_parallelism, 1);
    for (size_t index = output.Printed(); index < files.size() && !StopOnSignals::Stopped();
         ++index)
      output.Print(*RecordFile(alone, index, [&](FileOutcome& outcome) {
        RunInSession(ctx.session(), alone, outcome);
      }));
  }
  ctx.out.flush();
  return output.Failed() ? 1 : 0;
}

int RunBatch(Context& ctx, const std::vector<std::string>& args, BatchKind kind) {
  BatchJob job;
  job.options = ParseBatchOptions(ctx, args, kind);
  job.kind = kind;
  if (!job.options.logCopy.empty() || !job.options.seriesPath.empty()) {
    std::vector<std::string> inputs = job.options.files;
    for (const RecordingFrame& frame : job.options.frames) inputs.push_back(frame.path);
    if (job.options.spectrum) {
      inputs.push_back(job.options.spectrum->darkFile);
      inputs.push_back(job.options.spectrum->responseFile);
    }
    for (const std::string& file : ctx.SettingsAndElementFiles()) inputs.push_back(file);
    for (const std::string* output : {&job.options.logCopy, &job.options.seriesPath})
      RefuseOutputThatIsAnInput(*output, inputs);
  }
  // A table that cannot be written is refused before the fits, not after
  // them: the probe makes its temporary file and removes it again.
  if (!job.options.seriesPath.empty()) AtomicFile probe(job.options.seriesPath);
  job.massAmu = ctx.ElementMass();
  ctx.LoadElement();
  if (job.options.spectrum) job.options.spectrum->options.checkpoint = StopOnSignals::StopIfAsked;

  // More workers than four a core only cost threads; --jobs bounds the
  // threads of the whole process, a map's rows and the refits included.
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (job.options.jobs > kWorkersPerCore * cores) {
    ctx.err << Format("--jobs %d is more than %d workers a core on %d cores: %d are used\n",
                      job.options.jobs, kWorkersPerCore, cores, kWorkersPerCore * cores);
    job.options.jobs = kWorkersPerCore * cores;
  }
  // The pool ends the program when it cannot start a thread: it gets no
  // more than this process can start now.
  const int startable = StartableThreads(
      job.options.jobs, tbb::global_control::active_value(tbb::global_control::thread_stack_size));
  if (startable < job.options.jobs) {
    ctx.err << Format("--jobs: only %d of %d threads could be started; the batch runs on those\n",
                      startable, job.options.jobs);
    job.options.jobs = startable;
  }
  const tbb::global_control processThreads(tbb::global_control::max_allowed_parallelism,
                                           static_cast<size_t>(job.options.jobs));

  const bool terminal = isatty(STDERR_FILENO) == 1;
  const int workers =
      std::min<long long>(job.options.jobs, static_cast<long long>(job.options.files.size()));
  const StopOnSignals stop;
  std::vector<SeriesRow> rows;
  std::vector<SeriesRow>* series = job.options.seriesPath.empty() ? nullptr : &rows;
  const int status = workers <= 1 ? RunSerially(ctx, job, terminal, series)
                                  : RunInParallel(ctx, job, workers, terminal, series);
  // The files that finished, also when a signal stopped the batch.
  if (series) {
    PlaceSeriesX(rows, SeriesAxis::Auto, job.options.xPattern ? &*job.options.xPattern : nullptr);
    // Frames of camera files: their times (or numbers) unless a pattern is asked for.
    const std::string unit = job.options.xPattern ? "" : PlaceFrameX(rows, job.options.frames);
    SaveSeriesCsv(job.options.seriesPath, rows, unit);
  }
  return StopOnSignals::Status(status);
}

}  // namespace

LUMORA_COMMAND(CommandInfo{"fit", [](Context& ctx, const std::vector<std::string>& args) {
                             return RunBatch(ctx, args, BatchKind::Fit);
                           }});

LUMORA_COMMAND(CommandInfo{"map", [](Context& ctx, const std::vector<std::string>& args) {
                             return RunBatch(ctx, args, BatchKind::Map);
                           }});

}  // namespace lumora::cli
