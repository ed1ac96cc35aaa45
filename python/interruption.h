// Ctrl+C during a long command. The command runs without the GIL, and
// Python's own handler of SIGINT only notes the signal for when the
// interpreter runs again, so a map or an integration would finish first.
// While a command runs on the main thread, a handler of ours notes the signal
// too (and passes it on to Python's); the command polls the note at its steps
// and stops, and the caller then lets Python raise KeyboardInterrupt.
#pragma once

#include <csignal>
#include <exception>

namespace lumora::python {

// Thrown at a step of a command after Ctrl+C.
struct Interrupted : std::exception {
  const char* what() const noexcept override { return "interrupted"; }
};

class InterruptionWatch {
 public:
  // Watches only on Python's main thread, and only where Python handles
  // SIGINT with a function (not where it is ignored or left to the
  // default). Made with the GIL held.
  InterruptionWatch();
  ~InterruptionWatch();
  InterruptionWatch(const InterruptionWatch&) = delete;
  InterruptionWatch& operator=(const InterruptionWatch&) = delete;

  // Whether SIGINT came since this watch began.
  bool Interrupted() const;

 private:
  bool installed_ = false;
  struct sigaction python_ {};
};

// For the commands' steps: throws Interrupted after Ctrl+C while a watch is
// on; otherwise does nothing. Safe on any thread.
void StopIfInterrupted();

}  // namespace lumora::python
