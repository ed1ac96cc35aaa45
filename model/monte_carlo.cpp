#include "model/monte_carlo.h"

#include <oneapi/tbb/enumerable_thread_specific.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <random>
#include <utility>

#include "base/errors.h"
#include "base/format.h"
#include "model/input_checks.h"

namespace lumora {

namespace {

// The relative bounds of the accuracy grades of transition probabilities.
constexpr std::pair<std::string_view, double> kGrades[] = {
    {"AAA", 0.003}, {"AA", 0.01}, {"A+", 0.02}, {"A", 0.03}, {"B+", 0.07}, {"B", 0.10},
    {"C+", 0.18},   {"C", 0.25},  {"D+", 0.40}, {"D", 0.50}, {"E", 0.50}};
constexpr double kUngradedBound = 0.50;  // a line without a grade counts as E

// A seed per refit from the run's seed and the refit's number, so that a
// refit draws the same numbers on whichever thread it runs.
uint64_t RefitSeed(uint64_t seed, uint64_t run) {
  uint64_t z = seed + 0x9E3779B97F4A7C15ull * (run + 1);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// The log-normal factor with relative standard deviation `bound` and median 1.
double LogNormalFactor(double bound, double z) {
  return std::exp(std::sqrt(std::log1p(bound * bound)) * z);
}

struct Refit {
  bool ok = false;
  bool iterationLimit = false;  // stopped unfinished at the iteration limit
  bool lowerEdge = false;       // ended below the model's lower edge of n_1
  bool likeThinLines = false;   // ended no better than lines without self-absorption
  long double log10N1 = 0;
  long double second = 0;
};

// The relative standard deviation each line's intensity is drawn with: the
// uncertainty the fit is weighted by, else the request's noise.
std::vector<double> RelativeSpreads(const LineTable& measured, const MonteCarloRequest& request) {
  const IntensityUncertainty& stated = request.fit.uncertainty;
  if (!stated.Weighted() || stated.source == UncertaintySource::Relative)
    return std::vector<double>(measured.lines.size(),
                               stated.Weighted() ? stated.relative : request.intensityNoise);
  const std::vector<double> sigmas = IntensityUncertainties(measured.lines, stated);
  std::vector<double> spreads(measured.lines.size(), 0.0);
  for (size_t k = 0; k < spreads.size(); ++k)
    if (measured.lines[k].Int > 0) spreads[k] = sigmas[k] / measured.lines[k].Int;
  return spreads;
}

// One refit on `work`, a copy of the measured table that it may change.
Refit RunRefit(LineTable& work, const LineTable& measured, const std::vector<double>& spreads,
               const MonteCarloRequest& request, uint64_t run) {
  std::mt19937_64 generator(RefitSeed(request.seed, run));
  std::normal_distribution<double> normal(0.0, 1.0);
  for (size_t k = 0; k < work.lines.size(); ++k) {
    work.lines[k] = measured.lines[k];
    const double z = normal(generator);
    // Log-normal, so that no intensity turns negative however large the noise.
    if (spreads[k] != 0) work.lines[k].Int *= LogNormalFactor(spreads[k], z);
  }
  if (request.akiAccuracy) {
    for (TLineRecord& line : work.lines) {
      const double bound = AccuracyBound(line.AR.Acc.view()).value_or(kUngradedBound);
      line.AR.Aki *= LogNormalFactor(bound, normal(generator));
    }
  }
  Refit refit;
  try {
    ComputeBranchingFractions(work);
    EbfModel model(work);
    FitRequest fit = request.fit;
    fit.target.start = request.fitted;
    fit.log.write = false;  // refits keep no log
    // A refit's error counts as a failed refit; stopping the runs is the
    // progress report's part.
    fit.beforeIteration = nullptr;
    fit.report.enabled = false;
    // Perturbed Aki values may move the lines far from the model; how far
    // the refits then scatter is what the run measures.
    fit.solver.refuseGrossMisfit = false;
    int resultsLines = 0;
    const FitResult result = RunFit(model, fit, resultsLines);
    // A refit stopped by a limit has not found its optimum.
    refit.iterationLimit = result.stopCode == StopCode::IterationLimitReached;
    refit.ok = result.stopCode != StopCode::LambdaReached && !refit.iterationLimit;
    refit.log10N1 = result.fitted.log10N1;
    refit.second = result.fitted.second;
  } catch (const UndeterminedN1Error& e) {
    // Failed, but where it ended still counts towards an upper limit.
    refit.lowerEdge = e.Why() == UndeterminedN1Error::Reason::BelowTheModel;
    refit.likeThinLines = e.Why() == UndeterminedN1Error::Reason::LikeThinLines;
    refit.log10N1 = e.Log10N1();
  } catch (const Error&) {
    refit.ok = false;
  }
  return refit;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.size() == 1) return sorted.front();
  const double position = p * static_cast<double>(sorted.size() - 1);
  const size_t below = static_cast<size_t>(std::floor(position));
  const size_t above = std::min(below + 1, sorted.size() - 1);
  return sorted[below] + (position - static_cast<double>(below)) * (sorted[above] - sorted[below]);
}

constexpr double kUpperLimitPercentile = 0.95;

// More than 5 % of the refits: failed ones are worth a warning, and as many
// at the lower edge of n_1 make the refits an upper limit.
bool MoreThanShare(int count, int runs) { return count * 20 > runs; }

// The 95th percentile of n_1 over the refits that ended where n_1 can be
// read: those that succeeded, those no better than lines without
// self-absorption, and those at the lower edge, counted at the edge.
double UpperLimit(const std::vector<Refit>& refits) {
  std::vector<double> n1;
  for (const Refit& refit : refits) {
    if (refit.lowerEdge)
      n1.push_back(static_cast<double>(std::pow(10.0L, kMinLog10Density)));
    else if (refit.ok || refit.likeThinLines)
      n1.push_back(static_cast<double>(std::pow(10.0L, refit.log10N1)));
  }
  std::sort(n1.begin(), n1.end());
  return Percentile(n1, kUpperLimitPercentile);
}

std::string StatisticsRow(const char* name, const SampleStatistics& s) {
  return Format("%-12s %12.5e %12.5e %12.5e %12.5e %12.5e", name, s.mean, s.std, s.p50, s.p2_5,
                s.p97_5);
}

}  // namespace

std::optional<double> AccuracyBound(std::string_view grade) {
  while (!grade.empty() && grade.back() == ' ') grade.remove_suffix(1);
  while (!grade.empty() && grade.front() == ' ') grade.remove_prefix(1);
  for (const auto& [name, bound] : kGrades)
    if (grade == name) return bound;
  return std::nullopt;
}

void CheckMonteCarloRequest(const MonteCarloRequest& request) {
  if (request.runs < kMinMonteCarloRuns || request.runs > kMaxMonteCarloRuns)
    throw Error(Format("Monte Carlo runs must lie between %d and %d, not %d.", kMinMonteCarloRuns,
                       kMaxMonteCarloRuns, request.runs));
  if (!(request.intensityNoise >= 0) || !std::isfinite(request.intensityNoise))
    throw Error(Format("The intensity noise must be 0 or more, not %s.",
                       MessageNumber(request.intensityNoise)));
  if (request.intensityNoise == 0 && !request.akiAccuracy && !request.fit.uncertainty.Weighted())
    throw Error(
        "Monte Carlo refits need something to perturb: an intensity noise above 0, the "
        "intensities' uncertainties or the Aki accuracy grades.");
}

SampleStatistics Statistics(std::vector<double> values) {
  SampleStatistics s;
  if (values.empty()) return s;
  long double sum = 0;
  for (double v : values) sum += v;
  const long double mean = sum / values.size();
  long double squares = 0;
  for (double v : values) squares += (v - mean) * (v - mean);
  s.mean = static_cast<double>(mean);
  s.std = values.size() > 1 ? static_cast<double>(std::sqrt(squares / (values.size() - 1))) : 0;
  std::sort(values.begin(), values.end());
  s.p2_5 = Percentile(values, 0.025);
  s.p50 = Percentile(values, 0.5);
  s.p97_5 = Percentile(values, 0.975);
  return s;
}

MonteCarloResult RunMonteCarlo(const LineTable& table, const MonteCarloRequest& request) {
  CheckMonteCarloRequest(request);
  std::vector<Refit> refits(request.runs);
  // Every worker refits on its own copy of the table.
  tbb::enumerable_thread_specific<LineTable> copies([&table] { return table; });
  const std::vector<double> spreads = RelativeSpreads(table, request);
  std::mutex progressLock;
  int done = 0;
  auto refitRange = [&](const tbb::blocked_range<int>& range) {
    LineTable& work = copies.local();
    for (int run = range.begin(); run != range.end(); ++run) {
      // Once a report has stopped the runs, the other workers stop too.
      if (tbb::is_current_task_group_canceling()) return;
      refits[run] = RunRefit(work, table, spreads, request, static_cast<uint64_t>(run));
      if (request.progress) {
        const std::lock_guard<std::mutex> lock(progressLock);
        request.progress(++done, request.runs);
      }
    }
  };
  if (request.threads == 1) {
    refitRange(tbb::blocked_range<int>(0, request.runs));
  } else {
    tbb::task_arena arena(request.threads > 0 ? request.threads : tbb::task_arena::automatic);
    arena.execute([&] { tbb::parallel_for(tbb::blocked_range<int>(0, request.runs), refitRange); });
  }

  MonteCarloResult result;
  result.runs = request.runs;
  result.seed = request.seed;
  for (const TLineRecord& line : table.lines)
    if (!AccuracyBound(line.AR.Acc.view())) ++result.linesWithoutGrade;
  std::vector<double> n1, second;
  for (const Refit& refit : refits) {
    if (!refit.ok) {
      ++result.failed;
      if (refit.iterationLimit) ++result.iterationLimitFailures;
      if (refit.lowerEdge) ++result.lowerEdgeFailures;
      if (refit.likeThinLines) ++result.thinLinesFailures;
      continue;
    }
    result.log10N1Samples.push_back(static_cast<double>(refit.log10N1));
    n1.push_back(static_cast<double>(std::pow(10.0L, refit.log10N1)));
    second.push_back(static_cast<double>(refit.second));
  }
  if (MoreThanShare(result.lowerEdgeFailures, result.runs))
    result.n1UpperLimit = UpperLimit(refits);
  result.log10N1 = Statistics(result.log10N1Samples);
  result.n1 = Statistics(n1);
  if (request.fit.target.fitSecond) {
    result.second = Statistics(second);
    result.secondSamples = std::move(second);
  }
  return result;
}

int SuggestedIterationLimit(int limit) { return std::max(2 * limit, 100); }

std::vector<std::string> MonteCarloReport(const MonteCarloResult& result,
                                          const MonteCarloRequest& request) {
  std::vector<std::string> lines;
  std::string head = Format("Monte Carlo: %d runs, %d failed, seed %s, ", result.runs,
                            result.failed, std::to_string(result.seed));
  switch (request.fit.uncertainty.source) {
    case UncertaintySource::Column:
      head += "intensities drawn by their stated uncertainties";
      break;
    case UncertaintySource::Poisson:
      head += "intensities drawn as photon counts (Poisson uncertainty)";
      break;
    case UncertaintySource::Relative:
      head += Format("intensity noise %g", request.fit.uncertainty.relative);
      break;
    case UncertaintySource::None:
      head += Format("intensity noise %g", request.intensityNoise);
      break;
  }
  if (request.akiAccuracy)
    head += Format(", Aki accuracy grades (%d lines without a grade counted as E)",
                   result.linesWithoutGrade);
  lines.push_back(head);
  if (result.n1UpperLimit) {
    std::string limit = Format(
        "n_1 < %.3e m-3 (95 %%): the lines bound n_1 from above only (%d of %d refits ended at "
        "the model's lower edge of %s m-3",
        *result.n1UpperLimit, result.lowerEdgeFailures, result.runs,
        MessageNumber(std::pow(10.0L, kMinLog10Density)));
    if (result.thinLinesFailures > 0)
      limit +=
          Format(", %d no better than lines without self-absorption", result.thinLinesFailures);
    lines.push_back(limit + ")");
    const int otherFailures = result.failed - result.lowerEdgeFailures - result.thinLinesFailures;
    if (MoreThanShare(otherFailures, result.runs))
      lines.push_back(Format("Warning: %d of %d refits failed otherwise, more than 5 %%.",
                             otherFailures, result.runs));
  } else if (MoreThanShare(result.failed, result.runs)) {
    lines.push_back(
        Format("Warning: %d of %d refits failed, more than 5 %%: the spread is that of "
               "the refits that succeeded only.",
               result.failed, result.runs));
  }
  if (result.iterationLimitFailures > 0)
    lines.push_back(Format(
        "%d refits stopped at the iteration limit of %d before they ended; raise the limit "
        "(to %d, say) and fit again.",
        result.iterationLimitFailures, request.fit.solver.iterationLimit,
        SuggestedIterationLimit(request.fit.solver.iterationLimit)));
  // An upper limit is all the refits tell: no range around a value.
  if (result.n1UpperLimit) return lines;
  lines.push_back(
      Format("%-12s %12s %12s %12s %12s %12s", "", "mean", "std", "median", "p2.5", "p97.5"));
  lines.push_back(StatisticsRow("log10(n_1)", result.log10N1));
  lines.push_back(StatisticsRow("n_1/m-3", result.n1));
  if (result.second) {
    const bool firstLevels = request.fit.target.start.distribution == Distribution::FirstLevels;
    lines.push_back(StatisticsRow(firstLevels ? "1s2/4 (1e-3)" : "T/K", *result.second));
  }
  return lines;
}

}  // namespace lumora
