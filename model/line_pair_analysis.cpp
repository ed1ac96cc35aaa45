#include "model/line_pair_analysis.h"

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "base/numparse.h"
#include "model/input_checks.h"

namespace lumora {

namespace {

TRCurve PairCurve(EbfModel& model, const ModelParameters& a, const ModelParameters& b, int x, int y,
                  int steps) {
  if (steps < 0) throw RangeError();
  TRCurve curve(2, std::vector<double>(steps));
  CheckIndex(0, steps);
  const long double n0 = fp::Pow10(a.log10N1);
  curve[0][0] = fp::ToDouble(n0);
  curve[1][0] = fp::ToDouble(fp::Div(model.Evaluate(a, x), model.Evaluate(a, y)));
  const long double spacing = fp::Div((fp::Pow10(b.log10N1 - a.log10N1) - 1) * n0, steps - 1);
  ModelParameters w = a;
  for (int k = 1; k < steps; ++k) {
    curve[0][k] = fp::ToDouble(n0 + k * spacing);
    w.log10N1 = fp::Log10(curve[0][k]);
    curve[1][k] = fp::ToDouble(fp::Div(model.Evaluate(w, x), model.Evaluate(w, y)));
  }
  return curve;
}

TAnalysisRecord PairRecord(EbfModel& model, const ModelParameters& a, const ModelParameters& b,
                           int level, int j, int k) {
  const LineTable& table = model.Table();
  TAnalysisRecord r;
  r.Gi_A = model.Evaluate(a, j);
  r.Gj_A = model.Evaluate(a, k);
  r.Gi_B = model.Evaluate(b, j);
  r.Gj_B = model.Evaluate(b, k);
  r.wli = table.lines[j].AR.WaveLength;
  r.wlj = table.lines[k].AR.WaveLength;
  long double wlr = fp::Div(r.wli, r.wlj);
  if (wlr < 1) wlr = fp::Div(r.wlj, r.wli);
  r.wlr = fp::ToDouble(wlr);
  const long double ratio = fp::Div(fp::Div(r.Gi_B, r.Gj_B), fp::Div(r.Gi_A, r.Gj_A));
  if (ratio <= 0) throw Error("AnalyzeLines: ratio R is negative, cannot calculate log10");
  r.R = fp::ToDouble(ratio);
  r.SR = ratio >= 1 ? r.R : fp::ToDouble(fp::Div(1, ratio));
  const TLevelRecord& upper = table.levels[level];
  // Escape-reduced rate x population relative to level 0 x photon energy
  // relative to a 500 nm photon.
  const long double weight =
      fp::Div(static_cast<long double>(upper.Sum_f) * upper.Density, table.levels[0].Density);
  r.Ii_B = fp::ToDouble(fp::Div(r.Gi_B * weight * 500, r.wli));
  r.Ij_B = fp::ToDouble(fp::Div(r.Gj_B * weight * 500, r.wlj));
  r.I_B = fp::ToDouble(fp::Sqrt(static_cast<long double>(r.Ii_B) * r.Ij_B));
  r.DC = upper.LineDownCount;
  r.E_u = upper.Energy;
  r.levindex = level;
  return r;
}

}  // namespace

void AnalyzeLines(EbfModel& model, const ModelParameters& a, const ModelParameters& b,
                  TAnalysisOutputArray& output, double wlX, double wlY, int steps, TRCurve& curve,
                  const AnalysisProgress& progress) {
  std::vector<TLineRecord>& lines = model.Table().lines;
  const size_t levelCount = model.Table().levels.size();
  output.clear();
  curve.clear();
  model.Evaluate(a, 0);
  int x = -1, y = -1;
  for (size_t j = 0; j < lines.size(); ++j) {
    lines[j].G_m = lines[j].G_f;
    if (lines[j].AR.WaveLength == wlX) x = static_cast<int>(j);
    if (lines[j].AR.WaveLength == wlY) y = static_cast<int>(j);
  }
  const int progressSteps = static_cast<int>(levelCount) + 1;
  if (x >= 0 && y >= 0) curve = PairCurve(model, a, b, x, y, steps);
  if (progress) progress(1, progressSteps);
  model.Evaluate(b, 0);

  // Lines of each upper level in array order, so that pairs come by level,
  // then by first line, then by second line.
  std::vector<std::vector<int>> linesOf(levelCount);
  for (size_t j = 0; j < lines.size(); ++j) {
    const int32_t u = lines[j].UpperState;
    if (u >= 0 && u < static_cast<int32_t>(levelCount)) linesOf[u].push_back(static_cast<int>(j));
  }
  for (size_t i = 0; i < linesOf.size(); ++i) {
    const std::vector<int>& levelLines = linesOf[i];
    for (size_t p = 0; p < levelLines.size(); ++p)
      for (size_t q = p + 1; q < levelLines.size(); ++q)
        output.push_back(
            PairRecord(model, a, b, static_cast<int>(i), levelLines[p], levelLines[q]));
    if (progress) progress(static_cast<int>(i) + 2, progressSteps);
  }
}

SimulationParameters ParseSimulationParameters(const std::string& text) {
  const std::vector<std::string> items = SplitCommaText(text);
  if (items.size() < 5)
    throw ConvertError(
        "Five numbers expected: from WL/nm, to WL/nm, min A/s-1, max E/eV, N range factor");
  SimulationParameters p;
  p.FromWL = StrToFloat(items[0]);
  p.ToWL = StrToFloat(items[1]);
  p.MinA = StrToFloat(items[2]);
  p.MaxE = StrToFloat(items[3]);
  p.RangeFactor = StrToFloat(items[4]);
  return p;
}

void LineAnalysisRequest::Validate() const {
  // The densities run from N0 to N0 x factor on a logarithmic scale.
  if (!(limits.RangeFactor > 0))
    throw FieldError("N range factor", Format(" must be greater than 0, not \"%s\".",
                                              MessageNumber(limits.RangeFactor)));
  CheckModelInputs(start);
  CheckLog10Density(start.log10N1, kDensityCaption);
  CheckAboveZero(start.second, SecondParameterCaption(start.distribution));
}

ModelParameters AnalysisStart(long double log10N1, long double excitationTemperature,
                              long double gasTemperature, long double path, double massAmu) {
  ModelParameters start;
  start.log10N1 = log10N1;
  start.second = excitationTemperature;
  start.gasTemperature = gasTemperature;
  start.path = path;
  start.mass = static_cast<long double>(massAmu) * kAtomicMassUnit;
  start.levelCount = 100000000;  // every level populated
  start.distribution = Distribution::Boltzmann;
  return start;
}

LineAnalysisResult RunLineAnalysis(EbfModel& model, const TTextBase* lineBase,
                                   const LineAnalysisRequest& request,
                                   const std::function<void()>& linesReplaced) {
  model.ClearCache();
  struct CacheGuard {
    EbfModel& model;
    ~CacheGuard() { model.ClearCache(); }
  } guard{model};

  const SimulationParameters& p = request.limits;
  LineTable& table = model.Table();
  ImportLinesForAnalysis(table, lineBase, p.FromWL, p.ToWL, p.MinA, p.MaxE);
  if (table.lines.size() >= 2) ComputeBranchingFractions(table);
  if (linesReplaced) linesReplaced();

  LineAnalysisResult result;
  result.start = request.start;
  result.final = result.start;
  result.final.log10N1 = result.start.log10N1 + fp::Log10(p.RangeFactor);
  if (table.lines.empty()) throw Error("No lines for the analysis between the given limits.");
  AnalyzeLines(model, result.start, result.final, result.Output, request.pairX, request.pairY,
               kPairCurveSteps, result.Curve, request.progress);
  if (!result.Curve.empty()) {
    const long double n0 = fp::Pow10(result.start.log10N1);
    for (double density : result.Curve[0])
      result.RelativeDensity.push_back(fp::ToDouble(fp::Div(density, n0)));
  }
  return result;
}

}  // namespace lumora
