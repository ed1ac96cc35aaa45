// Where a headless front end finds its settings and its element: the
// settings file named on its command line (or the per-user file after the
// start-up check), the element named or selected there, and what the
// element's section says. The command line and the Python module share it,
// so that both find the same files with the same messages.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "model/session.h"
#include "settings/settings.h"

namespace lumora {

// The start-up check could not provide the settings file: the front end
// prints the message and ends as the window does.
class StartupFailure : public Error {
 public:
  using Error::Error;
};

class SettingsContext {
 public:
  // iniPath empty: the per-user settings file; element empty: the settings'
  // default element.
  SettingsContext(std::string iniPath, std::string element);
  ~SettingsContext();

  // The settings file: iniPath as it stands (it must exist), otherwise the
  // per-user file after the start-up check. Raises StartupFailure when the
  // check fails and Error when iniPath names no file.
  Settings& settings();
  // The element given, otherwise the one selected by _Parameters
  // DefaultAtom. Raises Error when there is none.
  std::string ElementName();
  // The database folder from _Files Database.
  std::string DatabaseFolder();
  // Where ElementName()'s data come from.
  ElementSource ElementSourceOf();
  // The element's mass in u ("m" of its section).
  double ElementMass();
  // The window's fields for the element, before a front end's overrides.
  WindowFields Fields();
  // The files a command reads besides its arguments: the settings file and
  // the element's level and line files.
  std::vector<std::string> SettingsAndElementFiles();

 private:
  std::string iniPath_;
  std::string element_;
  std::unique_ptr<Settings> settings_;
};

}  // namespace lumora
