// Line base conversions and exports: building and converting line files, the
// lines of a wavelength window, stick lists and spectra, the level matrix.
#include <iostream>
#include <string>
#include <vector>

#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "base/paths.h"
#include "cli/command.h"
#include "linedb/line_base.h"
#include "linedb/line_file.h"
#include "model/session.h"

namespace lumora::cli {
namespace {

// Checks the argument count and names the arguments in the message.
void ExpectArgs(const std::vector<std::string>& args, const std::string& command,
                const std::vector<std::string>& names) {
  RejectUnknownOptions(args);
  if (args.size() == names.size()) return;
  std::string usage;
  for (const auto& n : names) usage += " " + n;
  throw UsageError(command + " needs the arguments" + usage);
}

double RealArg(const std::string& name, const std::string& text) {
  double v;
  if (!TryParseReal(Trim(text), v))
    throw UsageError(name + ": '" + QuoteToken(text) + "' is not a valid floating point value");
  return v;
}

int32_t IntArg(const std::string& name, const std::string& text) {
  int32_t v;
  if (!TryParseInt(Trim(text), v))
    throw UsageError(name + ": '" + QuoteToken(text) + "' is not a valid integer value");
  return v;
}

TTextBase& ElementLineBase(Context& ctx) {
  ctx.LoadElement();
  TTextBase* base = ctx.session().Element().lineBase.get();
  if (!base) throw Error("The element has no line base");
  return *base;
}

// MIN MAX WL of the window commands.
struct Window {
  double min, max, wl;
};

Window WindowArgs(const std::vector<std::string>& args) {
  return Window{RealArg("MIN", args[0]), RealArg("MAX", args[1]), RealArg("WL", args[2])};
}

void PrintSticks(std::ostream& out, const TData& sticks, const std::vector<std::string>& labels) {
  for (size_t k = 0; k < sticks.size(); ++k)
    out << Format("%.5f", sticks[k].WLength) << '\t' << FloatToStr(sticks[k].Intensity) << '\t'
        << (k < labels.size() ? labels[k] : std::string()) << '\n';
}

LUMORA_COMMAND({"extract", [](Context& ctx, const std::vector<std::string>& args) {
                  ExpectArgs(args, "extract", {"SOURCE", "TARGETDIR", "EL", "ION"});
                  RefuseOutputThatIsAnInput(args[1] + "/" + args[2] + "_" + args[3] + ".txt",
                                            {args[0]});
                  auto file = TAtomFile::Extract(args[0], args[1], args[2], args[3], ctx.out);
                  file->Close();
                  return 0;
                }});

LUMORA_COMMAND({"convert", [](Context&, const std::vector<std::string>& args) {
                  ExpectArgs(args, "convert", {"SOURCE", "TARGET"});
                  RefuseOutputThatIsAnInput(args[1], {args[0]});
                  ConvertLineFile(args[0], args[1]);
                  return 0;
                }});

LUMORA_COMMAND({"window", [](Context& ctx, const std::vector<std::string>& args) {
                  ExpectArgs(args, "window", {"MIN", "MAX", "WL"});
                  const Window w = WindowArgs(args);
                  int32_t pivot = 0;
                  const auto list = ElementLineBase(ctx).GetRecords(w.min, w.max, w.wl, pivot);
                  for (size_t k = 0; k < list.size(); ++k)
                    ctx.out << (static_cast<int32_t>(k) == pivot ? "> " : "  ") << list[k] << '\n';
                  return 0;
                }});

LUMORA_COMMAND(
    {"export-lines", [](Context& ctx, const std::vector<std::string>& args) {
       ExpectArgs(args, "export-lines", {"MIN", "MAX", "WL", "HALFCOUNT", "MININTENSITY"});
       const Window w = WindowArgs(args);
       const int32_t halfCount = IntArg("HALFCOUNT", args[3]);
       const double minIntensity = RealArg("MININTENSITY", args[4]);
       if (halfCount < 0) throw UsageError("HALFCOUNT must not be negative");
       TTextBase& base = ElementLineBase(ctx);
       int32_t pivot = 0;
       base.GetRecords(w.min, w.max, w.wl, pivot);
       if (base.OfferedLinesCount() == 0)
         throw Error("No line lies between " + args[0] + " and " + args[1] + " nm");
       TData lines;
       std::vector<std::string> labels;
       base.ExportOffLines(pivot, halfCount, minIntensity, lines, labels);
       PrintSticks(ctx.out, lines, labels);
       return 0;
     }});

LUMORA_COMMAND(
    {"spectrum", [](Context& ctx, const std::vector<std::string>& args) {
       ExpectArgs(args, "spectrum", {"ATOMINT", "MOLINT", "MINSP", "MAXSP", "MINWL", "MAXWL"});
       TDSpParams params;
       params.AtomInt = RealArg("ATOMINT", args[0]);
       params.MolInt = RealArg("MOLINT", args[1]);
       params.MinSpInt = RealArg("MINSP", args[2]);
       params.MaxSpInt = RealArg("MAXSP", args[3]);
       params.MinWl = RealArg("MINWL", args[4]);
       params.MaxWl = RealArg("MAXWL", args[5]);
       TData sp;
       std::vector<std::string> notes;
       ElementLineBase(ctx).CreateSpectrum(params, sp, notes);
       PrintSticks(ctx.out, sp, notes);
       return 0;
     }});

LUMORA_COMMAND({"matrix", [](Context& ctx, const std::vector<std::string>& args) {
                  ExpectArgs(args, "matrix", {"WHAT", "FILE"});
                  const int32_t what = IntArg("WHAT", args[0]);
                  RefuseOutputThatIsAnInput(args[1], ctx.SettingsAndElementFiles());
                  ElementLineBase(ctx).CreateMatrix(what, args[1]);
                  return 0;
                }});

}  // namespace
}  // namespace lumora::cli
