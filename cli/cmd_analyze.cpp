// The line analysis: simulated lines, pair records and the fixed pair's curve.
#include <algorithm>
#include <iostream>
#include <tuple>

#include "base/checked.h"
#include "base/format.h"
#include "base/numparse.h"
#include "cli/command.h"
#include "frontend/field_requests.h"
#include "model/session.h"

namespace lumora::cli {
namespace {

// Every real with 17 significant digits, so that no value is lost.
std::string Exact(double v) { return Format("%.17e", v); }

// The pair of --pair; false, leaving x and y, when the option is not given.
bool TakePair(std::vector<std::string>& args, double& x, double& y) {
  auto it = std::find(args.begin(), args.end(), "--pair");
  if (it == args.end()) return false;
  if (args.end() - it < 3) throw UsageError("option --pair needs two wavelengths");
  if (!TryParseReal(Trim(*(it + 1)), x) || !TryParseReal(Trim(*(it + 2)), y))
    throw UsageError("option --pair needs two wavelengths in nm");
  args.erase(it, it + 3);
  return true;
}

void PrintRecords(std::ostream& out, const TAnalysisOutputArray& records) {
  out << "Ii_B\tIj_B\tI_B\tGi_A\tGj_A\tGi_B\tGj_B\tR\tSR\twli\twlj\twlr\tDC\tE_u\tlevindex\n";
  for (const TAnalysisRecord& r : records) {
    const double fields[] = {r.Ii_B, r.Ij_B, r.I_B, r.Gi_A, r.Gj_A, r.Gi_B, r.Gj_B,    r.R,
                             r.SR,   r.wli,  r.wlj, r.wlr,  r.DC,   r.E_u,  r.levindex};
    for (size_t k = 0; k < std::size(fields); ++k) out << (k ? "\t" : "") << Exact(fields[k]);
    out << "\n";
  }
}

int Analyze(Context& ctx, const std::vector<std::string>& argsIn) {
  std::vector<std::string> args = argsIn;
  std::string entered = kDefaultAnalysisParameters;
  TakeOption(args, "--params", entered);
  double wlX = kPairWavelengthX, wlY = kPairWavelengthY;
  const bool pairGiven = TakePair(args, wlX, wlY);
  RejectUnknownOptions(args);
  if (!args.empty()) throw UsageError("unexpected argument " + args.front());

  ctx.LoadElement();
  // Without --pair the element's own pair, when its section names one.
  if (!pairGiven)
    if (const auto pair = ElementAnalysisPair(ctx.settings(), ctx.ElementName()))
      std::tie(wlX, wlY) = *pair;
  const WindowFields window = ctx.Fields();
  LineAnalysisRequest request;
  request.limits = ParseSimulationParameters(entered);
  request.start = AnalysisStartFromFields(window.FitDensity, window.FitTemperature, window.Tn,
                                          window.Path, ctx.ElementMass());
  request.pairX = wlX;
  request.pairY = wlY;
  Session& session = ctx.session();
  const LineAnalysisResult result = session.AnalyzeLines(request);

  ctx.out << LineTableText(session.TableRows(true));
  ctx.out << "\n";
  PrintRecords(ctx.out, result.Output);
  if (result.Curve.empty() || result.Curve[0].empty()) {
    ctx.err << Format("Line pair %s/%s is not among the simulated lines.", MessageFixed(wlX, 4),
                      MessageFixed(wlY, 4))
            << "\n";
    return 0;
  }
  ctx.out << "\n" << Format("R(N/N0) for line ratio %.4f/%.4f", wlX, wlY) << "\n";
  ctx.out << "N/N0\tR\n";
  for (size_t i = 0; i < result.RelativeDensity.size(); ++i)
    ctx.out << Exact(result.RelativeDensity[i]) << "\t" << Exact(result.Curve[1][i]) << "\n";
  return 0;
}

LUMORA_COMMAND({"analyze", Analyze});

}  // namespace
}  // namespace lumora::cli
