// check-element NAME: whether an element section's data can be used, and what they hold.
#include <algorithm>
#include <iostream>

#include "base/format.h"
#include "cli/command.h"
#include "model/element_check.h"

namespace lumora::cli {
namespace {

int CheckElementCommand(Context& ctx, const std::vector<std::string>& args) {
  RejectUnknownOptions(args);
  if (args.size() != 1) throw UsageError("check-element needs one element section name");
  const std::string& name = args[0];
  Settings& settings = ctx.settings();
  const std::vector<std::string> names = settings.ElementNames();
  if (std::find(names.begin(), names.end(), name) == names.end())
    throw Error("Element \"" + name + "\" is not in the settings file " + settings.FileName());

  ctx.out << "Element section \"" << name << "\" of " << settings.FileName() << "\n";
  std::optional<std::pair<double, double>> pair;
  std::vector<std::string> sectionFaults;
  try {
    pair = ElementAnalysisPair(settings, name);
  } catch (const Error& e) {
    sectionFaults.push_back(e.what());
  }
  try {
    ElementMassAmu(settings, name);
  } catch (const Error& e) {
    sectionFaults.push_back(e.what());
  }
  try {
    const int count = settings.ReadInteger(name, "Boltzmax", 1);
    if (count < 1)
      sectionFaults.push_back(SettingsKeyPlace(settings, name, "Boltzmax") +
                              Format(" must be at least 1, not \"%d\".", count));
  } catch (const Error& e) {
    sectionFaults.push_back(e.what());
  }
  for (const std::string& f : sectionFaults) ctx.out << "FAULT: " << f << "\n";

  const ElementSource source = {ctx.DatabaseFolder(), settings.ReadString(name, "Levels", ""),
                                settings.ReadString(name, "Lines", "")};
  const ElementCheck check = CheckElement(source, pair);
  for (const std::string& line : check.report) ctx.out << line << "\n";
  const size_t faults = sectionFaults.size() + check.faults.size();
  if (faults == 0) {
    ctx.out << "OK: the section \"" << name << "\" can be used\n";
    return 0;
  }
  ctx.err << faults << (faults == 1 ? " fault" : " faults") << " in the section \"" << name
          << "\"\n";
  return 1;
}

LUMORA_COMMAND(CommandInfo{"check-element", CheckElementCommand});

}  // namespace
}  // namespace lumora::cli
