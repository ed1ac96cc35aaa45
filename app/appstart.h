// Program start: the start-up check before any window, the application's
// look, and the main window.
#pragma once

#include <QStringList>

class QApplication;

namespace lumora {

class TMainForm;

// Fusion with a dark palette: the program's dark look where the style exists.
void ApplyDarkStyle(QApplication& app);

// The measurement named on the command line (the first argument after the
// program), read as "Read intensities" reads it.
void OpenStartFile(TMainForm& form, const QStringList& arguments);

// True when a window system is there to show message boxes.
bool HasDisplay();

// Runs the program; returns the exit status.
int RunApplication(int argc, char** argv);

}  // namespace lumora
