// lumora-cli settings: every key of the settings file with its effective
// value; a number that is there but does not read is printed as written,
// its error goes to standard error and the command ends with status 1.
#include <ostream>

#include "cli/command.h"
#include "settings/settings.h"

namespace lumora::cli {
namespace {

// Returns the number of unreadable values.
int PrintSection(Context& ctx, const Settings& s, const std::string& section,
                 const std::vector<SettingKey>& keys) {
  int unreadable = 0;
  ctx.out << "[" << section << "]\n";
  for (const auto& k : keys) {
    std::string value;
    try {
      value = EffectiveValue(s, section, k);
    } catch (const Error& e) {
      value = s.ReadString(section, k.key, "");
      ctx.err << e.what() << "\n";
      ++unreadable;
    }
    ctx.out << k.key << "=" << value << "\n";
  }
  return unreadable;
}

int RunSettings(Context& ctx, const std::vector<std::string>& args) {
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("unexpected argument " + args.front());
  const Settings& s = ctx.settings();
  std::string section;
  std::vector<SettingKey> keys;
  int unreadable = 0;
  for (const auto& k : ProgramKeys()) {
    if (k.section != section && !keys.empty()) {
      unreadable += PrintSection(ctx, s, section, keys);
      keys.clear();
    }
    section = k.section;
    keys.push_back(k);
  }
  if (!keys.empty()) unreadable += PrintSection(ctx, s, section, keys);
  for (const auto& element : s.ElementNames())
    unreadable += PrintSection(ctx, s, element, ElementKeys());
  return unreadable > 0 ? 1 : 0;
}

}  // namespace

LUMORA_COMMAND(CommandInfo{"settings", RunSettings});

}  // namespace lumora::cli
