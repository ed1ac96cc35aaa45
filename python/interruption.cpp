#include "python/interruption.h"

#include <Python.h>

#include <atomic>

namespace lumora::python {

namespace {

std::atomic<bool> watching{false};
std::atomic<bool> interrupted{false};
// Python's handler, called from ours; written before ours is installed.
void (*pythonHandler)(int) = nullptr;

void NoteInterrupt(int signal) {
  interrupted.store(true);
  if (pythonHandler) pythonHandler(signal);
}

// Python runs signal handlers on its main thread only. Called with the GIL.
bool OnMainThread() {
  PyObject* threading = PyImport_ImportModule("threading");
  if (!threading) {
    PyErr_Clear();
    return false;
  }
  PyObject* main = PyObject_CallMethod(threading, "main_thread", nullptr);
  Py_DECREF(threading);
  if (!main) {
    PyErr_Clear();
    return false;
  }
  PyObject* ident = PyObject_GetAttrString(main, "ident");
  Py_DECREF(main);
  if (!ident) {
    PyErr_Clear();
    return false;
  }
  const unsigned long mainIdent = PyLong_AsUnsignedLong(ident);
  Py_DECREF(ident);
  return mainIdent == PyThread_get_thread_ident();
}

}  // namespace

InterruptionWatch::InterruptionWatch() {
  if (watching.load() || !OnMainThread()) return;
  if (sigaction(SIGINT, nullptr, &python_) != 0) return;
  if ((python_.sa_flags & SA_SIGINFO) || python_.sa_handler == SIG_IGN ||
      python_.sa_handler == SIG_DFL)
    return;
  pythonHandler = python_.sa_handler;
  interrupted.store(false);
  struct sigaction ours {};
  ours.sa_handler = NoteInterrupt;
  sigemptyset(&ours.sa_mask);
  if (sigaction(SIGINT, &ours, nullptr) != 0) return;
  installed_ = true;
  watching.store(true);
}

InterruptionWatch::~InterruptionWatch() {
  if (!installed_) return;
  sigaction(SIGINT, &python_, nullptr);
  watching.store(false);
}

bool InterruptionWatch::Interrupted() const { return installed_ && interrupted.load(); }

void StopIfInterrupted() {
  if (watching.load() && interrupted.load()) throw python::Interrupted();
}

}  // namespace lumora::python
