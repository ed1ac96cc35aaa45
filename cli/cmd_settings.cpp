// lumora-cli settings: every key of the settings file with its effective value.
#include <ostream>

#include "cli/command.h"
#include "settings/settings.h"

namespace lumora::cli {
namespace {

void PrintSection(std::ostream& out, const Settings& s, const std::string& section,
                  const std::vector<SettingKey>& keys) {
  out << "[" << section << "]\n";
  for (const auto& k : keys) out << k.key << "=" << EffectiveValue(s, section, k) << "\n";
}

int RunSettings(Context& ctx, const std::vector<std::string>& args) {
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("unexpected argument " + args.front());
  const Settings& s = ctx.settings();
  std::string section;
  std::vector<SettingKey> keys;
  for (const auto& k : ProgramKeys()) {
    if (k.section != section && !keys.empty()) {
      PrintSection(ctx.out, s, section, keys);
      keys.clear();
    }
    section = k.section;
    keys.push_back(k);
  }
  if (!keys.empty()) PrintSection(ctx.out, s, section, keys);
  for (const auto& element : s.ElementNames()) PrintSection(ctx.out, s, element, ElementKeys());
  return 0;
}

}  // namespace

LUMORA_COMMAND(CommandInfo{"settings", RunSettings});

}  // namespace lumora::cli
