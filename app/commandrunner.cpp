#include "app/commandrunner.h"

#include <QtConcurrent/QtConcurrentRun>

namespace lumora {

TCommandRunner::TCommandRunner(QObject* parent) : QObject(parent) {
  connect(&fWatcher, &QFutureWatcher<void>::finished, this, &TCommandRunner::Complete);
}

TCommandRunner::~TCommandRunner() {
  // The work must not outlive what it works on.
  fWatcher.disconnect(this);
  fCancelRequested = true;
  fWatcher.waitForFinished();
}

bool TCommandRunner::Start(std::function<void()> work, Finish finish) {
  if (fRunning) return false;
  fRunning = true;
  fCancelRequested = false;
  fError = nullptr;
  fFinish = std::move(finish);
  emit RunningChanged(true);
  fWatcher.setFuture(QtConcurrent::run([this, work = std::move(work)] {
    try {
      work();
    } catch (...) {
      fError = std::current_exception();
    }
  }));
  return true;
}

void TCommandRunner::Cancel() {
  if (fRunning) fCancelRequested = true;
}

void TCommandRunner::CancelAndWait() {
  if (!fRunning) return;
  Cancel();
  fWatcher.waitForFinished();
  Complete();
}

void TCommandRunner::ReportProgress(int done, int total) {
  if (fCancelRequested) throw CommandCancelled();
  QMetaObject::invokeMethod(
      this,
      [this, done, total] {
        if (fRunning) emit Progress(done, total);
      },
      Qt::QueuedConnection);
}

// Runs once per command: from the watcher's signal or from CancelAndWait.
void TCommandRunner::Complete() {
  if (!fRunning) return;
  fRunning = false;
  Finish finish = std::move(fFinish);
  fFinish = nullptr;
  const bool cancelled = fCancelRequested.exchange(false);
  const std::exception_ptr error = cancelled ? nullptr : fError;
  fError = nullptr;
  if (finish) finish(error, cancelled);
  emit RunningChanged(false);
}

}  // namespace lumora
