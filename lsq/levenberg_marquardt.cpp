#include "lsq/levenberg_marquardt.h"

#include <cmath>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "lsq/minimizer_log_text.h"
#include "lsq/packed_cholesky.h"

namespace lumora {

namespace {

// A diagonal of the normal matrix at or below this marks a parameter the
// model does not depend on.
constexpr long double kDiagonalFloor = 1e-20L;
// Damping that replaces an exact 0 before it is increased.
constexpr long double kLambdaRestart = 1e-19L;

inline int At(int i, int j) { return i * (i + 1) / 2 + j; }

// Working state of one run. All storage is fixed-size; nothing is allocated
// while iterating.
class MarqRun {
 public:
  MarqRun(const MinimizerProblem& problem, ParameterValues& par)
      : m_(static_cast<int>(problem.observed.size())),
        n_(static_cast<int>(par.size())),
        y_(problem.observed),
        w_(problem.weights),
        par_(par),
        model_(*problem.model),
        r_(m_, 0.0L) {}

  // False when the model failed at a point of the last residual pass.
  bool passSucceeded() const { return passSucceeded_; }

  // Weighted sum of squares at the current parameters; stops at the first
  // point whose evaluation failed (that point still counts).
  long double ResidualPass() {
    passSucceeded_ = true;
    long double s = 0;
    for (int k = 0; passSucceeded_ && k < m_; ++k) {
      long double value = 0;
      passSucceeded_ = model_.Value(par_, k, value);
      r_[k] = fp::Sub(y_[k], value);
      s = fp::Add(s, fp::Mul(fp::Mul(r_[k], r_[k]), w_[k]));
    }
    return s;
  }

  // Builds the scaled normal matrix and gradient at the current parameters
  // from the residuals of the last pass; false when a derivative call failed.
  // A failed last pass (an accepted trial may stop early) fails it too, after
  // the first derivative call.
  bool NormalMatrixStep() {
    a_.fill(0);
    b_.setZero(n_);
    for (int k = 0; k < m_; ++k) {
      ParameterValues g = ParameterValues::Zero(n_);
      const bool evaluated = model_.Gradient(par_, k, g);
      if (!evaluated || !passSucceeded_) return false;
      for (int i = 0; i < n_; ++i) {
        b_[i] += g[i] * r_[k] * w_[k];
        for (int j = 0; j <= i; ++j) a_[At(i, j)] += g[i] * g[j] * w_[k];
      }
    }
    for (int i = 0; i < n_; ++i) {
      fp::Check(b_[i]);
      for (int j = 0; j <= i; ++j) fp::Check(a_[At(i, j)]);
    }
    // A parameter without influence gets no step and a unit variance.
    for (int i = 0; i < n_; ++i) {
      if (a_[At(i, i)] > kDiagonalFloor) continue;
      b_[i] = 0;
      for (int j = 0; j <= i; ++j) a_[At(i, j)] = 0;
      a_[At(i, i)] = 1;
    }
    scale_.resize(n_);
    for (int i = 0; i < n_; ++i) scale_[i] = std::sqrt(a_[At(i, i)]);
    unscaled_ = a_;
    for (int i = 0; i < n_; ++i) {
      b_[i] /= scale_[i];
      for (int j = 0; j <= i; ++j) a_[At(i, j)] = a_[At(i, j)] / scale_[i] / scale_[j];
    }
    return true;
  }

  void SaveParameters() { saved_ = par_; }
  void RestoreParameters() { par_ = saved_; }

  // Unchanged: no parameter moved by more than `tolerance` times its size
  // (0: not at all).
  bool ParametersUnchanged(long double tolerance) const {
    for (int i = 0; i < n_; ++i) {
      if (par_[i] == saved_[i]) continue;
      if (tolerance == 0 || std::fabs(par_[i] - saved_[i]) > tolerance * std::fabs(saved_[i]))
        return false;
    }
    return true;
  }

  // Solves the damped system of this iteration and moves the parameters
  // from their saved values by the step. A failed pivot only zeroes its
  // component of the step.
  void TakeStep(long double damping) {
    PackedMatrix damped = a_;
    for (int i = 0; i < n_; ++i) damped[At(i, i)] += damping;
    ParameterValues delta = b_;
    CholeskyDecompose(n_, damped);
    CholeskySolve(n_, damped, delta);
    for (int i = 0; i < n_; ++i) par_[i] = fp::Add(delta[i] / scale_[i], saved_[i]);
  }

