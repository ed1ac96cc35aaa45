#include "base/checked.h"

namespace lumora::fp::detail {

void RaiseDoubleFault(long double v, double d) {
  Check(v);
  if (std::isinf(d)) throw OverflowError();
  throw InvalidOpError();  // unreachable: a finite v stores a finite or infinite d
}

long double DivFault(long double a, long double b, long double q) {
  if (std::isnan(a) || std::isnan(b)) throw InvalidOpError();
  if (b == 0) {
    if (a == 0) throw InvalidOpError();
    throw ZeroDivideError();
  }
  return Check(q);
}

long double ExpFault(long double v, long double r) {
  if (std::isnan(v)) throw InvalidOpError();
  return Check(r);
}

long double CheckCold(long double v) { return Check(v); }

}  // namespace lumora::fp::detail
