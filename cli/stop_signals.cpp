#include "cli/stop_signals.h"

#include <signal.h>

#include <atomic>
#include <iterator>

#include "base/format.h"

namespace lumora::cli {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> stopSignal{0};

// The first signal is noted; any later one takes its default course (the
// process ends by it), whichever signal came first. Only async-signal-safe
// calls here.
void OnStopSignal(int signal) {
  int none = 0;
  if (stopSignal.compare_exchange_strong(none, signal)) return;
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);  // delivered as the handler returns
}

const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

struct sigaction previous[std::size(kStopSignals)];

}  // namespace

StoppedBySignal::StoppedBySignal(int signal)
    : Error(Format("Stopped by %s before the end.", SignalName(signal))) {}

StopOnSignals::StopOnSignals() {
  stopSignal.store(0);
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No signal of the three interrupts the handler of another: the first
  // one is noted before a second is seen.
  for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  for (size_t k = 0; k < std::size(kStopSignals); ++k)
    sigaction(kStopSignals[k], &action, &previous[k]);
}

StopOnSignals::~StopOnSignals() {
  for (size_t k = 0; k < std::size(kStopSignals); ++k)
    sigaction(kStopSignals[k], &previous[k], nullptr);
}

bool StopOnSignals::Stopped() { return stopSignal.load() != 0; }

void StopOnSignals::StopIfAsked() {
  if (const int signal = stopSignal.load()) throw StoppedBySignal(signal);
}

int StopOnSignals::Status(int status) { return Stopped() ? 128 + stopSignal.load() : status; }

}  // namespace lumora::cli