  // Covariance: inverse of the unscaled normal matrix of the last iteration.
  ParameterMatrix Covariance() {
    PackedMatrix factor = unscaled_;
    CholeskyDecompose(n_, factor);
    ParameterMatrix cov(n_, n_);
    for (int i = 0; i < n_; ++i) {
      ParameterValues unit = ParameterValues::Zero(n_);
      unit[i] = 1;
      CholeskySolve(n_, factor, unit);
      for (int j = 0; j < n_; ++j) cov(i, j) = unit[j];
    }
    return cov;
  }

  // The model at every point; a failed evaluation no longer matters here.
  std::vector<long double> ModelValues() {
    std::vector<long double> values(m_);
    for (int k = 0; k < m_; ++k) {
      long double value = 0;
      model_.Value(par_, k, value);
      values[k] = value;
    }
    return values;
  }

 private:
  const int m_, n_;
  const std::vector<long double>& y_;
  const std::vector<long double>& w_;
  ParameterValues& par_;
  FittedModel& model_;

  bool passSucceeded_ = true;
  std::vector<long double> r_;
  PackedMatrix a_{}, unscaled_{};
  ParameterValues b_, scale_, saved_;
};

void CheckProblem(const MinimizerProblem& problem, int n) {
  const int m = static_cast<int>(problem.observed.size());
  if (n < 1 || n > kMaxMinimizerParameters)
    throw Error(
        Format("Cannot fit %d parameters: the minimiser fits 1 to %d", n, kMaxMinimizerParameters));
  if (m < 1 || m > kMaxMinimizerPoints)
    throw Error(
        Format("Cannot fit %d data points: the minimiser takes 1 to %d", m, kMaxMinimizerPoints));
  if (problem.weights.size() != problem.observed.size())
    throw Error(Format("Cannot fit %d data points with %d weights", m,
                       static_cast<int>(problem.weights.size())));
  if (!problem.model) throw Error("Cannot fit without a model");
}

// The code of the stop tests, the last test that holds winning; NotStarted
// for none.
StopCode StopTests(const MinimizerOptions& options, long double sum, long double lambda,
                   int counter) {
  StopCode code = StopCode::NotStarted;
  if (sum <= options.sumTarget) code = StopCode::SumReached;
  if (lambda >= options.lambdaMax) code = StopCode::LambdaReached;
  if (counter == options.iterationLimit) code = StopCode::IterationLimitReached;
  return code;
}

}  // namespace

MinimizerSummary Minimize(const MinimizerOptions& options, const MinimizerProblem& problem,
                          ParameterValues& par, IterationTrace* trace) {
  CheckProblem(problem, static_cast<int>(par.size()));

  MinimizerSummary summary;
  MarqRun run(problem, par);
  long double lambda = options.lambdaStart;
  int counter = 0;
  // Every exit below reports the sum of the last pass and the counter.
  auto finish = [&](StopCode code, long double sum) {
    summary.stopCode = code;
    summary.sum = sum;
    summary.iterations = counter;
  };
  auto record = [&](int iteration, long double sum) {
    if (trace) trace->push_back(IterationRecord{iteration, par, sum});
  };

  long double sumOld = run.ResidualPass();
  if (!run.passSucceeded()) {
    finish(StopCode::FalseResidual, sumOld);
    return summary;
  }
  record(0, sumOld);

  StopCode stopCode = StopCode::NotStarted;
  for (;;) {
    ++counter;
    if (options.beforeIteration) options.beforeIteration(counter);
    if (!run.NormalMatrixStep()) {
      finish(StopCode::FalseHessian, sumOld);
      return summary;
    }
    // Trials from the same normal matrix: lambda * LambdaDown, then lambda,
    // then lambda * LambdaUp for a new cycle, until the sum does not grow.
    bool firstTrial = true;
    run.SaveParameters();
    for (;;) {
      const long double damping = firstTrial ? fp::Mul(lambda, options.lambdaDown) : lambda;
      run.TakeStep(fp::Mul(damping, options.diagonalWeight));
      const long double sumNew = run.ResidualPass();
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
      lambda = fp::Mul(lambda, options.lambdaUp);
      firstTrial = true;
    }

    if (run.ParametersUnchanged(options.parameterTolerance)) {
      stopCode = StopCode::ParametersUnchanged;
      break;
    }
    record(counter, sumOld);
    stopCode = StopTests(options, sumOld, lambda, counter);
    if (stopCode != StopCode::NotStarted) break;
  }

  summary.covariance = run.Covariance();
  summary.modelValues = run.ModelValues();
  finish(stopCode, sumOld);
  return summary;
}

}  // namespace lumora
