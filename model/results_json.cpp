#include "model/results_json.h"

#include "model/results_line.h"

namespace lumora {

namespace {

double Number(long double value) { return static_cast<double>(value); }

nlohmann::json SecondJson(Distribution distribution, long double value) {
  const SecondParameterName name = SecondParameterJsonName(distribution);
  return {{"name", name.name}, {"unit", name.unit}, {"value", Number(value)}};
}

// The part both commands share: densities, total, the second parameter and
// the sum.
void AddFigures(nlohmann::json& object, const ResultsFigures& figures, const ResultsInput& input) {
  object["sum"] = Number(input.sum);
  object["n_tot"] = Number(figures.total);
  object["u_n_tot"] = Number(figures.totalUncertainty);
  nlohmann::json levels = nlohmann::json::array();
  for (size_t i = 0; i < figures.densities.size(); ++i)
    levels.push_back(
        {{"n", Number(figures.densities[i])}, {"u", Number(figures.uncertainties[i])}});
  object["levels"] = std::move(levels);
  nlohmann::json second = SecondJson(input.at.distribution, input.at.second);
  second["u"] = Number(input.secondError);
  object["second"] = std::move(second);
  object["log10_n1"] = Number(input.at.log10N1);
  object["u_log10_n1"] = Number(input.log10N1Error);
}

}  // namespace

SecondParameterName SecondParameterJsonName(Distribution distribution) {
  if (distribution == Distribution::FirstLevels) return {"n1s_ratio", "1e-3"};
  return {"T_exc_K", "K"};
}

nlohmann::json FitJson(const std::string& file, const FitResult& fit,
                       const std::vector<TLevelRecord>& levels) {
  const ResultsInput input = FitResultsInput(fit);
  const ResultsFigures figures = ComputeResultsFigures(levels, input);
  nlohmann::json object;
  object["file"] = file;
  object["procedure"] = "fit";
  object["stop_code"] = static_cast<int>(fit.stopCode);
  object["stop"] = StopCodeResultText(fit.stopCode);
  AddFigures(object, figures, input);
  object["iterations"] = fit.iterations;
  object["weighted"] = fit.weighted;
  if (fit.weighted) {
    object["u_log10_n1_from"] = "intensity uncertainties";
    object["chi2"] = Number(fit.goodness.chiSquare);
    object["dof"] = fit.goodness.degreesOfFreedom;
    object["chi2_per_dof"] = Number(fit.goodness.PerDegree());
    object["p_value"] = fit.goodness.pValue;
  } else {
    object["u_log10_n1_from"] = "residual scatter";
    object["u_log10_n1_robust"] = Number(fit.RobustLog10N1Error());
  }
  return object;
}

nlohmann::json MapJson(const std::string& file, const MapRequest& request, const MapResult& map,
                       const std::vector<TLevelRecord>& levels) {
  const ResultsInput input = MapResultsInput(map);
  const ResultsFigures figures = ComputeResultsFigures(levels, input);
  nlohmann::json object;
  object["file"] = file;
  object["procedure"] = "map";
  AddFigures(object, figures, input);
  // "_to" is the range's end, which the grid stops one step short of;
  // "_last" is its last point.
  object["grid"] = {{"log10_density_from", map.range.x0},
                    {"log10_density_to", map.range.x1},
                    {"log10_density_last",
                     LastAxisPoint(map.range.x0, map.range.dx, request.densityPoints)},
                    {"second_from", map.range.y0},
                    {"second_to", map.range.y1},
                    {"second_last", LastAxisPoint(map.range.y0, map.range.dy,
                                                  request.temperaturePoints)},
                    {"density_points", request.densityPoints},
                    {"second_points", request.temperaturePoints}};
  object["minimum"] = map.minimum;
  object["maximum"] = map.maximum;
  object["minimum_point"] = {{"row", map.minimumRow},
                             {"column", map.minimumColumn},
                             {"log10_n1", Number(map.atMinimum.log10N1)},
                             {"second", Number(map.atMinimum.second)}};
  // An unweighted map's object stays as it always was.
  if (map.Weighted()) {
    object["weighted"] = true;
    object["chi2"] = Number(map.goodness.chiSquare);
    object["dof"] = map.goodness.degreesOfFreedom;
    object["chi2_per_dof"] = Number(map.goodness.PerDegree());
    object["p_value"] = map.goodness.pValue;
  }
  return object;
}

nlohmann::json ErrorJson(const std::string& file, const std::string& error) {
  return {{"file", file}, {"error", error}};
}

namespace {

nlohmann::json StatisticsJson(const SampleStatistics& s) {
  return {{"mean", s.mean}, {"std", s.std}, {"p2_5", s.p2_5}, {"p50", s.p50}, {"p97_5", s.p97_5}};
}

}  // namespace

nlohmann::json MonteCarloJson(const MonteCarloResult& result) {
  nlohmann::json object = {{"runs", result.runs},
                           {"failed", result.failed},
                           {"seed", result.seed},
                           {"log10_n1", StatisticsJson(result.log10N1)},
                           {"n1", StatisticsJson(result.n1)}};
  if (result.second) object["second"] = StatisticsJson(*result.second);
  // Only refits that bound n_1 from above say so: other objects stay as they were.
  if (result.lowerEdgeFailures > 0) object["lower_edge_refits"] = result.lowerEdgeFailures;
  if (result.thinLinesFailures > 0) object["thin_lines_refits"] = result.thinLinesFailures;
  if (result.n1UpperLimit) object["n1_upper_limit"] = *result.n1UpperLimit;
  return object;
}

nlohmann::json ProfileJson(const ProfileInterval& interval) {
  return {{"level", interval.level},
          {"threshold", interval.threshold},
          {"log10_n1_from", interval.log10N1From},
          {"log10_n1_to", interval.log10N1To},
          {"upper_limit", interval.upperLimit},
          {"lower_limit", interval.lowerLimit}};
}

nlohmann::json ConfidenceJson(const ConfidenceRegion& region) {
  nlohmann::json object = {{"level", region.level},
                           {"threshold", region.threshold},
                           {"log10_n1_from", region.minLog10N1},
                           {"log10_n1_to", region.maxLog10N1},
                           {"second_from", region.minSecond},
                           {"second_to", region.maxSecond},
                           {"touches_edge", region.touchesEdge}};
  if (region.anchored) {
    object["fit_log10_n1"] = region.fitLog10N1;
    object["fit_second"] = region.fitSecond;
    object["refine_n1"] = region.refineN1;
    object["refine_second"] = region.refineSecond;
  }
  if (region.weighted) {
    object["weighted"] = true;
    object["chi2_min"] = region.minimum;
  }
  return object;
}

}  // namespace lumora
