#include "lsq/packed_cholesky.h"

#include <cmath>

namespace lumora {

namespace {

// Packed position of entry (i, j) with j <= i.
inline int At(int i, int j) { return i * (i + 1) / 2 + j; }

}  // namespace

bool CholeskyDecompose(int n, PackedMatrix& a) {
  bool ok = true;
  for (int i = 0; i < n; ++i) {
    // Subtract the contributions of the finished columns, latest first.
    if (i > 0) {
      for (int j = i; j < n; ++j) {
        long double s = a[At(j, i)];
        for (int m = i - 1; m >= 0; --m) s -= a[At(j, m)] * a[At(i, m)];
        a[At(j, i)] = s;
      }
    }
    // A pivot that is not positive (or not a number) zeroes its column.
    if (!(a[At(i, i)] > 0)) {
      a[At(i, i)] = 0;
      ok = false;
    }
    const long double d = std::sqrt(a[At(i, i)]);
    for (int j = i; j < n; ++j) a[At(j, i)] = d != 0 ? a[At(j, i)] / d : 0;
  }
  return ok;
}

void CholeskySolve(int n, const PackedMatrix& l, ParameterValues& b) {
  if (n <= 0) return;
  auto divide = [&](int j) { b[j] = l[At(j, j)] != 0 ? b[j] / l[At(j, j)] : 0; };

  // Forward substitution: L y = b.
  divide(0);
  for (int j = 1; j < n; ++j) {
    for (int i = 0; i < j; ++i) b[j] -= l[At(j, i)] * b[i];
    divide(j);
  }
  // Back substitution, column by column: L^T x = y.
  divide(n - 1);
  for (int j = n - 1; j >= 1; --j) {
    for (int i = 0; i < j; ++i) b[i] -= b[j] * l[At(j, i)];
    divide(j - 1);
  }
}

}  // namespace lumora
