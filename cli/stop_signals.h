// How a batch answers the terminating signals (SIGINT, SIGTERM, SIGHUP),
// one policy for all three: the first asks the batch to stop at its next
// step (a fit's iteration, a map's row, a refit, a step of an integration)
// and to start no further file; a second signal of any kind ends the
// process at once, by its own default action.
#pragma once

#include "base/errors.h"

namespace lumora::cli {

// Raised at a step after the first signal: the file in flight ends with it.
class StoppedBySignal : public Error {
 public:
  explicit StoppedBySignal(int signal);
};

// Catches the signals while it lives; the handlers before it come back after.
class StopOnSignals {
 public:
  StopOnSignals();
  ~StopOnSignals();
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

  // Whether a signal asked to stop.
  static bool Stopped();
  // Raises StoppedBySignal once a signal asked to stop: the hook of each step.
  static void StopIfAsked();
  // 128 + the signal when one stopped the batch, else the batch's status.
  static int Status(int status);
};

}  // namespace lumora::cli
