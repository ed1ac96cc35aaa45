#include "model/fraction_weights.h"

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <boost/math/distributions/chi_squared.hpp>

#include <cmath>
#include <limits>
#include <map>

#include "base/errors.h"
#include "base/format.h"

namespace lumora {

namespace {

using Matrix = Eigen::Matrix<long double, Eigen::Dynamic, Eigen::Dynamic>;

bool Measured(const TLineRecord& line) { return line.G_m > 0; }

// The measured lines of each upper level, in the table's order.
std::map<int32_t, std::vector<int>> MeasuredLinesByLevel(const std::vector<TLineRecord>& lines) {
  std::map<int32_t, std::vector<int>> levels;
  for (size_t k = 0; k < lines.size(); ++k)
    if (Measured(lines[k])) levels[lines[k].UpperState].push_back(static_cast<int>(k));
  return levels;
}

// The covariance of a level's fractions G_i = x_i / S (x = I * wavelength,
// S the level's sum of x) without its last one. With u_k = wavelength_k
// u(I_k) / S, dG_i/dx_k S = delta_ik - G_i, so
// C_ij = delta_ij u_i^2 - G_j u_i^2 - G_i u_j^2 + G_i G_j sum_k u_k^2.
struct LevelTerms {
  std::vector<long double> u, g;
  long double uSquares = 0;
};

LevelTerms TermsOfLevel(const std::vector<TLineRecord>& lines, const std::vector<int>& level,
                        const std::vector<double>& sigmas) {
  long double total = 0;
  for (int k : level) total += static_cast<long double>(lines[k].Int) * lines[k].AR.WaveLength;
  LevelTerms terms;
  terms.u.resize(level.size());
  terms.g.resize(level.size());
  for (size_t a = 0; a < level.size(); ++a) {
    const TLineRecord& line = lines[level[a]];
    terms.u[a] = static_cast<long double>(sigmas[level[a]]) * line.AR.WaveLength / total;
    terms.g[a] = line.G_m;
    terms.uSquares += terms.u[a] * terms.u[a];
  }
  return terms;
}

Matrix ReducedCovariance(const std::vector<TLineRecord>& lines, const std::vector<int>& level,
                         const std::vector<double>& sigmas) {
  const auto [u, g, uSquares] = TermsOfLevel(lines, level, sigmas);
  const size_t n = level.size() - 1;
  Matrix c(n, n);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j)
      c(i, j) = (i == j ? u[i] * u[i] : 0) - g[j] * u[i] * u[i] - g[i] * u[j] * u[j] +
                g[i] * g[j] * uSquares;
  return c;
}

}  // namespace

double LineIntensityUncertainty(const TLineRecord& line, const IntensityUncertainty& uncertainty) {
  switch (uncertainty.source) {
    case UncertaintySource::Column:
      return line.IntSigma;
    case UncertaintySource::Relative:
      return uncertainty.relative * line.Int;
    case UncertaintySource::Poisson:
      return std::sqrt(line.Int);
    case UncertaintySource::None:
      break;
  }
  return 0;
}

std::vector<double> MeasuredFractionUncertainties(const std::vector<TLineRecord>& lines,
                                                  const std::vector<double>& sigmas) {
  std::vector<double> fractionSigmas(lines.size(), 0.0);
  for (const auto& [upper, level] : MeasuredLinesByLevel(lines)) {
    if (level.size() < 2) continue;
    const auto [u, g, uSquares] = TermsOfLevel(lines, level, sigmas);
    for (size_t a = 0; a < level.size(); ++a) {
      const long double others = uSquares - u[a] * u[a];
      fractionSigmas[level[a]] = static_cast<double>(
          std::sqrt((1 - g[a]) * (1 - g[a]) * u[a] * u[a] + g[a] * g[a] * others));
    }
  }
  return fractionSigmas;
}

