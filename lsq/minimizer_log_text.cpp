#include "lsq/minimizer_log_text.h"

#include <array>
#include <cmath>

#include "base/format.h"

namespace lumora {

namespace {

constexpr int kRuleWidth = 84;

template <char C>
constexpr std::array<char, kRuleWidth> Rule() {
  std::array<char, kRuleWidth> rule{};
  rule.fill(C);
  return rule;
}

constexpr std::array<char, kRuleWidth> kOpeningRule = Rule<'='>();
constexpr std::array<char, kRuleWidth> kTableRule = Rule<'-'>();

}  // namespace

std::string_view OpeningRule() { return {kOpeningRule.data(), kOpeningRule.size()}; }
std::string_view TableRule() { return {kTableRule.data(), kTableRule.size()}; }

std::string ParameterLabel(const ParameterNames& names, int i) {
  if (i >= 0 && i < static_cast<int>(names.size())) return names[i];
  return Format("b%d", i + 1);
}

std::string StopCodeReportText(StopCode code) {
  switch (code) {
    case StopCode::NotStarted:
      return "no minimization was started";
    case StopCode::SumReached:
      return "given sum of squeres was achieved";
    case StopCode::LambdaReached:
      return "given maximum lambda was achieved";
    case StopCode::IterationLimitReached:
      return "given number of iteration was achieved";
    case StopCode::FalseResidual:
      return "residuum is false";
    case StopCode::FalseHessian:
      return "hessian is false";
    case StopCode::ParametersUnchanged:
      return "parameters are not changing";
  }
  return "return code :" + Format("%3d", static_cast<int>(code));
}

std::string StopCodeResultText(StopCode code) {
  switch (code) {
    case StopCode::NotStarted:
      return "not started";
    case StopCode::SumReached:
      return "sum reached";
    case StopCode::LambdaReached:
      return "lambda reached";
    case StopCode::IterationLimitReached:
      return "itercount reached";
    case StopCode::FalseResidual:
      return "false residuum";
    case StopCode::FalseHessian:
      return "false hessian";
    case StopCode::ParametersUnchanged:
      return "OK";
  }
  return "";
}

std::string IterationTableHeader(const ParameterNames& names, int n) {
  std::string line = "iter";
  for (int i = 0; i < n; ++i) line += Format("%12s", ParameterLabel(names, i));
  return line + Format("%17s", "sumr");
}

std::string IterationTableRow(int iteration, const ParameterValues& parameters, long double sum) {
  std::string line = Format("%3d", iteration);
  for (long double value : parameters) {
    line += ' ';
    line += ExpField(value, 12);
  }
  line += ' ';
  return line + ExpField(sum, 15);
}

std::string ParameterErrorField(int m, long double sum, const ParameterMatrix& cov, int i) {
  const int n = static_cast<int>(cov.rows());
  if (m <= 2) return Format("%15.4e", 0.0L);
  if (m <= n) return Format("%15s", "undefined");
  const long double variance = sum / (m - n) * cov(i, i);
  if (!(variance >= 0) || std::isinf(variance)) return Format("%15s", "undefined");
  return Format("%15.4e", std::sqrt(variance));
}

std::string CorrelationField(const ParameterMatrix& cov, int i, int j) {
  const long double product = cov(i, i) * cov(j, j);
  if (!(product > 0) || std::isinf(product)) return "   n/a";
  const long double r = cov(i, j) / std::sqrt(product);
  if (!std::isfinite(r)) return "   n/a";
  return Format("%6.2f", r);
}

}  // namespace lumora
