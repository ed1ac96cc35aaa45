// The line-pair analysis: how self-absorption changes the intensity ratio of
// two lines of one upper level when the absorbing density grows from N0 to
// N0 x F, and the line analysis command built on it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/self_absorption.h"

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

// Steps done of all steps: the pair curve, then each upper level's pairs.
using AnalysisProgress = std::function<void(int stepsDone, int steps)>;

// Runs the model at A and B over its line table. Leaves G_m = model at A,
// G_f and the level fields = model at B. The curve is empty unless both wlX
// and wlY are among the lines (exact match). Progress, when given, may raise
// to stop it.
void AnalyzeLines(EbfModel& model, const ModelParameters& a, const ModelParameters& b,
                  TAnalysisOutputArray& output, double wlX, double wlY, int steps, TRCurve& curve,
                  const AnalysisProgress& progress = {});

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

// The line analysis command: the limits of the simulated lines, the start
// of the model (a Boltzmann population of every level) and the pair whose
// ratio curve is drawn.
struct LineAnalysisRequest {
  SimulationParameters limits;
  ModelParameters start;
  double pairX = kPairWavelengthX;
  double pairY = kPairWavelengthY;
  AnalysisProgress progress;  // may raise to stop the analysis

  // Raises Error naming the field of the first input the model cannot use.
  void Validate() const;
};

// The start of the analysis: log10 n_1, T_exc, Tn, path and mass as given, every
// level populated by a Boltzmann distribution.
ModelParameters AnalysisStart(long double log10N1, long double excitationTemperature,
                              long double gasTemperature, long double path, double massAmu);

struct LineAnalysisResult {
  ModelParameters start;
  ModelParameters final;  // the start with log10 n_1 raised by log10 of the range factor
  TAnalysisOutputArray Output;
  TRCurve Curve;
  // The curve's densities relative to the start density, N/N0.
  std::vector<double> RelativeDensity;
};

// The line analysis after its input: replaces the table's lines with the
// simulated lines of the line base, recalculates them when there are two or
// more, calls linesReplaced, and analyses. The model cache is empty before
// and after.
LineAnalysisResult RunLineAnalysis(EbfModel& model, const TTextBase* lineBase,
                                   const LineAnalysisRequest& request,
                                   const std::function<void()>& linesReplaced);

}  // namespace lumora
