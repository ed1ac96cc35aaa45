// Weights of the measured branching fractions: the intensities' standard
// uncertainties carried to the fractions by first-order propagation, and the
// whitening that turns the fractions' residuals into independent unit-variance
// ones. The fractions of one upper level sum to 1, so their covariance is
// singular; the whitening drops the level's last measured fraction and
// whitens the others with the Cholesky factor of their covariance. The sum of
// the whitened residuals' squares is the fit's chi-square.
#pragma once

#include <vector>

#include "lsq/levenberg_marquardt.h"
#include "model/element_data.h"

namespace lumora {

// Where the intensities' standard uncertainties come from.
enum class UncertaintySource { None, Column, Relative, Poisson };

struct IntensityUncertainty {
  UncertaintySource source = UncertaintySource::None;
  double relative = 0;  // Relative: u(I) = relative * I

  bool Weighted() const { return source != UncertaintySource::None; }
};

// The standard uncertainty of one line's intensity; 0 where it states none.
double LineIntensityUncertainty(const TLineRecord& line, const IntensityUncertainty& uncertainty);

// The standard uncertainty of each line's measured fraction G_m, first-order
// from the intensities' `sigmas` (the level's other lines included, as they
// share its sum); 0 for a line without a measured fraction or alone on its
// level, whose fraction is 1 whatever its intensity.
std::vector<double> MeasuredFractionUncertainties(const std::vector<TLineRecord>& lines,
                                                  const std::vector<double>& sigmas);

// The standard uncertainty of each line's intensity (0 for a line without a
// measured intensity). Raises Error for a measured line whose uncertainty is
// not above 0 or not finite, and for a relative uncertainty not above 0.
std::vector<double> IntensityUncertainties(const std::vector<TLineRecord>& lines,
                                           const IntensityUncertainty& uncertainty);

// One whitened residual: sum over terms of coefficient * (G_m - G_f) of a line.
struct WhitenedRow {
  struct Term {
    int line = 0;
    long double coefficient = 0;
  };
  std::vector<Term> terms;
};

// The whitening of the measured fractions of a line table. Lines without a
// measured fraction (G_m 0) take no part; a level with one measured line adds
// no row (its fraction is 1 whatever the model).
class FractionWhitening {
 public:
  // `sigmas` as IntensityUncertainties gives them. Raises Error when a
  // level's covariance is not positive definite.
  FractionWhitening(const std::vector<TLineRecord>& lines, const std::vector<double>& sigmas);

  const std::vector<WhitenedRow>& Rows() const { return rows_; }
  int RowCount() const { return static_cast<int>(rows_.size()); }

  // The whitened value of row r of per-line values (fractions or residuals).
  template <typename Values>
  long double Apply(int r, const Values& perLine) const {
    long double value = 0;
    for (const WhitenedRow::Term& term : rows_[r].terms)
      value += term.coefficient * static_cast<long double>(perLine[term.line]);
    return value;
  }

  // The chi-square of per-line model fractions against the measured ones.
  template <typename Fractions>
  long double ChiSquare(const std::vector<TLineRecord>& lines, const Fractions& model) const {
    long double sum = 0;
    for (const WhitenedRow& row : rows_) {
      long double r = 0;
      for (const WhitenedRow::Term& term : row.terms)
        r += term.coefficient * (static_cast<long double>(lines[term.line].G_m) -
                                 static_cast<long double>(model[term.line]));
      sum += r * r;
    }
    return sum;
  }

 private:
  std::vector<WhitenedRow> rows_;
};

// The whitened residuals as the minimiser's data points: a model of per-line
// fractions seen through the whitening.
class WhitenedModel : public FittedModel {
 public:
  WhitenedModel(FittedModel& perLine, const FractionWhitening& whitening, int lineCount)
      : perLine_(perLine), whitening_(whitening), lineCount_(lineCount) {}

  bool Value(const ParameterValues& p, int row, long double& value) override;
  bool Gradient(const ParameterValues& p, int row, ParameterValues& gradient) override;

  // The whitened measured fractions, the points the minimiser fits.
  std::vector<long double> Observed(const std::vector<TLineRecord>& lines) const;

 private:
  FittedModel& perLine_;
  const FractionWhitening& whitening_;
  int lineCount_;
};

// The degrees of freedom of `fitted` parameters fitted to the measured
// fractions: one fewer than its measured lines for each upper level, as a
// level's fractions sum to 1.
int FractionDegreesOfFreedom(const std::vector<TLineRecord>& lines, int fitted);

// How well a weighted fit describes the lines.
struct GoodnessOfFit {
  long double chiSquare = 0;
  int degreesOfFreedom = 0;
  double pValue = 1;  // of a chi-square this large or larger

  long double PerDegree() const {
    return degreesOfFreedom > 0 ? chiSquare / degreesOfFreedom : 0;
  }
};
GoodnessOfFit ChiSquareTest(long double chiSquare, int degreesOfFreedom);

}  // namespace lumora
