#include "lsq/marq3w.h"

#include <cmath>

#include "base/checked.h"
#include "base/format.h"
#include "lsq/chocho.h"
#include "lsq/marqlog.h"
#include "lsq/marqprint.h"

namespace lumora {

namespace {

constexpr int kMaxParameters = 8;
constexpr int kMaxPoints = TMarqArray::kSize;
// A diagonal of the normal matrix at or below this marks a parameter the
// model does not depend on.
constexpr long double kDiagonalFloor = 1e-20L;
// Damping that replaces an exact 0 before it is increased.
constexpr long double kLambdaRestart = 1e-19L;

const std::string kRule(84, '=');
const std::string kTableRule(84, '-');

inline int At(int i, int j) { return i * (i - 1) / 2 + j; }

struct Factors {
  long double lambdaStart, lambdaMax, lambdaDown, lambdaUp, diagonalWeight, sumTarget;

  explicit Factors(const MarqSettings& s)
      : lambdaStart(s[1]), lambdaMax(s[2]), lambdaDown(s[3]), lambdaUp(s[4]),
        diagonalWeight(s[5]), sumTarget(s[6]) {}
};

// Working state of one run. All storage is fixed-size; nothing is allocated
// while iterating.
class MarqRun {
 public:
  MarqRun(int m, const TMarqArray& x, const TMarqArray& y, const TMarqArray& w, int n,
          vector& par, const TMarqFunc& func, const TMarqDeriv& deriv)
      : m_(m), n_(n), x_(x), y_(y), w_(w), par_(par), func_(func), deriv_(deriv) {}

  bool flag() const { return flag_; }

  // Weighted sum of squares at the current parameters; stops at the first
  // point whose evaluation clears the flag (that point still counts).
  long double ResidualPass() {
    flag_ = true;
    long double s = 0;
    for (int k = 1; flag_ && k <= m_; ++k) {
      r_[k] = fp::Sub(y_[k], func_(n_, par_, flag_, x_[k]));
      s = fp::Add(s, fp::Mul(fp::Mul(r_[k], r_[k]), w_[k]));
    }
    return s;
  }

  // Builds the scaled normal matrix and gradient at the current parameters
  // from the residuals of the last pass; false when a derivative call failed.
  bool NormalMatrixStep() {
    a_ = symmatrix{};
    b_ = vector{};
    for (int k = 1; k <= m_; ++k) {
      vector g;
      deriv_(k, x_, n_, par_, g, flag_);
      if (!flag_) return false;
      for (int i = 1; i <= n_; ++i) {
        b_[i] += g[i] * r_[k] * w_[k];
        for (int j = 1; j <= i; ++j) a_[At(i, j)] += g[i] * g[j] * w_[k];
      }
    }
    for (int i = 1; i <= n_; ++i) {
      fp::Check(b_[i]);
      for (int j = 1; j <= i; ++j) fp::Check(a_[At(i, j)]);
    }
    // A parameter without influence gets no step and a unit variance.
    for (int i = 1; i <= n_; ++i) {
      if (a_[At(i, i)] > kDiagonalFloor) continue;
      b_[i] = 0;
      for (int j = 1; j <= i; ++j) a_[At(i, j)] = 0;
      a_[At(i, i)] = 1;
    }
    for (int i = 1; i <= n_; ++i) scale_[i] = std::sqrt(a_[At(i, i)]);
    unscaled_ = a_;
    for (int i = 1; i <= n_; ++i) {
      b_[i] /= scale_[i];
      for (int j = 1; j <= i; ++j) a_[At(i, j)] = a_[At(i, j)] / scale_[i] / scale_[j];
    }
    return true;
  }

  void SaveParameters() { saved_ = par_; }
  void RestoreParameters() { par_ = saved_; }

  bool ParametersUnchanged() const {
    for (int i = 1; i <= n_; ++i)
      if (par_[i] != saved_[i]) return false;
    return true;
  }

  // Solves the damped system of this iteration and moves the parameters
  // from their saved values by the step.
  void TakeStep(long double damping) {
    symmatrix damped = a_;
    for (int i = 1; i <= n_; ++i) damped[At(i, i)] += damping;
    vector delta = b_;
    CholeskyDecompose(n_, damped, flag_);
    CholeskySolve(n_, damped, delta);
    for (int i = 1; i <= n_; ++i) par_[i] = fp::Add(delta[i] / scale_[i], saved_[i]);
  }

