#include "frontend/settings_context.h"

#include <filesystem>

#include "settings/startup.h"

namespace lumora {

SettingsContext::SettingsContext(std::string iniPath, std::string element)
    : iniPath_(std::move(iniPath)), element_(std::move(element)) {}

SettingsContext::~SettingsContext() = default;

Settings& SettingsContext::settings() {
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

std::string SettingsContext::ElementName() {
  if (!element_.empty()) {
    auto names = settings().ElementNames();
    for (const auto& n : names)
      if (n == element_) return n;
    throw Error("Element \"" + element_ + "\" is not in the settings file " +
                settings().FileName());
  }
  auto names = settings().ElementNames();
  int index = settings().ReadInteger("_Parameters", "DefaultAtom", 0);
  if (index < 0 || index >= static_cast<int>(names.size()))
    throw Error("No element selected: the settings file " + settings().FileName() +
                " has no element section at _Parameters DefaultAtom");
  return names[index];
}

std::string SettingsContext::DatabaseFolder() {
  return settings().ReadString("_Files", "Database", "");
}

ElementSource SettingsContext::ElementSourceOf() {
  const std::string element = ElementName();
  return {DatabaseFolder(), settings().ReadString(element, "Levels", ""),
          settings().ReadString(element, "Lines", "")};
}

double SettingsContext::ElementMass() { return ElementMassAmu(settings(), ElementName()); }

WindowFields SettingsContext::Fields() { return LoadWindowFields(settings(), ElementName()); }

std::vector<std::string> SettingsContext::SettingsAndElementFiles() {
  std::vector<std::string> files = {settings().FileName()};
  const ElementSource source = ElementSourceOf();
  files.push_back(source.databaseFolder + "/" + source.levelsFile);
  const std::vector<std::string> symbolAndStage = SplitCommaText(source.linesSetting);
  if (symbolAndStage.size() == 2)
    files.push_back(source.databaseFolder + "/" + symbolAndStage[0] + "_" + symbolAndStage[1] +
                    ".txt");
  return files;
}

}  // namespace lumora
