#include "model/fit.h"

#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string_view>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "lsq/iteration_log.h"
#include "model/input_checks.h"
#include "model/results_line.h"

namespace lumora {

namespace {

struct FitData {
  int m = 0;
  PointArray x, y, w;
};

FitData MakeFitData(const std::vector<TLineRecord>& lines, double noiseLevel,
                    std::mt19937_64* noise) {
  if (noiseLevel != 0 && !noise) throw Error("A fit with noise needs a noise generator.");
  FitData data;
  data.m = static_cast<int>(lines.size());
  for (int k = 0; k < data.m; ++k) {
    const TLineRecord& line = lines[k];
    data.x[k + 1] = k;
    data.y[k + 1] = line.G_m;
    if (noiseLevel != 0) data.y[k + 1] += GaussNoise(0, noiseLevel, *noise);
    data.w[k + 1] = line.G_m > 0 ? 1 : 0;
  }
  return data;
}

void CheckLineCount(int m) {
  if (m < 1) throw Error("There are no lines to fit.");
  if (m > kMaxFitLines)
    throw Error(Format("A fit takes at most %d lines; this measurement has %d.", kMaxFitLines, m));
}

// A new file rather than a truncated one: truncating a file and writing it
// again makes some file systems (ext4) flush it on close, which costs a fit
// more than its model evaluations. Only a plain file is removed; anything
// else (a link, a device) is left for the log's own open to deal with.
void ReplaceLogFile(const std::string& logFileName) {
  std::error_code ec;
  if (std::filesystem::symlink_status(logFileName, ec).type() ==
      std::filesystem::file_type::regular)
    std::filesystem::remove(logFileName, ec);
}

// Whether anyone reads the run's log: the caller names or keeps it, or the
// report is the log itself.
bool LogIsRead(const FitRequest& request) {
  return !request.logPath.empty() || request.keepLog ||
         (request.withReport && request.report == ReportKind::FitIteration);
}

// The log the request names, or a new one of this run alone; none when no
// one would read it (creating and removing a file per fit costs a batch
// more than the fit), though the user's log folder is still checked so that
// an unusable one is reported whatever the fit asks for.
std::unique_ptr<FileLog> OpenFitLog(const FitRequest& request) {
  if (!request.logPath.empty()) {
    ReplaceLogFile(request.logPath);
    return std::make_unique<FileLog>(request.logPath);
  }
  const std::string folder = request.logFolder.empty() ? PrivateLogFolder() : request.logFolder;
  if (!LogIsRead(request)) return nullptr;
  return FileLog::CreateUnique(folder);
}

// Removes a run's own log when the run ends, however it ends, unless the
// caller keeps it.
class LogRemoval {
 public:
  LogRemoval(std::string path, bool remove) : path_(std::move(path)), remove_(remove) {}
  ~LogRemoval() {
    std::error_code ec;
    if (remove_) std::filesystem::remove(path_, ec);
  }
  LogRemoval(const LogRemoval&) = delete;
  LogRemoval& operator=(const LogRemoval&) = delete;

