#include "model/analysis.h"

#include "base/checked.h"
#include "base/numparse.h"
#include "model/atomicdata.h"
#include "model/ebfmodel.h"

namespace lumora {

namespace {

TRCurve PairCurve(const vector& a, const vector& b, int x, int y, int steps) {
  if (steps < 0) throw RangeError();
  TRCurve curve(2, std::vector<double>(steps));
  CheckIndex(0, steps);
  const long double n0 = fp::Pow10(a[1]);
  curve[0][0] = fp::ToDouble(n0);
  curve[1][0] = fp::ToDouble(fp::Div(EvaluateModel(a, x), EvaluateModel(a, y)));
  const long double spacing = fp::Div((fp::Pow10(b[1] - a[1]) - 1) * n0, steps - 1);
  vector w = a;
  for (int k = 1; k < steps; ++k) {
    curve[0][k] = fp::ToDouble(n0 + k * spacing);
    w[1] = fp::Log10(curve[0][k]);
    curve[1][k] = fp::ToDouble(fp::Div(EvaluateModel(w, x), EvaluateModel(w, y)));
  }
  return curve;
}

TAnalysisRecord PairRecord(const vector& a, const vector& b, int level, int j, int k) {
  TAnalysisRecord r;
  r.Gi_A = EvaluateModel(a, j);
  r.Gj_A = EvaluateModel(a, k);
  r.Gi_B = EvaluateModel(b, j);
  r.Gj_B = EvaluateModel(b, k);
  r.wli = LineArray[j].AR.WaveLength;
  r.wlj = LineArray[k].AR.WaveLength;
  long double wlr = fp::Div(r.wli, r.wlj);
  if (wlr < 1) wlr = fp::Div(r.wlj, r.wli);
  r.wlr = fp::ToDouble(wlr);
  const long double ratio = fp::Div(fp::Div(r.Gi_B, r.Gj_B), fp::Div(r.Gi_A, r.Gj_A));
  if (ratio <= 0) throw Error("AnalyzeLines: ratio R is negative, cannot calculate log10");
  r.R = fp::ToDouble(ratio);
  r.SR = ratio >= 1 ? r.R : fp::ToDouble(fp::Div(1, ratio));
  const TLevelRecord& upper = LevelArray[level];
  // Escape-reduced rate x population relative to level 0 x photon energy
  // relative to a 500 nm photon.
  const long double weight = fp::Div(static_cast<long double>(upper.Sum_f) * upper.Density, LevelArray[0].Density);
  r.Ii_B = fp::ToDouble(fp::Div(r.Gi_B * weight * 500, r.wli));
  r.Ij_B = fp::ToDouble(fp::Div(r.Gj_B * weight * 500, r.wlj));
  r.I_B = fp::ToDouble(fp::Sqrt(static_cast<long double>(r.Ii_B) * r.Ij_B));
  r.DC = upper.LineDownCount;
  r.E_u = upper.Energy;
  r.levindex = level;
  return r;
}

}  // namespace

void AnalyzeLines(const vector& a, const vector& b, TAnalysisOutputArray& output, double wlX,
                  double wlY, int steps, TRCurve& curve) {
  output.clear();
  curve.clear();
  EvaluateModel(a, 0);
  int x = -1, y = -1;
  for (size_t j = 0; j < LineArray.size(); ++j) {
    LineArray[j].G_m = LineArray[j].G_f;
    if (LineArray[j].AR.WaveLength == wlX) x = static_cast<int>(j);
    if (LineArray[j].AR.WaveLength == wlY) y = static_cast<int>(j);
  }
  if (x >= 0 && y >= 0) curve = PairCurve(a, b, x, y, steps);
  EvaluateModel(b, 0);

  // Lines of each upper level in array order, so that pairs come by level,
  // then by first line, then by second line.
  std::vector<std::vector<int>> linesOf(LevelArray.size());
  for (size_t j = 0; j < LineArray.size(); ++j) {
    const int32_t u = LineArray[j].UpperState;
    if (u >= 0 && u < static_cast<int32_t>(LevelArray.size())) linesOf[u].push_back(static_cast<int>(j));
  }
  for (size_t i = 0; i < linesOf.size(); ++i) {
    const std::vector<int>& lines = linesOf[i];
    for (size_t p = 0; p < lines.size(); ++p)
      for (size_t q = p + 1; q < lines.size(); ++q)
        output.push_back(PairRecord(a, b, static_cast<int>(i), lines[p], lines[q]));
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

void AnalysisVectors(const AnalysisFields& fields, double rangeFactor, vector& start, vector& final) {
  start = vector{};
  start[1] = fp::Log10(StrToExtended(fields.FitDensity));
  start[2] = StrToExtended(fields.FitTemperature);
  start[3] = StrToExtended(fields.Tn);
  start[4] = StrToExtended(fields.Path);
  start[5] = static_cast<long double>(fields.MassAmu) * kAtomicMassUnit;
  start[6] = 1e8L;  // every level populated
  start[7] = 0;     // "Boltzmann"
  final = start;
  final[1] = start[1] + fp::Log10(rangeFactor);
}

LineAnalysisResult RunLineAnalysis(std::string& parameters, const std::string& entered,
                                   const AnalysisFields& fields,
                                   const std::function<void()>& showLines, double wlX, double wlY) {
  ClearPrecalc();
  const std::string previous = parameters;
  parameters = entered;
  SimulationParameters p;
  try {
    p = ParseSimulationParameters(parameters);
  } catch (...) {
    parameters = previous;
    throw;
  }
  ImportLinesForAnalysis(p.FromWL, p.ToWL, p.MinA, p.MaxE);
  if (showLines) showLines();

  struct CacheGuard {
    ~CacheGuard() { ClearPrecalc(); }
  } guard;
  LineAnalysisResult result;
  AnalysisVectors(fields, p.RangeFactor, result.Start, result.Final);
  if (LineArray.empty()) throw Error("No lines for the analysis between the given limits.");
  AnalyzeLines(result.Start, result.Final, result.Output, wlX, wlY, kPairCurveSteps, result.Curve);
  return result;
}

}  // namespace lumora
