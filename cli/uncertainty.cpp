#include "cli/uncertainty.h"

#include <cmath>

#include "base/format.h"
#include "base/numparse.h"
#include "cli/command.h"
#include "cli/stop_signals.h"

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
    options.monteCarlo.runs = n;
  }
  const bool noise = TakeOption(args, "--noise", value);
  if (noise) {
    options.monteCarlo.noise = Number("--noise", value);
    if (options.monteCarlo.noise < 0)
      throw UsageError("--noise must be 0 or more, not \"" + QuoteToken(value) + "\"");
  }
  const bool poisson = TakeFlag(args, "--poisson");
  const bool column = TakeFlag(args, "--sigma-column");
  if (noise + poisson + column > 1)
    throw UsageError(
        "--noise, --poisson and --sigma-column each state the intensities' uncertainty: give "
        "one of them");
  if (noise && options.monteCarlo.noise > 0)
    options.intensities = {UncertaintySource::Relative, options.monteCarlo.noise};
  if (poisson) options.intensities.source = UncertaintySource::Poisson;
  if (column) options.intensities.source = UncertaintySource::Column;
  options.monteCarlo.akiAccuracy = TakeFlag(args, "--aki-accuracy");
  const bool seeded = TakeOption(args, "--seed", value);
  if (seeded) {
    const std::optional<uint64_t> seed = ParseSeed(Trim(value));
    if (!seed)
      throw UsageError("--seed needs a whole number of 0 or more, not \"" + QuoteToken(value) +
                       "\"");
    options.monteCarlo.seed = *seed;
  } else {
    options.monteCarlo.seed = DrawSeed();
  }
  if ((options.monteCarlo.akiAccuracy || seeded) && !runs)
    throw UsageError("--aki-accuracy and --seed go with --monte-carlo N");
  if (runs && !fit) throw UsageError("--monte-carlo goes with fit, not map");
  if (TakeOption(args, "--profile", value)) {
    if (!fit) throw UsageError("--profile goes with fit, not map");
    const double level = Number("--profile", value);
    if (!(level > 0 && level < 1))
      throw UsageError("--profile takes a level between 0 and 1, not \"" + QuoteToken(value) +
                       "\"");
    options.profile = level;
  }
  if (TakeOption(args, "--confidence", value)) {
    if (fit) throw UsageError("--confidence goes with map, not fit");
    const double level = Number("--confidence", value);
    if (!(level > 0 && level < 1))
      throw UsageError("--confidence takes a level between 0 and 1, not \"" + QuoteToken(value) +
                       "\"");
    options.confidence = level;
  }
  return options;
}

MonteCarloOutcome RunMonteCarloFor(const Session& session, const FitRequest& request,
                                   const FitResult& fit, const UncertaintyOptions& options,
                                   int threads) {
  MonteCarloOutcome outcome;
  outcome.request = MonteCarloRequestFor(request, options.monteCarlo);
  outcome.request.threads = threads;
  outcome.request.progress = [](int, int) { StopOnSignals::StopIfAsked(); };
  outcome.result = session.MonteCarlo(outcome.request, fit);
  return outcome;
}

}  // namespace lumora::cli
