#include <filesystem>
#include <iostream>

#include "base/errors.h"
#include "cli/command.h"
#include "settings/startup.h"

namespace lumora::cli {

Context::Context(std::string iniPath, std::string element, std::ostream& o, std::ostream& e)
    : out(o), err(e), iniPath_(std::move(iniPath)), element_(std::move(element)) {}

Context::~Context() = default;

Settings& Context::settings() {
  if (!settings_) {
    std::string path = iniPath_;
    if (path.empty()) {
      auto checked = StartupCheck();
      if (!checked) throw StartupFailure(kMissingFilesMessage);
      path = *checked;
    } else if (!std::filesystem::exists(path)) {
      throw Error("Settings file \"" + path + "\" does not exist");
    }
    settings_ = std::make_unique<Settings>(path);
  }
  return *settings_;
}

std::string Context::ElementName() {
  if (!element_.empty()) {
    auto names = settings().ElementNames();
    for (const auto& n : names)
      if (n == element_) return n;
    throw Error("Element \"" + element_ + "\" is not in the settings file " + settings().FileName());
  }
  auto names = settings().ElementNames();
  int index = settings().ReadInteger("_Parameters", "DefaultAtom", 0);
  if (index < 0 || index >= static_cast<int>(names.size()))
    throw Error("No element selected: the settings file " + settings().FileName() +
                " has no element section at _Parameters DefaultAtom");
  return names[index];
}

std::string Context::DatabaseFolder() { return settings().ReadString("_Files", "Database", ""); }

ElementSource Context::ElementSourceOf() {
  const std::string element = ElementName();
  return {DatabaseFolder(), settings().ReadString(element, "Levels", ""),
          settings().ReadString(element, "Lines", "")};
}

void Context::LoadElement() { session().LoadElement(ElementSourceOf()); }

double Context::ElementMass() { return ElementMassAmu(settings(), ElementName()); }

Session& Context::session() {
  if (!session_) session_ = std::make_unique<Session>(SessionOptions{});
  return *session_;
}

WindowFields Context::Fields() { return LoadWindowFields(settings(), ElementName()); }

namespace {
std::vector<CommandInfo>& Registry() {
  static std::vector<CommandInfo> commands;
  return commands;
}
}  // namespace

bool RegisterCommand(CommandInfo info) {
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
