// Listings of the element's database and the line table of a measurement.
#include <iostream>

#include "cli/command.h"
#include "model/session.h"

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
CommandInfo Listing(std::string name, bool allOption,
                    std::vector<std::string> (*list)(const Session& session, bool allLines)) {
  auto run = [list, allOption](Context& ctx, const std::vector<std::string>& argsIn) {
    std::vector<std::string> args = argsIn;
    const bool all = allOption && TakeFlag(args, "--all");
    NoArguments(args);
    ctx.LoadElement();
    PrintLines(ctx.out, list(ctx.session(), all));
    return 0;
  };
  return {std::move(name), run};
}

LUMORA_COMMAND(Listing("levels", false, [](const Session& s, bool) { return s.ListLevels(); }));
LUMORA_COMMAND(Listing("lines", true, [](const Session& s, bool all) { return s.ListLines(all); }));
LUMORA_COMMAND(Listing("structure", false,
                       [](const Session& s, bool) { return s.ListStructure(); }));

LUMORA_COMMAND({"table", [](Context& ctx, const std::vector<std::string>& args) {
                  RejectUnknownOptions(args);
                  if (args.size() != 1) throw UsageError("table needs one measurement file");
                  ctx.LoadElement();
                  Session& session = ctx.session();
                  session.ReadMeasurement(args[0]);
                  const bool enough = session.HasEnoughLines();
                  if (enough) session.Recalculate();
                  ctx.out << LineTableText(session.TableRows(enough));
                  if (!enough) {
                    ctx.err << "Not enough lines for EBF method.\n";
                    return 1;
                  }
                  return 0;
                }});

}  // namespace
}  // namespace lumora::cli
