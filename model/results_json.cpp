#include "cli/results_json.h"

#include "lsq/levenberg_marquardt.h"
#include "model/results_line.h"

namespace lumora::cli {

namespace {

double Number(long double value) { return static_cast<double>(value); }

// The part both commands share: densities, total, T and the sum.
void AddFigures(nlohmann::json& object, const ResultsFigures& figures, const ParameterVector& b,
                const ParameterVector& errors) {
  object["sum"] = Number(b[11]);
  object["n_tot"] = Number(figures.total);
  object["u_n_tot"] = Number(figures.totalUncertainty);
  nlohmann::json levels = nlohmann::json::array();
  for (size_t i = 0; i < figures.densities.size(); ++i)
    levels.push_back({{"n", Number(figures.densities[i])}, {"u", Number(figures.uncertainties[i])}});
  object["levels"] = std::move(levels);
  object["T"] = Number(b[2]);
  object["u_T"] = Number(errors[2]);
}

}  // namespace

nlohmann::json FitJson(const std::string& file, const FitResult& fit,
                       const std::vector<TLevelRecord>& levels) {
  const ResultsFigures figures =
      ComputeResultsFigures(levels, fit.parameters, fit.errors, fit.parameterCount, true);
  nlohmann::json object;
  object["file"] = file;
  object["procedure"] = "fit";
  object["stop_code"] = static_cast<int>(fit.stopCode);
  object["stop"] = StopCodeResultText(fit.stopCode);
  AddFigures(object, figures, fit.parameters, fit.errors);
  object["log10_n_1"] = Number(fit.parameters[1]);
  object["iterations"] = fit.iterations;
  return object;
}

nlohmann::json MapJson(const std::string& file, const MapRequest& request, const MapResult& map,
                       const std::vector<TLevelRecord>& levels) {
  const ParameterVector noErrors{};
  const ResultsFigures figures = ComputeResultsFigures(levels, map.parameters, noErrors, 2, false);
  nlohmann::json object;
  object["file"] = file;
  object["procedure"] = "map";
  AddFigures(object, figures, map.parameters, noErrors);
  object["grid"] = {{"log10_density_from", map.range.x0},
                    {"log10_density_to", map.range.x1},
                    {"temperature_from", map.range.y0},
                    {"temperature_to", map.range.y1},
                    {"density_points", request.densityPoints},
                    {"temperature_points", request.temperaturePoints}};
  object["minimum"] = map.minimum;
  object["maximum"] = map.maximum;
  object["minimum_point"] = {{"row", map.minimumRow},
                             {"column", map.minimumColumn},
                             {"log10_n_1", Number(map.parameters[1])},
                             {"T", Number(map.parameters[2])}};
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
  return object;
}

nlohmann::json ConfidenceJson(const ConfidenceRegion& region) {
  return {{"level", region.level},
          {"threshold", region.threshold},
          {"log10_n1_from", region.minLog10N1},
          {"log10_n1_to", region.maxLog10N1},
          {"second_from", region.minSecond},
          {"second_to", region.maxSecond},
          {"touches_edge", region.touchesEdge}};
}

}  // namespace lumora::cli
