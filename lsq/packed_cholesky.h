// Cholesky factorisation and solve of a packed symmetric matrix, in place,
// never failing outright: a non-positive pivot makes the factorisation
// report false and zeroes its column of the factor, and a zero diagonal
// yields a zero component.
#pragma once

#include "lsq/lsq_types.h"

namespace lumora {

// Factorises the leading n x n block of a into its lower factor; false when a
// pivot was not positive.
bool CholeskyDecompose(int n, PackedMatrix& a);
// Solves L L^T x = b in place with the factor from CholeskyDecompose; b
// holds at least n values.
void CholeskySolve(int n, const PackedMatrix& l, ParameterValues& b);

}  // namespace lumora
