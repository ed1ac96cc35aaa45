#include "cli/uncertainty.h"

#include <cmath>
#include <random>

#include "base/format.h"
#include "base/numparse.h"
#include "cli/command.h"

namespace lumora::cli {

namespace {

double Number(const std::string& option, const std::string& text) {
  double value = 0;
  if (!TryParseReal(Trim(text), value) || !std::isfinite(value))
    throw UsageError(option + " needs a number, not \"" + QuoteToken(text) + "\"");
  return value;
}

}  // namespace

UncertaintyOptions TakeUncertaintyOptions(std::vector<std::string>& args, bool fit) {
  UncertaintyOptions options;
  std::string value;
  const bool runs = TakeOption(args, "--monte-carlo", value);
  if (runs) {
    int32_t n = 0;
    if (!TryParseInt(Trim(value), n) || n < kMinMonteCarloRuns || n > kMaxMonteCarloRuns)
      throw UsageError(Format("--monte-carlo takes %d to %d runs, not \"%s\"", kMinMonteCarloRuns,
                              kMaxMonteCarloRuns, QuoteToken(value)));
    options.monteCarloRuns = n;
  }
  const bool noise = TakeOption(args, "--noise", value);
  if (noise) {
    options.noise = Number("--noise", value);
    if (options.noise < 0) throw UsageError("--noise must be 0 or more, not \"" + value + "\"");
  }
  options.akiAccuracy = TakeFlag(args, "--aki-accuracy");
  const bool seeded = TakeOption(args, "--seed", value);
  if (seeded) {
    const std::string t = Trim(value);
    char* end = nullptr;
    errno = 0;
    const unsigned long long s = std::strtoull(t.c_str(), &end, 10);
    if (t.empty() || t[0] == '-' || *end != '\0' || errno == ERANGE)
      throw UsageError("--seed needs a whole number of 0 or more, not \"" + QuoteToken(value) + "\"");
    options.seed = s;
  } else {
    std::random_device device;
    options.seed = (uint64_t{device()} << 32) | device();
  }
  if ((noise || options.akiAccuracy || seeded) && !runs)
    throw UsageError("--noise, --aki-accuracy and --seed go with --monte-carlo N");
  if (runs && !fit) throw UsageError("--monte-carlo goes with fit, not map");
  if (TakeOption(args, "--confidence", value)) {
    if (fit) throw UsageError("--confidence goes with map, not fit");
    const double level = Number("--confidence", value);
    if (!(level > 0 && level < 1))
      throw UsageError("--confidence takes a level between 0 and 1, not \"" + value + "\"");
    options.confidence = level;
  }
  return options;
}

MonteCarloOutcome RunMonteCarloFor(const Session& session, const FitRequest& request,
                                   const FitResult& fit, const UncertaintyOptions& options) {
  MonteCarloOutcome outcome;
  MonteCarloRequest& mc = outcome.request;
  mc.fit = request;
  mc.fitted = fit.fitted;
  mc.runs = options.monteCarloRuns;
  mc.intensityNoise = options.noise;
  mc.akiAccuracy = options.akiAccuracy;
  mc.seed = options.seed;
  outcome.result = session.MonteCarlo(mc);
  return outcome;
}

std::string ConfidenceText(const ConfidenceRegion& region, Distribution distribution) {
  const bool firstLevels = distribution == Distribution::FirstLevels;
  std::string line = Format(
      "%g %% confidence region: n_1 %.3e .. %.3e m-3, %s %.4g .. %.4g", region.level * 100,
      std::pow(10.0, region.minLog10N1), std::pow(10.0, region.maxLog10N1),
      firstLevels ? "1s2/4 (1e-3)" : "T_exc/K", region.minSecond, region.maxSecond);
  if (region.touchesEdge) line += " (the region reaches the grid's edge: these are bounds)";
  return line;
}

}  // namespace lumora::cli
