// Cholesky factorisation and solve of a packed symmetric matrix, in place,
// never failing outright: a non-positive pivot clears ok and zeroes its
// column of the factor, and a zero diagonal yields a zero component.
#pragma once

#include "lsq/marqdef.h"

namespace lumora {

void CholeskyDecompose(int n, symmatrix& a, bool& ok);
void CholeskySolve(int n, const symmatrix& l, vector& b);

}  // namespace lumora
