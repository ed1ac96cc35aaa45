// The fit: log10 n_1 and optionally the second parameter of the model,
// fitted to the measured branching fractions of the model's line table, with
// the minimiser's log and the results line (or the whole log) as its report.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/errors.h"
#include "lsq/levenberg_marquardt.h"
#include "model/fraction_weights.h"
#include "model/results_line.h"
#include "model/self_absorption.h"

namespace lumora {

// The minimiser's data arrays hold this many points.
inline constexpr int kMaxFitLines = kMaxMinimizerPoints;

// What a fit adds to the report: its results line, or its whole log.
enum class ReportKind : int { FinalResults = 0, FitIteration = 1 };

// What is fitted: the model's inputs where the fit starts; log10 n_1 is
// always free, the second parameter when fitSecond is set.
struct FitTarget {
  ModelParameters start;
  bool fitSecond = false;
};

// How the minimiser runs.
struct FitSolverOptions {
  int iterationLimit = 50;
  // A fit that misses the lines grossly ends with an error (see
  // CheckFitDescribesTheLines); refits of perturbed lines count it otherwise.
  bool refuseGrossMisfit = true;
};

// The minimiser's log: a file the caller names (path), created anew; else a
// new file of this run alone in `folder` (empty: UsableLogFolder()), removed
// after the fit unless `keep` is set. A log no one reads is not written.
struct FitLogOptions {
  std::string path;
  std::string folder;
  bool keep = false;
  bool text = false;  // the result carries the log's text
  bool write = true;  // false: the run keeps no log at all
};

// What the fit reports.
struct FitReportOptions {
  ReportKind kind = ReportKind::FinalResults;
  bool enabled = true;       // false: no report at all
  std::string dataFileName;  // the measurement as the results line names it
};

struct FitRequest {
  FitTarget target;
  // The intensities' uncertainties; with them the fit minimises the
  // fractions' chi-square, without them their plain sum of squares.
  IntensityUncertainty uncertainty;
  FitSolverOptions solver;
  FitLogOptions log;
  FitReportOptions report;
  // Called before each iteration of the minimiser; it may raise to stop the
  // fit, which then ends with that exception.
  std::function<void(int iteration)> beforeIteration;

  // Raises Error naming the field of the first input the model cannot use.
  void Validate() const;
};

struct FitResult {
  ModelParameters fitted;
  int parameterCount = 1;
  long double sum = 0;
  StopCode stopCode = StopCode::NotStarted;
  int iterations = 0;
  ConvergenceTest convergedBy = ConvergenceTest::None;  // with ParametersUnchanged
  ParameterMatrix covariance;  // over the fitted parameters, log10 n_1 first
  // The standard errors of the fitted parameters (0 with 2 lines or fewer):
  // from the weighted covariance as it stands when the fit is weighted, else
  // from the covariance scaled by the residuals' variance.
  ParameterValues errors;
  bool weighted = false;
  GoodnessOfFit goodness;  // of a weighted fit
  // Of an unweighted fit: errors robust to residuals of unequal size (the
  // sandwich estimate over the upper levels, whose fractions are tied).
  ParameterValues robustErrors;
  IterationTrace trace;  // the start and each iteration that moved the parameters
  std::vector<std::string> report;
  // The results line at the report's end, and its header when it has one;
  // empty when the report is the log.
  ResultsLineText resultsLine;
  std::string logPath;  // the log when it was kept or named by the caller
  std::string logText;  // the log's text when the request asked for it

  long double Log10N1Error() const { return errors.size() > 0 ? errors[0] : 0; }
  long double SecondError() const { return errors.size() > 1 ? errors[1] : 0; }
  long double RobustLog10N1Error() const { return robustErrors.size() > 0 ? robustErrors[0] : 0; }
};

// A fit whose end tells nothing of n_1: it ran past the model's lower or
// upper edge of the densities, or it explains the lines no better than
// lines without self-absorption. Log10N1() is where it ended.
class UndeterminedN1Error : public Error {
 public:
  enum class Reason { BelowTheModel, AboveTheModel, LikeThinLines };
  UndeterminedN1Error(const std::string& message, Reason reason, long double log10N1)
      : Error(message), reason_(reason), log10N1_(log10N1) {}
  Reason Why() const { return reason_; }
  long double Log10N1() const { return log10N1_; }

 private:
  Reason reason_;
  long double log10N1_;
};

// The names the fit's log prints for its parameters.
ParameterNames FitParameterNames();

// Raises Error when a fit misses the measured fractions so grossly that its
// numbers describe no measurement: unweighted, a root-mean-square misfit of
// the fractions above 0.05; weighted, a chi-square above 25 per degree of
// freedom (five standard uncertainties a line). Not for a fit that its
// iteration limit stopped.
void CheckFitDescribesTheLines(const std::vector<TLineRecord>& lines, const FitResult& fit);

// Runs one fit. Every line's G_f gets the model value at the fitted
// parameters. More than kMaxFitLines lines, or none, are refused before the
// log is touched; `resultsLineCount` counts the results lines of the report.
FitResult RunFit(EbfModel& model, const FitRequest& request, int& resultsLineCount);

}  // namespace lumora
