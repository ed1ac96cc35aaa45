#include "cli/command.h"

#include <stdexcept>

#include "manual/manual.h"

namespace lumora::cli {

Context::Context(std::string iniPath, std::string element, std::ostream& o, std::ostream& e)
    : SettingsContext(std::move(iniPath), std::move(element)), out(o), err(e) {}

Context::~Context() = default;

void Context::LoadElement() { session().LoadElement(ElementSourceOf()); }

Session& Context::session() {
  if (!session_) session_ = std::make_unique<Session>(SessionOptions{});
  return *session_;
}

namespace {
std::vector<CommandInfo>& Registry() {
  static std::vector<CommandInfo> commands;
  return commands;
}
}  // namespace

bool RegisterCommand(CommandInfo info) {
  if (!manual::FindCommand(info.name))
    throw std::logic_error("lumora-cli: the command " + info.name + " is not in the manual");
  Registry().push_back(std::move(info));
  return true;
}

const std::vector<CommandInfo>& Commands() { return Registry(); }

bool TakeFlag(std::vector<std::string>& args, const std::string& name) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == name) {
      args.erase(it);
      return true;
    }
  }
  return false;
}

bool TakeOption(std::vector<std::string>& args, const std::string& name, std::string& value) {
  for (auto it = args.begin(); it != args.end(); ++it) {
    if (*it == name) {
      if (it + 1 == args.end()) throw UsageError("option " + name + " needs a value");
      value = *(it + 1);
      args.erase(it, it + 2);
      return true;
    }
  }
  return false;
}

void RejectUnknownOptions(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a.rfind("--", 0) == 0) throw UsageError("unknown option " + a);
}

}  // namespace lumora::cli
