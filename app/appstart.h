// Program start: the start-up check before any window, the application's
// look, and the main window.
#pragma once

#include <QStringList>

class QApplication;

namespace lumora {

class TMainForm;

// Fusion with a dark palette: the program's dark look where the style exists.
void ApplyDarkStyle(QApplication& app);

// The file named on the command line (the first argument after the
// program): a measurement, read as "Read intensities" reads it, or a
// recording, integrated as "Read spectrum" does with the options used last.
void OpenStartFile(TMainForm& form, const QStringList& arguments);

// True when a window system is there to show message boxes.
bool HasDisplay();

// Runs the program; returns the exit status.
int RunApplication(int argc, char** argv);

}  // namespace lumora
