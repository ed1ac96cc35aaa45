#include "model/fitdriver.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>

#include "base/checked.h"
#include "base/errors.h"
#include "base/format.h"
#include "lsq/marq3w.h"
#include "model/atomicdata.h"
#include "model/ebfmodel.h"
#include "model/residualmap.h"

namespace lumora {

namespace {

std::mt19937_64& NoiseGenerator() {
  static std::mt19937_64 generator(
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  return generator;
}

struct FitData {
  int m = 0;
  TMarqArray x, y, w, ycalc, wavelength;
};

FitData MakeFitData(double noiseLevel) {
  FitData data;
  data.m = static_cast<int>(LineArray.size());
  for (int k = 0; k < data.m; ++k) {
    const TLineRecord& line = LineArray[k];
    data.x[k + 1] = k;
    data.y[k + 1] = line.G_m;
    if (noiseLevel != 0) data.y[k + 1] += GaussNoise(0, noiseLevel);
    data.ycalc[k + 1] = 0;
    data.wavelength[k + 1] = line.AR.WaveLength;
    data.w[k + 1] = line.G_m > 0 ? 1 : 0;
  }
  return data;
}

void CheckLineCount(int m) {
  if (m < 1) throw Error("There are no lines to fit.");
  if (m > kMaxFitLines)
    throw Error(Format("A fit takes at most %d lines; this measurement has %d.", kMaxFitLines, m));
}

// A new file rather than a truncated one: truncating a file and writing it
// again makes some file systems (ext4) flush it on close, which costs a fit
// more than its model evaluations. Only a plain file is removed; anything
// else (a link, a device) is left for the log's own open to deal with.
void ReplaceLogFile(const std::string& logFileName) {
  std::error_code ec;
  if (std::filesystem::symlink_status(logFileName, ec).type() ==
      std::filesystem::file_type::regular)
    std::filesystem::remove(logFileName, ec);
}

// Every line of the log, without line ends; "Fit logfile was not found."
// when it cannot be read.
std::vector<std::string> ReadLogLines(const std::string& logFileName) {
  std::ifstream in(logFileName, std::ios::binary);
  if (!in) return {"Fit logfile was not found."};
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

long double ModelValue(int n, const vector& b, bool& flag, long double x) {
  return EvaluateModel(n, b, flag, x);
}

// The derivative pass of a fit of b1 alone: the minimiser reads only d[1],
// so the b2 derivative of ModelDerivatives would cost two model
// computations per pass for nothing. d[1] is formed exactly as there.
void DensityDerivative(int i, const TMarqArray& x, int /*n*/, vector b, vector& d,
                       bool& /*flag*/) {
  const long double s = b[1];
  const long double h = DerivativeStep(s);
  b[1] = s + h;
  const long double fPlus = EvaluateModel(b, x[i]);
  b[1] = s - h;
  const long double fMinus = EvaluateModel(b, x[i]);
  d[1] = fp::Div(fPlus - fMinus, 2 * h);
}

vector ParameterErrors(int m, int n, long double sum, const TMarqArray& cov) {
  vector errors;
  if (m <= 2) return errors;
  for (int i = 1; i <= n; ++i)
    errors[i] = fp::Sqrt(fp::Div(sum, m - n) * cov[(i - 1) * n + i]);
  return errors;
}

}  // namespace

FitOutcome FitDriver(vector par, int iterLimit, int n, double noiseLevel,
                     const std::string& dataFileName, const std::string& logFileName,
                     std::vector<std::string>* reportLines, int reportKind) {
  CheckLineCount(static_cast<int>(LineArray.size()));
  FitData data = MakeFitData(noiseLevel);

  MarqSettings settings;
  int defaultLimit = 0;
  MarqDefaults(settings, defaultLimit);
  ReplaceLogFile(logFileName);
  MarqOpenLog(logFileName, 1);

  long double sum = 0;
  TMarqArray cov;
  int stopCode = kNotStarted;
  try {
    Marquardt(settings, iterLimit, 1, data.m, data.x, data.y, data.w, n, par, sum, cov,
              data.ycalc, stopCode, ModelValue, n == 1 ? DensityDerivative : ModelDerivatives);
  } catch (...) {
    // The report closes the log and turns the interrupted run into its error.
    MarqReport(stopCode, data.m, n, sum, par, cov);
    throw;
  }
  MarqReport(stopCode, data.m, n, sum, par, cov);

  // Mostly the minimiser's last computation is that of its final vector: the
  // model fields then describe it already and its entry is kept.
  ClearPrecalcKeeping(par);
  for (int k = 0; k < data.m; ++k) LineArray[k].G_f = static_cast<double>(EvaluateModel(par, k));

  FitOutcome outcome;
  par[11] = sum;
  par[12] = stopCode;
  outcome.parameters = par;
  outcome.errors = ParameterErrors(data.m, n, sum, cov);

  if (reportLines) {
    std::vector<std::string> lines;
    if (reportKind == kReportFitIteration)
      lines = ReadLogLines(logFileName);
    else
      ResultsLine(par, outcome.errors, &lines, dataFileName, n, true);
    reportLines->insert(reportLines->end(), lines.begin(), lines.end());
  }
  return outcome;
}

long double GaussNoise(long double mean, long double sigma) {
  std::uniform_real_distribution<long double> uniform(0.0L, 1.0L);
  long double sum = 0;
  for (int i = 0; i < 12; ++i) sum += uniform(NoiseGenerator());
  return mean + sigma * (sum - 6);
}

}  // namespace lumora
