// Start-up check: the per-user data folder must hold lumora.ini; on a first
// start it is copied from the machine-wide data folder (never overwriting).
#pragma once

#include <optional>
#include <string>

#include "base/paths.h"  // TempFolder

namespace lumora {

inline constexpr const char* kDataFolderName = "Lumora 1.3";
inline constexpr const char* kSettingsFileName = "lumora.ini";
inline constexpr const char* kMissingFilesMessage =
    "Necessary program files are missing. \nProgram will be terminated.";

// $XDG_DATA_HOME (default ~/.local/share) + "/Lumora 1.3"; empty when the
// home folder is unknown.
std::optional<std::string> UserDataFolder();
// The first folder of $XDG_DATA_DIRS (default /usr/local/share:/usr/share)
// that holds "Lumora 1.3", joined with it.
std::optional<std::string> CommonDataFolder();

// Runs the check; returns the path of the per-user settings file, or nothing
// when the program must end with kMissingFilesMessage. Raises InOutError
// naming the per-user folder when a first start cannot create it.
std::optional<std::string> StartupCheck();

}  // namespace lumora
