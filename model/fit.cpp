#include "model/fit.h"

#include <cmath>
#include <exception>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <algorithm>

#include <Eigen/LU>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <memory>
#include <optional>
#include <string_view>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "lsq/iteration_log.h"
#include "model/extended_bits.h"
#include "model/input_checks.h"
#include "model/profile.h"
#include "model/results_line.h"

namespace lumora {

namespace {

// The branching fractions the minimiser fits: each line's G_f at the model
// inputs of the request with log10 n_1 (and the second parameter) taken
// from the fitted values.
class BranchingFractionFit : public FittedModel {
 public:
  BranchingFractionFit(EbfModel& model, const FitTarget& target)
      : model_(model), fixed_(target.start), fitSecond_(target.fitSecond) {}

  int ParameterCount() const { return fitSecond_ ? 2 : 1; }

  ParameterValues Start() const {
    ParameterValues start(ParameterCount());
    start[0] = fixed_.log10N1;
    if (fitSecond_) start[1] = fixed_.second;
    return start;
  }

  ModelParameters At(const ParameterValues& p) const {
    ModelParameters at = fixed_;
    at.log10N1 = p[0];
    if (fitSecond_) at.second = p[1];
    return at;
  }

  // The minimiser asks for the lines one by one at the same parameters: the
  // sweep of the last parameters is kept at hand.
  bool Value(const ParameterValues& p, int k, long double& value) override {
    const FractionSweep& sweep = SweepAt(p);
    CheckIndex(k, sweep.values.size());
    value = sweep.values[k];
    return true;
  }

  bool Gradient(const ParameterValues& p, int k, ParameterValues& gradient) override {
    const FractionSweep& sweep = SweepAt(p);
    CheckIndex(k, sweep.values.size());
    gradient[0] = sweep.byLog10N1[k];
    if (fitSecond_) gradient[1] = sweep.bySecond[k];
    return true;
  }

  int Values(const ParameterValues& p, std::vector<long double>& values,
             bool& succeeded) override {
    const FractionSweep& sweep = SweepAt(p);
    CheckIndex(values.size() - 1, sweep.values.size());
    for (size_t k = 0; k < values.size(); ++k) values[k] = sweep.values[k];
    succeeded = true;
    return static_cast<int>(values.size());
  }

  bool Gradients(const ParameterValues& p, std::vector<ParameterValues>& gradients) override {
    const FractionSweep& sweep = SweepAt(p);
    CheckIndex(gradients.size() - 1, sweep.values.size());
    for (size_t k = 0; k < gradients.size(); ++k) {
      gradients[k][0] = sweep.byLog10N1[k];
      if (fitSecond_) gradients[k][1] = sweep.bySecond[k];
    }
    return true;
  }

 private:
  static bool SameParameters(const ParameterValues& a, const ParameterValues& b) {
    if (a.size() != b.size()) return false;
    for (Eigen::Index i = 0; i < a.size(); ++i)
      if (!SameBits(a[i], b[i])) return false;
    return true;
  }

  const FractionSweep& SweepAt(const ParameterValues& p) {
    if (!sweepValid_ || !SameParameters(p, sweepAt_)) {
      sweepValid_ = false;
      sweep_ = model_.Sweep(At(p));
      sweepAt_ = p;
      sweepValid_ = true;
    }
    return sweep_;
  }

