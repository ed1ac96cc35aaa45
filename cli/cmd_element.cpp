// Listings of the element's database and the line table of a measurement.
#include <iostream>

#include "cli/command.h"
#include "model/atomicdata.h"
#include "model/ebfmodel.h"
#include "model/linetable.h"

namespace lumora::cli {
namespace {

void PrintLines(std::ostream& out, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) out << line << "\n";
}

int NoArguments(const std::vector<std::string>& args) {
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("unexpected argument " + args.front());
  return 0;
}

// A command that loads the element and prints one of its listings.
CommandInfo Listing(std::string name, std::string usage, std::string summary,
                    std::vector<std::string> (*list)(bool allLines)) {
  const bool allOption = usage == "[--all]";
  auto run = [list, allOption](Context& ctx, const std::vector<std::string>& argsIn) {
    std::vector<std::string> args = argsIn;
    const bool all = allOption && TakeFlag(args, "--all");
    NoArguments(args);
    ctx.LoadElement(all);
    PrintLines(ctx.out, list(all));
    return 0;
  };
  return {std::move(name), std::move(usage), std::move(summary), run};
}

LUMORA_COMMAND(Listing("levels", "", "print the element's levels as the window lists them",
                       [](bool) { return ListLevels(); }));
LUMORA_COMMAND(Listing("lines", "[--all]",
                       "print the element's database lines (with --all also those without a positive Aki)",
                       ListLines));
LUMORA_COMMAND(Listing("structure", "", "print the element's level-line structure",
                       [](bool) { return ListLevelLineStructure(); }));

LUMORA_COMMAND({"table", "FILE",
                "read a measurement and print its line table as \"Save table\" writes it",
                [](Context& ctx, const std::vector<std::string>& args) {
                  RejectUnknownOptions(args);
                  if (args.size() != 1) throw UsageError("table needs one measurement file");
                  ctx.LoadElement();
                  ImportIntensities(args[0]);
                  const bool enough = LineArray.size() >= 2;
                  if (enough) ComputeBranchingFractions();
                  ctx.out << LineTableText(LineTableRows(enough));
                  if (!enough) {
                    ctx.err << "Not enough lines for EBF method.\n";
                    return 1;
                  }
                  return 0;
                }});

}  // namespace
}  // namespace lumora::cli
