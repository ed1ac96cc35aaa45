// Program start: the start-up check before any window, the application's
// look, and the main window.
#pragma once

namespace lumora {

// True when a window system is there to show message boxes.
bool HasDisplay();

// Runs the program; returns the exit status.
int RunApplication(int argc, char** argv);

}  // namespace lumora