  EbfModel& model_;
  const ModelParameters fixed_;
  const bool fitSecond_;
  bool sweepValid_ = false;
  ParameterValues sweepAt_;
  FractionSweep sweep_;
};

// The measured branching fractions; a line without a measured one weighs
// nothing.
MinimizerProblem MeasuredFractions(const std::vector<TLineRecord>& lines, FittedModel& model) {
  MinimizerProblem problem;
  problem.model = &model;
  problem.observed.reserve(lines.size());
  problem.weights.reserve(lines.size());
  for (const TLineRecord& line : lines) {
    problem.observed.push_back(line.G_m);
    problem.weights.push_back(line.G_m > 0 ? 1 : 0);
  }
  return problem;
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

bool LogIsReportText(const FitRequest& request) {
  return request.report.enabled && request.report.kind == ReportKind::FitIteration;
}

// Whether anyone reads the run's log: the caller names or keeps it, or the
// report is the log itself.
bool LogIsRead(const FitRequest& request) {
  return !request.log.path.empty() || request.log.keep || request.log.text ||
         LogIsReportText(request);
}

// The log file the request names, or a new one of this run alone; none when
// no one would read it (creating and removing a file per fit costs a batch
// more than the fit), and then no log folder is needed either. Opened before
// the fit, so that a log that cannot be written ends it before it runs.
std::unique_ptr<FileLog> OpenFitLog(const FitLogOptions& log, const FitRequest& request) {
  if (!log.write) return nullptr;
  if (!log.path.empty()) {
    ReplaceLogFile(log.path);
    return std::make_unique<FileLog>(log.path);
  }
  if (!LogIsRead(request)) return nullptr;
  return FileLog::CreateUnique(log.folder.empty() ? UsableLogFolder() : log.folder);
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

// The run's log: formed in memory when a file or the report takes it, and
// written to the file (then closed) when the run ends, however it ends.
class FitLog {
 public:
  FitLog(std::unique_ptr<FileLog> file, bool asReport)
      : file_(std::move(file)), formed_(file_ || asReport) {}

  // Opening, iteration table and report of a run; raises the report's error
  // for a failed run after the log is written.
  void Finish(const IterationTrace& trace, StopCode code, int m, long double sum,
              const ParameterValues& parameters, const ParameterMatrix& covariance,
              ConvergenceTest convergedBy = ConvergenceTest::None) {
    DiscardedLog discarded;
    IterationLog& sink = formed_ ? static_cast<IterationLog&>(text_) : discarded;
    if (formed_) {
      WriteLogOpening(text_);
      WriteIterationTable(text_, trace, FitParameterNames());
    }
    try {
      WriteMinimizerReport(sink, code, m, sum, parameters, covariance, FitParameterNames(),
                           convergedBy);
    } catch (...) {
      try {
        WriteFile();
      } catch (const Error&) {
        // The first failure is the one worth reporting.
      }
      throw;
    }
    WriteFile();
  }

  const std::string& Text() const { return text_.Text(); }

 private:
  void WriteFile() {
    if (!file_) return;
    FileLog& file = *file_;
    try {
      file.Write(text_.Text());
    } catch (...) {
      try {
        file.Close();
      } catch (const Error&) {
      }
      throw;
    }
    file.Close();
  }

  std::unique_ptr<FileLog> file_;
  bool formed_;
  TextLog text_;
};

// Whether a line's fraction, as the model rounds it to a double, reacts to
// an input that moves by half a percent: a slope this small leaves the
// fraction's value as it is.
bool ReactsVisibly(long double slope, long double input, double fraction) {
  return std::fabs(slope) * 2 * std::fabs(DerivativeStep(input)) >
         std::numeric_limits<double>::epsilon() * std::fabs(fraction);
}

// Whether the measured lines can tell the fitted input (0: log10 n_1, 1: the
// second parameter): an upper level with two or more measured lines whose
// model fractions react to it at `at` (a level's only line always has the
// fraction 1). A model that cannot even be evaluated there leaves the
// question to the fit, which reports its fault.
bool LinesTell(EbfModel& model, const ModelParameters& at, int input) {
  const std::vector<TLineRecord>& lines = model.Table().lines;
  std::map<int32_t, int> reacting;  // measured lines that react, per upper level
  try {
    const FractionSweep& sweep = model.Sweep(at);
    const long double value = input == 0 ? at.log10N1 : at.second;
    for (size_t k = 0; k < lines.size(); ++k) {
      if (!(lines[k].G_m > 0)) continue;
      if (!ReactsVisibly(sweep.By(input, k), value, sweep.values[k])) continue;
      if (++reacting[lines[k].UpperState] >= 2) return true;
    }
  } catch (const std::exception&) {
    return true;
  }
  return false;
}

const char* SecondParameterName(Distribution distribution) {
  return distribution == Distribution::FirstLevels ? "The 1s2/4 density" : "T_exc";
}

// Refuses to fit, or to report, a parameter the lines cannot tell.
void CheckDetermined(EbfModel& model, const ModelParameters& at, bool fitSecond) {
  constexpr const char* kWhy =
      "is not determined by these lines: no upper level has two lines "
      "that react to it";
  if (!LinesTell(model, at, 0)) throw Error(std::string("n_1 ") + kWhy);
  if (fitSecond && !LinesTell(model, at, 1))
    throw Error(Format("%s %s", SecondParameterName(at.distribution), kWhy));
}

// A fit that ran past the densities the model takes ended on no measured
// information, whatever the minimiser's code says.
void CheckWithinTheModel(const ModelParameters& fitted) {
  const auto density = [](long double log10) { return MessageNumber(std::pow(10.0L, log10)); };
  if (fitted.log10N1 < kMinLog10Density)
    throw UndeterminedN1Error(
        Format("The fit ended at n_1 = %s m-3, below the model's lower edge of %s m-3: "
               "these lines do not determine n_1.",
               density(fitted.log10N1), density(kMinLog10Density)),
        UndeterminedN1Error::Reason::BelowTheModel, fitted.log10N1);
  if (fitted.log10N1 > kMaxLog10Density)
    throw UndeterminedN1Error(
        Format("The fit ended at n_1 = %s m-3, above the model's upper edge of %s m-3: "
               "these lines do not determine n_1.",
               density(fitted.log10N1), density(kMaxLog10Density)),
        UndeterminedN1Error::Reason::AboveTheModel, fitted.log10N1);
}

// The sum (or, weighted, the chi-square) of the model at `at` against the
// measured fractions, as the minimiser forms it.
long double SumAt(EbfModel& model, const ModelParameters& at, const FractionWhitening* whitening) {
  const std::vector<TLineRecord>& lines = model.Table().lines;
  const std::vector<double>& fractions = model.Sweep(at).values;
  if (whitening) return whitening->ChiSquare(lines, fractions);
  long double sum = 0;
  for (size_t k = 0; k < lines.size(); ++k) {
    if (!(lines[k].G_m > 0)) continue;
    const long double r = static_cast<long double>(lines[k].G_m) - fractions[k];
    sum += r * r;
  }
  return sum;
}

// A fit refused as no better than thin lines may have stopped in a local
// minimum its start led it into rather than on lines that tell nothing: a
// coarse scan of n_1 (and of the second parameter when it is fitted) that
// finds a sum below half the fit's (weighted: a chi-square lower by more
// than `significant`) says so, naming where to start instead.
void RefuseALocalMinimum(EbfModel& model, const ModelParameters& fitted, long double sum,
                         bool fitSecond, const FractionWhitening* whitening,
                         double significant = 0) {
  std::optional<ModelParameters> best;
  long double bestSum = whitening ? sum - significant : sum / 2;
  std::vector<long double> seconds{fitted.second};
  if (fitSecond)
    for (int i = 0; i <= 12; ++i) seconds.push_back(300 * std::pow(50000.0L / 300, i / 12.0L));
  for (long double second : seconds)
    for (int i = 0; i <= 20; ++i) {
      ModelParameters at = fitted;
      at.log10N1 = 10 + 0.5L * i;
      at.second = second;
      try {
        const long double scanned = SumAt(model, at, whitening);
        if (scanned < bestSum) {
          bestSum = scanned;
          best = at;
        }
      } catch (const std::exception&) {
      }
    }
  if (!best) return;
  const std::string where =
      !fitSecond ? std::string()
      : best->distribution == Distribution::FirstLevels
          ? Format(", 1s2/4 ratio %.3g", static_cast<double>(best->second))
          : Format(", T_exc = %.3g K", static_cast<double>(best->second));
  throw Error(Format("The fit stopped in a local minimum (sum %.3g): n_1 = %.3g m-3%s explains "
                     "the lines better (sum %.3g); start the fit there.",
                     static_cast<double>(sum), std::pow(10.0, static_cast<double>(best->log10N1)),
                     where, static_cast<double>(bestSum)));
}

// Refuses a fit that explains the measured fractions no better than lines
// without self-absorption (n_1 at the model's lower edge) would, at 95 %:
// unweighted by the F test of the nested models, weighted by the chi-square
// they differ by, as the stated uncertainties set its scale. The lines then
// do not tell n_1, however the minimiser ended. The fractions of an upper
// level sum to 1, so each level with measured lines takes one degree of
// freedom.
void CheckBetterThanThinLines(EbfModel& model, const ModelParameters& fitted, long double sum,
                              int fittedCount, const FractionWhitening* whitening) {
  const std::vector<TLineRecord>& lines = model.Table().lines;
  ModelParameters thin = fitted;
  thin.log10N1 = kMinLog10Density;
  long double thinSum = 0;
  int measured = 0;
  std::set<int32_t> levels;
  try {
    const std::vector<double>& fractions = model.Sweep(thin).values;
    for (size_t k = 0; k < lines.size(); ++k) {
      if (!(lines[k].G_m > 0)) continue;
      const long double r = static_cast<long double>(lines[k].G_m) - fractions[k];
      thinSum += r * r;
      ++measured;
      levels.insert(lines[k].UpperState);
    }
    if (whitening) thinSum = whitening->ChiSquare(lines, fractions);
  } catch (const std::exception&) {
    return;  // no thin model to compare with
  }
  const int freedom = measured - static_cast<int>(levels.size()) - fittedCount;
  if (freedom < 1 || !(thinSum > 0)) return;
  if (whitening) {
    // The stated uncertainties set the scale: the chi-square the thin lines
    // add must exceed the 95 % point of chi-square(fitted).
    const double added = static_cast<double>(thinSum - sum);
    const boost::math::chi_squared_distribution<double> chiSquare(fittedCount);
    const double critical = boost::math::quantile(chiSquare, 0.95);
    if (added > critical) return;
    RefuseALocalMinimum(model, fitted, sum, fittedCount == 2, whitening, critical);
    throw UndeterminedN1Error(
          Format("n_1 is not determined by these lines: the fit explains them no better "
                 "than lines without self-absorption within their uncertainties (chi2 "
                 "difference = %.3g, below %.3g at 95 %%)",
                 added, critical),
          UndeterminedN1Error::Reason::LikeThinLines, fitted.log10N1);
  }
  if (!(sum > 0)) return;  // the model reproduces the lines exactly
  const double statistic = static_cast<double>((thinSum - sum) / fittedCount / (sum / freedom));
  // No 95 % point of F(1 or 2, any) lies above 200 (F(2, 1) is the largest,
  // 199.5): a larger statistic needs no quantile, which costs a fit a third
  // of its time.
  if (statistic > 200 && fittedCount <= 2) return;
  const boost::math::fisher_f_distribution<double> f(fittedCount, freedom);
  const double critical = boost::math::quantile(f, 0.95);
  if (statistic > critical) return;
  RefuseALocalMinimum(model, fitted, sum, fittedCount == 2, whitening);
  // A negative F: the fit's end explains the lines worse than thin lines.
  throw UndeterminedN1Error(
      statistic < 0
          ? Format("n_1 is not determined by these lines: the fit explains them worse than "
                   "lines without self-absorption (sum %.3g against %.3g)",
                   static_cast<double>(sum), static_cast<double>(thinSum))
          : Format("n_1 is not determined by these lines: the fit explains them no better "
                   "than lines without self-absorption (F = %.3g, below %.3g at 95 %%)",
                   statistic, critical),
      UndeterminedN1Error::Reason::LikeThinLines, fitted.log10N1);
}

// The sandwich estimate of an unweighted fit's covariance, B M B with the
// bread B the inverse normal matrix and the meat M summed over the upper
// levels: a level's residuals are tied by its fractions' sum, so the level,
// not the line, is the independent unit. Few levels carry most of what the
// lines tell of n_1, and the fit pulls their residuals towards the model;
// each level's residuals are therefore taken as if left out of the fit
// (r / (1 - H), H the level's block of the hat matrix), the jackknife form of
// the estimate.
ParameterValues RobustErrors(BranchingFractionFit& fitted, const ParameterValues& parameters,
                             const std::vector<TLineRecord>& lines,
                             const ParameterMatrix& bread) {
  using Matrix = Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic>;
  using Vector = Eigen::Matrix<long double, Eigen::Dynamic, 1>;
  const int n = static_cast<int>(parameters.size());
  std::map<int32_t, std::vector<int>> levels;
  for (size_t k = 0; k < lines.size(); ++k)
    if (lines[k].G_m > 0) levels[lines[k].UpperState].push_back(static_cast<int>(k));
  ParameterMatrix meat = ParameterMatrix::Zero(n, n);
  for (const auto& [upper, members] : levels) {
    const Eigen::Index size = static_cast<Eigen::Index>(members.size());
    Matrix jacobian(size, n);
    Vector residuals(size);
    for (Eigen::Index a = 0; a < size; ++a) {
      ParameterValues gradient = ParameterValues::Zero(n);
      long double value = 0;
      if (!fitted.Gradient(parameters, members[a], gradient) ||
          !fitted.Value(parameters, members[a], value))
        return ParameterValues::Zero(n);
      jacobian.row(a) = gradient.transpose();
      residuals[a] = static_cast<long double>(lines[members[a]].G_m) - value;
    }
    const Matrix leverage = jacobian * Matrix(bread) * jacobian.transpose();
    const Matrix identity = Matrix::Identity(size, size);
    const Vector leftOut = (identity - leverage).fullPivLu().solve(residuals);
    const ParameterValues score = jacobian.transpose() * leftOut;
    meat += score * score.transpose();
  }
  const ParameterMatrix covariance = bread * meat * bread;
  ParameterValues errors(n);
  for (int i = 0; i < n; ++i) errors[i] = std::sqrt(std::max(covariance(i, i), 0.0L));
  // A level that alone decides a parameter cannot be left out: no estimate.
  if (!errors.allFinite()) return ParameterValues::Zero(n);
  return errors;
}

// Refuses a fit that would leave no degree of freedom: the lines'
// independent fractions (those of an upper level sum to 1) must outnumber
// the fitted parameters, or the fit matches them whatever they are and
// states no uncertainty.
void CheckDegreesOfFreedom(const std::vector<TLineRecord>& lines, int fitted) {
  const int freedom = FractionDegreesOfFreedom(lines, fitted);
  if (freedom >= 1) return;
  throw Error(Format("These lines give %d independent branching fractions (each upper level "
                     "one fewer than its measured lines, as its fractions sum to 1), no more "
                     "than the %d fitted parameters: the fit would have no degree of freedom "
                     "left.",
                     freedom + fitted, fitted));
}

// The model takes the second parameter's magnitude (T_exc, the "1s levels"
// ratio): a run that crossed to its negative side found the same fit as its
// mirror, which is the one to state, in the trace as well.
void FoldSecondParameter(ParameterValues& parameters, ParameterMatrix& covariance,
                         IterationTrace& trace) {
  for (IterationRecord& record : trace) record.parameters[1] = std::fabs(record.parameters[1]);
  if (!(parameters[1] < 0)) return;
  parameters[1] = -parameters[1];
  if (covariance.rows() == 2) {
    covariance(0, 1) = -covariance(0, 1);
    covariance(1, 0) = -covariance(1, 0);
  }
}

ParameterValues ParameterErrors(int m, long double sum, const ParameterMatrix& cov) {
  const int n = static_cast<int>(cov.rows());
  ParameterValues errors = ParameterValues::Zero(n);
  if (m <= 2) return errors;
  for (int i = 0; i < n; ++i) errors[i] = fp::Sqrt(fp::Div(sum, m - n) * cov(i, i));
  return errors;
}

// How grossly a fit misses its lines, when it does: the misfit's figure
// (see CheckFitDescribesTheLines); nothing for a fit that describes them.
std::optional<std::string> GrossMisfit(const std::vector<TLineRecord>& lines,
                                       const FitResult& fit) {
  constexpr long double kLargestMisfit = 0.05L;
  constexpr long double kLargestChiSquarePerDegree = 25;
  if (fit.weighted) {
    if (fit.goodness.PerDegree() <= kLargestChiSquarePerDegree) return std::nullopt;
    return Format("chi2/dof = %.4g for %d degrees of freedom",
                  static_cast<double>(fit.goodness.PerDegree()), fit.goodness.degreesOfFreedom);
  }
  const int freedom = FractionDegreesOfFreedom(lines, fit.parameterCount);
  if (freedom < 1) return std::nullopt;
  const long double misfit = std::sqrt(fit.sum / freedom);
  if (misfit <= kLargestMisfit) return std::nullopt;
  return Format("the branching fractions missed by %.3g (root mean square), more than %.3g",
                static_cast<double>(misfit), static_cast<double>(kLargestMisfit));
}

// "; the lines bound it from above: n_1 < X m-3 (95 %)" when the profile
// of n_1 from the fit's end reaches the model's lower edge but not its upper
// one; empty otherwise (or when the profile cannot be formed).
std::string UpperLimitNote(EbfModel& model, const FitRequest& request, FitResult fit,
                           int parameterCount, bool weighted) {
  fit.parameterCount = parameterCount;
  fit.weighted = weighted;
  fit.errors = ParameterValues::Zero(parameterCount);
  try {
    const ProfileInterval interval = ProfileLog10N1(model, request, fit, 0.95);
    model.ClearCache();
    if (!interval.upperLimit || interval.lowerLimit) return "";
    return Format("; they bound it from above: n_1 < %.3e m-3 (95 %%)",
                  std::pow(10.0, interval.log10N1To));
  } catch (const std::exception&) {
    model.ClearCache();
    return "";
  }
}

}  // namespace

void FitRequest::Validate() const {
  CheckModelInputs(target.start);
  CheckLog10Density(target.start.log10N1, kDensityCaption);
  CheckAboveZero(target.start.second, SecondParameterCaption(target.start.distribution));
}

ParameterNames FitParameterNames() { return {"log10(n_1)", "Te"}; }

void CheckFitDescribesTheLines(const std::vector<TLineRecord>& lines, const FitResult& fit) {
  const std::optional<std::string> misfit = GrossMisfit(lines, fit);
  if (!misfit) return;
  // A fit its iteration limit stopped may not have found its minimum yet.
  if (fit.stopCode == StopCode::IterationLimitReached)
    throw Error(Format("The fit stopped at its iteration limit after %d iterations, still far "
                       "from the lines (%s): raise the iteration limit and fit again.",
                       fit.iterations, *misfit));
  if (fit.weighted)
    throw Error(Format("The lines disagree with the model far beyond their uncertainties (%s): "
                       "these lines, or their uncertainties, do not give n_1.",
                       *misfit));
  throw Error(Format("The model does not describe these lines (%s): they do not give n_1.",
                     *misfit));
}

FitResult RunFit(EbfModel& model, const FitRequest& request, int& resultsLineCount) {
  std::vector<TLineRecord>& lines = model.Table().lines;
  CheckLineCount(static_cast<int>(lines.size()));

  CheckDetermined(model, request.target.start, request.target.fitSecond);
  BranchingFractionFit fitted(model, request.target);
  CheckDegreesOfFreedom(lines, fitted.ParameterCount());
  // A weighted fit sees the fractions through their whitening.
  std::optional<FractionWhitening> whitening;
  std::optional<WhitenedModel> whitened;
  MinimizerProblem problem;
  if (request.uncertainty.Weighted()) {
    whitening.emplace(lines, IntensityUncertainties(lines, request.uncertainty));
    whitened.emplace(fitted, *whitening, static_cast<int>(lines.size()));
    problem.model = &*whitened;
    problem.observed = whitened->Observed(lines);
    problem.weights.assign(problem.observed.size(), 1);
  } else {
    problem = MeasuredFractions(lines, fitted);
  }
  const int m = static_cast<int>(problem.observed.size());

  MinimizerOptions options;
  options.iterationLimit = request.solver.iterationLimit;
  // A chi-square this small is a model within a few 1e-5 of each line's
  // uncertainty: nothing further to find.
  if (whitening) options.sumTarget = 1e-9L;
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
  ParameterValues parameters = fitted.Start();

  std::unique_ptr<FileLog> file = OpenFitLog(request.log, request);
  std::string logPath;
  std::optional<LogRemoval> removal;
  if (file) {
    logPath = file->Path();
    removal.emplace(logPath, request.log.path.empty() && !request.log.keep);
  }
  FitLog log(std::move(file), request.log.write && LogIsRead(request));
  IterationTrace trace;
  MinimizerSummary summary;
  try {
    summary = Minimize(options, problem, parameters, &trace);
  } catch (...) {
    if (!stopped) {
      // The report turns the interrupted run into its error.
      log.Finish(trace, StopCode::NotStarted, m, summary.sum, parameters, summary.covariance);
      throw;
    }
    // A stopped run's log still ends with its report; the report's error is
    // not the one to raise.
    try {
      log.Finish(trace, StopCode::NotStarted, m, summary.sum, parameters, summary.covariance);
    } catch (...) {
    }
    std::rethrow_exception(stopped);
  }
  if (fitted.ParameterCount() == 2) FoldSecondParameter(parameters, summary.covariance, trace);
  log.Finish(trace, summary.stopCode, m, summary.sum, parameters, summary.covariance,
             summary.convergedBy);

  FitResult result;
  result.fitted = fitted.At(parameters);
  CheckWithinTheModel(result.fitted);
  try {
    CheckBetterThanThinLines(model, result.fitted, summary.sum, fitted.ParameterCount(),
                             whitening ? &*whitening : nullptr);
  } catch (const UndeterminedN1Error& e) {
    // Lines no better than thin ones may still bound n_1 from above; a fit
    // without a report (a refit, the anchor of a region) has no reader for
    // that, which costs a profile scan.
    if (!request.report.enabled) throw;
    throw UndeterminedN1Error(
        e.what() +
            UpperLimitNote(model, request, result, fitted.ParameterCount(), whitening.has_value()),
        e.Why(), e.Log10N1());
  }
  CheckDetermined(model, result.fitted, request.target.fitSecond);
  if (!whitening && request.report.enabled)
    result.robustErrors = RobustErrors(fitted, parameters, lines, summary.covariance);
  // Mostly the minimiser's last computation is that of its final parameters:
  // the model fields then describe them already and their entry is kept.
  model.ClearCacheKeeping(result.fitted);
  for (size_t k = 0; k < lines.size(); ++k)
    lines[k].G_f = static_cast<double>(model.Evaluate(result.fitted, static_cast<int>(k)));

  result.parameterCount = fitted.ParameterCount();
  result.sum = summary.sum;
  result.stopCode = summary.stopCode;
  result.iterations = summary.iterations;
  result.convergedBy = summary.convergedBy;
  result.covariance = summary.covariance;
  result.weighted = whitening.has_value();
  if (result.weighted) {
    // The uncertainties state the scale: the covariance is not rescaled.
    result.errors = ParameterValues(result.parameterCount);
    for (int i = 0; i < result.parameterCount; ++i)
      result.errors[i] = std::sqrt(std::max(summary.covariance(i, i), 0.0L));
    result.goodness = ChiSquareTest(summary.sum, m - result.parameterCount);
  } else {
    result.errors = ParameterErrors(m, summary.sum, summary.covariance);
  }
  result.trace = std::move(trace);
  if (!request.log.path.empty() || request.log.keep) result.logPath = logPath;
  if (request.log.text) result.logText = log.Text();

  if (request.solver.refuseGrossMisfit) CheckFitDescribesTheLines(lines, result);
  if (!request.report.enabled) return result;
  if (request.report.kind == ReportKind::FitIteration)
    result.report = TextLines(log.Text());
  else
    result.resultsLine = ResultsLine(model.Table().levels, FitResultsInput(result),
                                     resultsLineCount, &result.report, request.report.dataFileName);
  return result;
}

}  // namespace lumora
