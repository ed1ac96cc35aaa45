// lumora-cli [--ini FILE] [--element NAME] COMMAND ...
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "cli/command.h"

namespace {

void PrintHelp(std::ostream& os) {
  os << "Usage: lumora-cli [--ini FILE] [--element NAME] COMMAND [ARGS...]\n\n"
        "Options:\n"
        "  --ini FILE      use this settings file as it stands\n"
        "  --element NAME  use this element section instead of the default one\n"
        "  --help          show this help\n\n"
        "Commands:\n";
  std::vector<lumora::cli::CommandInfo> cmds = lumora::cli::Commands();
  std::sort(cmds.begin(), cmds.end(), [](auto& a, auto& b) { return a.name < b.name; });
  for (const auto& c : cmds) {
    std::string head = "  " + c.name + (c.usage.empty() ? "" : " " + c.usage);
    os << head << "\n      " << c.summary << "\n";
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string ini, element;
  std::string command = "lumora-cli";
  size_t i = 0;
  try {
    for (; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (a == "--help" || a == "-h") {
        PrintHelp(std::cout);
        return 0;
      }
      if (a == "--ini" || a == "--element") {
        if (i + 1 >= args.size()) throw lumora::cli::UsageError("option " + a + " needs a value");
        (a == "--ini" ? ini : element) = args[++i];
        continue;
      }
      if (a.rfind("--", 0) == 0) throw lumora::cli::UsageError("unknown option " + a);
      break;
    }
    if (i >= args.size()) throw lumora::cli::UsageError("no command given");
    const std::string name = args[i];
    command = "the command \"" + name + "\"";
    const auto& cmds = lumora::cli::Commands();
    auto it = std::find_if(cmds.begin(), cmds.end(), [&](auto& c) { return c.name == name; });
    if (it == cmds.end()) throw lumora::cli::UsageError("unknown command " + name);
    std::vector<std::string> rest(args.begin() + i + 1, args.end());
    if (std::find(rest.begin(), rest.end(), "--help") != rest.end()) {
      std::cout << "Usage: lumora-cli [--ini FILE] [--element NAME] " << it->name << " "
                << it->usage << "\n  " << it->summary << "\n";
      return 0;
    }
    lumora::cli::Context ctx(ini, element, std::cout, std::cerr);
    return it->run(ctx, rest);
  } catch (const lumora::cli::UsageError& e) {
    std::cerr << "lumora-cli: " << e.what() << "\nTry 'lumora-cli --help'.\n";
    return 1;
  } catch (const lumora::cli::StartupFailure& e) {
    std::cerr << e.what() << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << lumora::UserMessage(e, command) << "\n";
    return 1;
  }
}
