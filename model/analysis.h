// The line-pair analysis: how self-absorption changes the intensity ratio of
// two lines of one upper level when the absorbing density grows from N0 to
// N0 x F, and the line analysis command built on it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "lsq/marqdef.h"

namespace lumora {

struct TAnalysisRecord {
  double Ii_B = 0;
  double Ij_B = 0;
  double I_B = 0;
  double Gi_A = 0;
  double Gj_A = 0;
  double Gi_B = 0;
  double Gj_B = 0;
  double R = 0;
  double SR = 0;
  double wli = 0;
  double wlj = 0;
  double wlr = 0;
  double DC = 0;
  double E_u = 0;
  double levindex = 0;
};

using TAnalysisOutputArray = std::vector<TAnalysisRecord>;
// Row 0: densities (m^-3); row 1: the fixed pair's ratio at them.
using TRCurve = std::vector<std::vector<double>>;

// Runs the model at A and B over LineArray. Leaves G_m = model at A, G_f and
// the level fields = model at B. The curve is empty unless both wlX and wlY
// are among the lines (exact match).
void AnalyzeLines(const vector& a, const vector& b, TAnalysisOutputArray& output, double wlX,
                  double wlY, int steps, TRCurve& curve);

constexpr double kPairWavelengthX = 255.1349;
constexpr double kPairWavelengthY = 474.5586;
constexpr int kPairCurveSteps = 50;
inline constexpr const char* kDefaultAnalysisParameters = "200, 950, 1e3, 100, 50";

struct SimulationParameters {
  double FromWL = 0;
  double ToWL = 0;
  double MinA = 0;
  double MaxE = 0;
  double RangeFactor = 0;
};

// Five numbers of a comma text (commas and blanks separate; further items
// are ignored). ConvertError otherwise.
SimulationParameters ParseSimulationParameters(const std::string& text);

// The window's field texts and the element's mass that make the vectors.
struct AnalysisFields {
  std::string FitDensity;      // "Density n_1 (m-3)"
  std::string FitTemperature;  // T_exc
  std::string Tn;              // "Gas Tn (K)"
  std::string Path;            // "Abs. path (m)"
  double MassAmu = 0;          // the element's "m"
};

// Start vector (Boltzmann, every level populated) and the final vector with
// b1 raised by log10(rangeFactor).
void AnalysisVectors(const AnalysisFields& fields, double rangeFactor, vector& start, vector& final);

struct LineAnalysisResult {
  vector Start;
  vector Final;
  TAnalysisOutputArray Output;
  TRCurve Curve;
};

// The line analysis command after its input box: takes `entered` into
// `parameters` (restoring the previous text and raising when it does not
// give five numbers), replaces LineArray with the simulated lines, calls
// showLines, builds the vectors and analyses. The model cache is empty
// before and after.
LineAnalysisResult RunLineAnalysis(std::string& parameters, const std::string& entered,
                                   const AnalysisFields& fields,
                                   const std::function<void()>& showLines,
                                   double wlX = kPairWavelengthX, double wlY = kPairWavelengthY);

}  // namespace lumora
