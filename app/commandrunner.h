// Runs one command at a time on a worker thread, so the window stays alive
// while a fit, map or line analysis computes. The command's outcome is
// handed back on the window's thread: its error, or that it was cancelled.
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <atomic>
#include <exception>
#include <functional>

namespace lumora {

// Raised inside a command's work when a cancellation was asked for.
struct CommandCancelled {};

class TCommandRunner : public QObject {
  Q_OBJECT

 public:
  explicit TCommandRunner(QObject* parent);
  ~TCommandRunner() override;

  // Starts work on a worker thread. When it ends, finish runs on this
  // object's thread with the exception the work raised (null when it ended
  // normally) and whether it was cancelled. Refused while one runs.
  using Finish = std::function<void(std::exception_ptr error, bool cancelled)>;
  bool Start(std::function<void()> work, Finish finish);

  bool Running() const { return fRunning; }
  // Asks the running work to stop at its next progress report; whatever it
  // finishes with, it counts as cancelled.
  void Cancel();
  // Cancels and waits for the work, then runs its finish: for closing.
  void CancelAndWait();

  // For the work: raises CommandCancelled when asked to stop, otherwise
  // passes the progress to this object's thread.
  void ReportProgress(int done, int total);
  bool CancelRequested() const { return fCancelRequested.load(); }
  // For the work: raises CommandCancelled when asked to stop.
  void StopIfCancelled() const {
    if (CancelRequested()) throw CommandCancelled();
  }

 signals:
  void Progress(int done, int total);
  void RunningChanged(bool running);

 private:
  void Complete();

  QFutureWatcher<void> fWatcher;
  Finish fFinish;
  std::exception_ptr fError;
  std::atomic<bool> fCancelRequested{false};
  bool fRunning = false;
};

}  // namespace lumora