 private:
  std::string path_;
  bool remove_;
};

// Every line of the log, without line ends; "Fit logfile was not found."
// when it cannot be read.
std::vector<std::string> ReadLogLines(const std::string& logFileName) {
  std::ifstream in(logFileName, std::ios::binary);
  if (!in) return {"Fit logfile was not found."};
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// A log that keeps nothing: a fit without a log still reports its failures
// as the report does.
class DiscardedLog : public IterationLog {
 public:
  void Write(std::string_view) override {}
  void Line(std::string_view) override {}
};

// Appends the report and closes the log (when there is one); the log is
// never left open, whatever went wrong while writing it.
void FinishLog(FileLog* log, StopCode code, int m, int n, long double sum,
               const ParameterVector& par, const PointArray& cov) {
  DiscardedLog discarded;
  try {
    WriteMinimizerReport(log ? static_cast<IterationLog&>(*log) : discarded, code, m, n, sum, par,
                         cov, FitParameterNames());
  } catch (...) {
    try {
      if (log) log->Close();
    } catch (const Error&) {
      // The first failure is the one worth reporting.
    }
    throw;
  }
  if (log) log->Close();
}

ParameterVector ParameterErrors(int m, int n, long double sum, const PointArray& cov) {
  ParameterVector errors;
  if (m <= 2) return errors;
  for (int i = 1; i <= n; ++i)
    errors[i] = fp::Sqrt(fp::Div(sum, m - n) * cov[(i - 1) * n + i]);
  return errors;
}

}  // namespace

void FitRequest::Validate() const {
  CheckModelInputs(start);
  CheckLog10Density(start.log10N1, kDensityCaption);
  CheckAboveZero(start.second, SecondParameterCaption(start.distribution));
}

ParameterNames FitParameterNames() { return {"log10(n_1)", "Te"}; }

FitResult RunFit(EbfModel& model, const FitRequest& request, int& resultsLineCount,
                 std::mt19937_64* noise) {
  std::vector<TLineRecord>& lines = model.Table().lines;
  CheckLineCount(static_cast<int>(lines.size()));
  const int n = request.fitSecond ? 2 : 1;

  MinimizerProblem problem;
  {
    FitData data = MakeFitData(lines, request.noiseLevel, noise);
    problem.pointCount = data.m;
    problem.x = data.x;
    problem.y = data.y;
    problem.w = data.w;
  }
  problem.parameterCount = n;
  problem.model = [&model](const ParameterVector& b, long double x, long double& value) {
    value = model.Evaluate(b, x);
    return true;
  };
  if (n == 1)
    problem.derivatives = [&model](int i, const PointArray& x, int, const ParameterVector& b,
                                   ParameterVector& d) {
      model.DensityDerivative(i, x, b, d);
      return true;
    };
  else
    problem.derivatives = [&model](int i, const PointArray& x, int, const ParameterVector& b,
                                   ParameterVector& d) {
      model.Derivatives(i, x, b, d);
      return true;
    };

  MinimizerOptions options;
  options.iterationLimit = request.iterationLimit;
  // What the caller's hook raises ends the fit as it is; a fault of the
  // model's becomes the report's error below.
  std::exception_ptr stopped;
  if (request.beforeIteration)
    options.beforeIteration = [&](int iteration) {
      try {
        request.beforeIteration(iteration);
      } catch (...) {
        stopped = std::current_exception();
        throw;
      }
    };
  ParameterVector par = request.start.ToVector();

  const std::unique_ptr<FileLog> log = request.writeLog ? OpenFitLog(request) : nullptr;
  FileLog* logFile = log.get();
  std::optional<LogRemoval> removal;
  if (logFile) {
    removal.emplace(logFile->Path(), request.logPath.empty() && !request.keepLog);
    WriteLogOpening(*logFile);
  }
  MinimizerSummary summary;
  try {
    summary = Minimize(options, problem, par, logFile, FitParameterNames());
  } catch (...) {
    if (!stopped) {
      // The report turns the interrupted run into its error.
      FinishLog(logFile, StopCode::NotStarted, problem.pointCount, n, summary.sum, par,
                summary.covariance);
      throw;
    }
    // A stopped run's log still ends with its report; the report's error is
    // not the one to raise.
    try {
      FinishLog(logFile, StopCode::NotStarted, problem.pointCount, n, summary.sum, par,
                summary.covariance);
    } catch (...) {
    }
    std::rethrow_exception(stopped);
  }
  FinishLog(logFile, summary.stopCode, problem.pointCount, n, summary.sum, par,
            summary.covariance);

  // Mostly the minimiser's last computation is that of its final vector: the
  // model fields then describe it already and its entry is kept.
  model.ClearCacheKeeping(par);
  for (int k = 0; k < problem.pointCount; ++k)
    lines[k].G_f = static_cast<double>(model.Evaluate(par, k));

  FitResult result;
  result.fitted = request.start;
  result.fitted.log10N1 = par[1];
  result.fitted.second = par[2];
  result.parameterCount = n;
  result.sum = summary.sum;
  result.stopCode = summary.stopCode;
  result.iterations = summary.iterations;
  result.covariance = summary.covariance;
  par[11] = summary.sum;
  par[12] = static_cast<int>(summary.stopCode);
  result.parameters = par;
  result.errors = ParameterErrors(problem.pointCount, n, summary.sum, summary.covariance);
  if (logFile && (!request.logPath.empty() || request.keepLog)) result.logPath = logFile->Path();

  if (!request.withReport) return result;
  if (request.report == ReportKind::FitIteration)
    result.report = ReadLogLines(logFile ? logFile->Path() : std::string());
  else
    ResultsLine(model.Table().levels, par, result.errors, resultsLineCount, &result.report,
                request.dataFileName, n, true);
  return result;
}

long double GaussNoise(long double mean, long double sigma, std::mt19937_64& generator) {
  std::uniform_real_distribution<long double> uniform(0.0L, 1.0L);
  long double sum = 0;
  for (int i = 0; i < 12; ++i) sum += uniform(generator);
  return mean + sigma * (sum - 6);
}

}  // namespace lumora
