// Commands of lumora-cli. Each command file registers its commands with
// LUMORA_COMMAND; main() parses the global options and dispatches.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "base/errors.h"
#include "frontend/settings_context.h"
#include "model/session.h"
#include "settings/settings.h"

namespace lumora::cli {

// A wrong command line: printed with the usage hint, exit status 1.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using lumora::StartupFailure;

// The settings and element of a run, its streams and its session.
class Context : public SettingsContext {
 public:
  Context(std::string iniPath, std::string element, std::ostream& out, std::ostream& err);
  ~Context();

  std::ostream& out;
  std::ostream& err;

  // Runs the element change for ElementName() in the session, without
  // building the listings; plain messages go to standard error.
  void LoadElement();
  // The session the commands run in; its fit logs go to the user's private
  // log folder.
  Session& session();

 private:
  std::unique_ptr<Session> session_;
};

using CommandFn = std::function<int(Context& ctx, const std::vector<std::string>& args)>;

// A command; its usage and help text are its entry in the manual
// (manual/manual.cpp), which every registered command must have.
struct CommandInfo {
  std::string name;
  CommandFn run;
};

// Raises std::logic_error for a command the manual does not describe, so
// that a program with an undocumented command does not start.
bool RegisterCommand(CommandInfo info);
const std::vector<CommandInfo>& Commands();

// Option parsing for commands: takes "--name VALUE" or "--flag" out of args.
bool TakeFlag(std::vector<std::string>& args, const std::string& name);
bool TakeOption(std::vector<std::string>& args, const std::string& name, std::string& value);
// Raises UsageError for an argument left that starts with "--".
void RejectUnknownOptions(const std::vector<std::string>& args);

}  // namespace lumora::cli

#define LUMORA_CONCAT_INNER(a, b) a##b
#define LUMORA_CONCAT(a, b) LUMORA_CONCAT_INNER(a, b)
#define LUMORA_COMMAND(...)                                    \
  static const bool LUMORA_CONCAT(lumora_command_, __LINE__) = \
      ::lumora::cli::RegisterCommand(__VA_ARGS__)