  // Covariance: inverse of the unscaled normal matrix of the last iteration,
  // entry (i, j) at (i-1)*n + j.
  void Covariance(TMarqArray& cov) {
    symmatrix factor = unscaled_;
    CholeskyDecompose(n_, factor, flag_);
    for (int i = 1; i <= n_; ++i) {
      vector unit;
      unit[i] = 1;
      CholeskySolve(n_, factor, unit);
      for (int j = 1; j <= n_; ++j) cov[(i - 1) * n_ + j] = unit[j];
    }
  }

  void ModelValues(TMarqArray& ycalc) {
    for (int k = 1; k <= m_; ++k) ycalc[k] = func_(n_, par_, flag_, x_[k]);
  }

 private:
  const int m_, n_;
  const TMarqArray& x_;
  const TMarqArray& y_;
  const TMarqArray& w_;
  vector& par_;
  const TMarqFunc& func_;
  const TMarqDeriv& deriv_;

  bool flag_ = true;
  TMarqArray r_;
  symmatrix a_, unscaled_;
  vector b_, scale_, saved_;
};

void CheckProblemSize(int m, int n) {
  if (n < 1 || n > kMaxParameters)
    throw Error(Format("Cannot fit %d parameters: the minimiser fits 1 to %d", n,
                       kMaxParameters));
  if (m < 1 || m > kMaxPoints)
    throw Error(
        Format("Cannot fit %d data points: the minimiser takes 1 to %d", m, kMaxPoints));
}

// The code of the stop tests, the last test that holds winning; -1 for none.
int StopTests(const Factors& f, long double sum, long double lambda, int counter,
              int iterLimit) {
  int code = kNotStarted;
  if (sum <= f.sumTarget) code = kSumReached;
  if (lambda >= f.lambdaMax) code = kLambdaReached;
  if (counter == iterLimit) code = kIterCountReached;
  return code;
}

}  // namespace

void MarqDefaults(MarqSettings& settings, int& iterLimit) {
  settings[1] = 1e-4L;
  settings[2] = 1e14L;
  settings[3] = 0.01L;
  settings[4] = 100;
  settings[5] = 1;
  settings[6] = 1e-15L;
  iterLimit = 50;
}

void MarqOpenLog(const std::string& fileName, int mode) {
  marqlog::Open(fileName);
  if (mode < 3) marqlog::Line(kRule);
}

void Marquardt(const MarqSettings& settings, int iterLimit, int printLevel, int m,
               const TMarqArray& x, const TMarqArray& y, const TMarqArray& w, int n,
               vector& par, long double& sum, TMarqArray& cov, TMarqArray& ycalc,
               int& stopCode, const TMarqFunc& func, const TMarqDeriv& deriv) {
  stopCode = kNotStarted;
  CheckProblemSize(m, n);
  const bool printing = printLevel == 1;
  if (printing && !marqlog::IsOpen()) throw InOutError("The fit log is not open");

  const Factors f(settings);
  MarqRun run(m, x, y, w, n, par, func, deriv);
  long double lambda = f.lambdaStart;
  int counter = 0;

  long double sumOld = run.ResidualPass();
  sum = sumOld;
  if (!run.flag()) {
    stopCode = kFalseResiduum;
    return;
  }
  if (printing) {
    marqlog::Line(MarqTableHeader(n));
    marqlog::Line(kTableRule);
    marqlog::Line(MarqTableRow(0, par, n, sumOld));
  }

  for (;;) {
    ++counter;
    sum = sumOld;
    if (!run.NormalMatrixStep()) {
      stopCode = kFalseHessian;
      return;
    }
    // Trials from the same normal matrix: lambda * LambdaDown, then lambda,
    // then lambda * LambdaUp for a new cycle, until the sum does not grow.
    bool firstTrial = true;
    run.SaveParameters();
    for (;;) {
      const long double damping = firstTrial ? fp::Mul(lambda, f.lambdaDown) : lambda;
      run.TakeStep(fp::Mul(damping, f.diagonalWeight));
      const long double sumNew = run.ResidualPass();
      sum = sumNew;
      if (sumNew <= sumOld) {
        sumOld = sumNew;
        if (firstTrial) lambda = damping;
        break;
      }
      run.RestoreParameters();
      if (firstTrial) {
        firstTrial = false;
        continue;
      }
      if (lambda == 0) lambda = kLambdaRestart;
      lambda = fp::Mul(lambda, f.lambdaUp);
      firstTrial = true;
    }

    if (run.ParametersUnchanged()) {
      stopCode = kParametersUnchanged;
      break;
    }
    if (printing) marqlog::Line(MarqTableRow(counter, par, n, sumOld));
    const int code = StopTests(f, sumOld, lambda, counter, iterLimit);
    if (code != kNotStarted) {
      stopCode = code;
      break;
    }
  }

  run.Covariance(cov);
  run.ModelValues(ycalc);
}

}  // namespace lumora
