#include "lsq/levenberg_marquardt.h"

#include <algorithm>
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
        r_(m_, 0.0L),
        values_(m_, 0.0L),
        gradients_(m_) {}

  // False when the model failed at a point of the last residual pass.
  bool passSucceeded() const { return passSucceeded_; }

  // Weighted sum of squares at the current parameters; stops at the first
  // point whose evaluation failed (that point still counts).
  long double ResidualPass() {
    passSucceeded_ = true;
    const int evaluated = model_.Values(par_, values_, passSucceeded_);
    long double s = 0;
    for (int k = 0; k < evaluated; ++k) {
      // The residual is used from a register: reloading an extended value
      // just stored stalls the pass.
      const long double r = y_[k] - values_[k];
      r_[k] = r;
      s += r * r * w_[k];
    }
    // A fault anywhere leaves the sum infinite or nan; only then is the pass
    // gone through again operation by operation, to raise the first fault.
    if (!fp::IsFinite(s)) RaiseFirstFault(evaluated);
    return s;
  }

  // The residual pass of the last values with every operation checked.
  void RaiseFirstFault(int evaluated) const {
    long double s = 0;
    for (int k = 0; k < evaluated; ++k) {
      const long double r = fp::Sub(y_[k], values_[k]);
      s = fp::Add(s, fp::Mul(fp::Mul(r, r), w_[k]));
    }
  }

  // Builds the scaled normal matrix and gradient at the current parameters
  // from the residuals of the last pass; false when a derivative call failed.
  // A failed last pass (an accepted trial may stop early) fails it too, after
  // the first derivative call.
  bool NormalMatrixStep() {
    a_.fill(0);
    b_.setZero(n_);
    for (ParameterValues& g : gradients_) g.setZero(n_);
    // After a failed pass the step fails at its first derivative call.
    if (!passSucceeded_) {
      model_.Gradient(par_, 0, gradients_[0]);
      return false;
    }
    if (!model_.Gradients(par_, gradients_)) return false;
    // Each sum runs over the points in a register, in the points' order;
    // summing into the matrix in memory point by point would wait on every
    // extended store.
    for (int i = 0; i < n_; ++i) {
      long double bi = 0;
      for (int k = 0; k < m_; ++k) bi += gradients_[k][i] * r_[k] * w_[k];
      b_[i] = bi;
      for (int j = 0; j <= i; ++j) {
        long double aij = 0;
        for (int k = 0; k < m_; ++k) aij += gradients_[k][i] * gradients_[k][j] * w_[k];
        a_[At(i, j)] = aij;
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

  // No parameter moved at all in the last step.
  bool ParametersUnchanged() const {
    for (int i = 0; i < n_; ++i)
      if (par_[i] != saved_[i]) return false;
    return true;
  }

  // The largest cosine between the residuals of the last pass and a column
  // of the Jacobian (both weighted), from this iteration's scaled gradient;
  // 0 for residuals that vanish.
  long double GradientCosine(long double sum) const {
    if (!(sum > 0)) return 0;
    long double largest = 0;
    for (int i = 0; i < n_; ++i) largest = std::max(largest, std::fabs(b_[i]));
    return largest / std::sqrt(sum);
  }

  // The reduction of the sum that the linearised model predicts for the
  // last step, |r|^2 - |r - J delta|^2 = delta'A delta + 2 lambda |delta|^2.
  long double PredictedReduction() const {
    long double quadratic = 0, length = 0;
    for (int i = 0; i < n_; ++i) {
      long double row = 0;
      for (int j = 0; j < n_; ++j) row += a_[PackedIndex(i, j)] * step_[i] * step_[j];
      quadratic += row;
      length += step_[i] * step_[i];
    }
    return quadratic + 2 * damping_ * length;
  }

  // The last step's length against the parameters' before it, both scaled
  // by the normal matrix's diagonal.
  long double RelativeStep() const {
    long double step = 0, size = 0;
    for (int i = 0; i < n_; ++i) {
      step += step_[i] * step_[i];
      const long double scaled = scale_[i] * saved_[i];
      size += scaled * scaled;
    }
    return size > 0 ? std::sqrt(step / size) : (step > 0 ? INFINITY : 0);
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
    step_ = delta;
    damping_ = damping;
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
  std::vector<long double> values_;  // of the last residual pass
  std::vector<ParameterValues> gradients_;  // of the last normal-matrix step
  PackedMatrix a_{}, unscaled_{};
  ParameterValues b_, scale_, saved_;
  ParameterValues step_;  // the last step, scaled
  long double damping_ = 0;
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

// Whether an accepted step that took the sum from `before` to `after` found
// the run converged by MINPACK's tests of the sum's reduction and of the
// step's length; which test, or None.
ConvergenceTest StepConverged(const MinimizerOptions& options, const MarqRun& run,
                              long double before, long double after) {
  if (before > 0) {
    const long double actual = (before - after) / before;
    const long double predicted = run.PredictedReduction() / before;
    if (std::fabs(actual) <= options.ftol && predicted <= options.ftol &&
        actual <= 2 * predicted)
      return ConvergenceTest::SumReduction;
  }
  if (run.RelativeStep() <= options.xtol) return ConvergenceTest::Step;
  return ConvergenceTest::None;
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

int FittedModel::Values(const ParameterValues& p, std::vector<long double>& values,
                        bool& succeeded) {
  const int m = static_cast<int>(values.size());
  succeeded = true;
  for (int k = 0; k < m; ++k) {
    long double value = 0;
    succeeded = Value(p, k, value);
    values[k] = value;
    if (!succeeded) return k + 1;
  }
  return m;
}

bool FittedModel::Gradients(const ParameterValues& p, std::vector<ParameterValues>& gradients) {
  for (size_t k = 0; k < gradients.size(); ++k)
    if (!Gradient(p, static_cast<int>(k), gradients[k])) return false;
  return true;
}

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
    // Residuals orthogonal to every direction the parameters can take: a
    // stationary point, nothing left to gain.
    if (sumOld > options.sumTarget && run.GradientCosine(sumOld) <= options.gtol) {
      stopCode = StopCode::ParametersUnchanged;
      summary.convergedBy = ConvergenceTest::Gradient;
      break;
    }
    // Trials from the same normal matrix: lambda * LambdaDown, then lambda,
    // then lambda * LambdaUp for a new cycle, until the sum does not grow.
    bool firstTrial = true;
    run.SaveParameters();
    const long double sumBefore = sumOld;
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

    if (run.ParametersUnchanged()) {
      stopCode = StopCode::ParametersUnchanged;
      summary.convergedBy = ConvergenceTest::Unchanged;
      break;
    }
    record(counter, sumOld);
    stopCode = StopTests(options, sumOld, lambda, counter);
    // A converged run has not merely run out of iterations or damping; one
    // that reached the sum target says so instead.
    if (stopCode != StopCode::SumReached) {
      const ConvergenceTest converged = StepConverged(options, run, sumBefore, sumOld);
      if (converged != ConvergenceTest::None) {
        stopCode = StopCode::ParametersUnchanged;
        summary.convergedBy = converged;
      }
    }
    if (stopCode != StopCode::NotStarted) break;
  }

  summary.covariance = run.Covariance();
  summary.modelValues = run.ModelValues();
  finish(stopCode, sumOld);
  return summary;
}

}  // namespace lumora