std::vector<double> IntensityUncertainties(const std::vector<TLineRecord>& lines,
                                           const IntensityUncertainty& uncertainty) {
  std::vector<double> sigmas(lines.size(), 0.0);
  if (!uncertainty.Weighted()) return sigmas;
  if (uncertainty.source == UncertaintySource::Relative &&
      !(uncertainty.relative > 0 && std::isfinite(uncertainty.relative)))
    throw Error(Format("The relative uncertainty of the intensities must be above 0, not %s.",
                       MessageNumber(uncertainty.relative)));
  for (size_t k = 0; k < lines.size(); ++k) {
    const TLineRecord& line = lines[k];
    if (!Measured(line)) continue;
    sigmas[k] = LineIntensityUncertainty(line, uncertainty);
    if (!(sigmas[k] > 0) || !std::isfinite(sigmas[k]))
      throw Error(Format("The line %s nm has the intensity uncertainty %s; a weighted fit needs "
                         "an uncertainty above 0 for every measured line.",
                         MessageNumber(line.AR.WaveLength), MessageNumber(sigmas[k])));
  }
  return sigmas;
}

FractionWhitening::FractionWhitening(const std::vector<TLineRecord>& lines,
                                     const std::vector<double>& sigmas) {
  for (const auto& [upper, level] : MeasuredLinesByLevel(lines)) {
    if (level.size() < 2) continue;
    const Matrix covariance = ReducedCovariance(lines, level, sigmas);
    const Eigen::LLT<Matrix> cholesky(covariance);
    if (cholesky.info() != Eigen::Success)
      throw Error(Format("The uncertainties of the lines of the upper level at %s eV give no "
                         "usable covariance of their branching fractions.",
                         MessageNumber(lines[level.front()].AR.Ek_eV)));
    // Whitening by L^-1 (lower triangular): row a mixes the level's first a+1 lines.
    const Matrix whiten = cholesky.matrixL().solve(
        Matrix::Identity(covariance.rows(), covariance.cols()));
    for (Eigen::Index a = 0; a < whiten.rows(); ++a) {
      WhitenedRow row;
      for (Eigen::Index c = 0; c <= a; ++c) row.terms.push_back({level[c], whiten(a, c)});
      rows_.push_back(std::move(row));
    }
  }
}

bool WhitenedModel::Value(const ParameterValues& p, int row, long double& value) {
  value = 0;
  for (const WhitenedRow::Term& term : whitening_.Rows()[row].terms) {
    long double lineValue = 0;
    if (!perLine_.Value(p, term.line, lineValue)) return false;
    value += term.coefficient * lineValue;
  }
  return true;
}

bool WhitenedModel::Gradient(const ParameterValues& p, int row, ParameterValues& gradient) {
  for (const WhitenedRow::Term& term : whitening_.Rows()[row].terms) {
    ParameterValues lineGradient = ParameterValues::Zero(p.size());
    if (!perLine_.Gradient(p, term.line, lineGradient)) return false;
    gradient += term.coefficient * lineGradient;
  }
  return true;
}

std::vector<long double> WhitenedModel::Observed(const std::vector<TLineRecord>& lines) const {
  std::vector<double> measured(lineCount_);
  for (int k = 0; k < lineCount_; ++k) measured[k] = lines[k].G_m;
  std::vector<long double> observed(whitening_.RowCount());
  for (int r = 0; r < whitening_.RowCount(); ++r) observed[r] = whitening_.Apply(r, measured);
  return observed;
}

int FractionDegreesOfFreedom(const std::vector<TLineRecord>& lines, int fitted) {
  int measured = 0;
  for (const auto& [upper, level] : MeasuredLinesByLevel(lines))
    measured += static_cast<int>(level.size()) - 1;
  return measured - fitted;
}

GoodnessOfFit ChiSquareTest(long double chiSquare, int degreesOfFreedom) {
  GoodnessOfFit test;
  test.chiSquare = chiSquare;
  test.degreesOfFreedom = degreesOfFreedom;
  if (degreesOfFreedom < 1) return test;
  // A chi-square beyond the doubles (uncertainties stated far too small)
  // has a probability below any double; Boost would refuse it as infinite.
  if (!(chiSquare <= std::numeric_limits<double>::max())) {
    test.pValue = 0;
    return test;
  }
  const boost::math::chi_squared_distribution<double> chi2(degreesOfFreedom);
  test.pValue = boost::math::cdf(boost::math::complement(chi2, static_cast<double>(chiSquare)));
  return test;
}

}  // namespace lumora
