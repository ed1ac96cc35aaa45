// lumora-cli [--ini FILE] [--element NAME] COMMAND ...
#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "cli/command.h"
#include "manual/manual.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string ini, element;
  std::string command = "lumora-cli";
  size_t i = 0;
  try {
    for (; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (a == "--help" || a == "-h") {
        std::cout << lumora::manual::ProgramHelp(lumora::manual::CliPage());
        return 0;
      }
      if (a == "--version") {
        std::cout << "lumora-cli " << LUMORA_VERSION << "\n";
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
      std::cout << lumora::manual::CommandHelp(lumora::manual::CliPage(),
                                               *lumora::manual::FindCommand(name));
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
