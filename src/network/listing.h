// Listings of the network's vectors and exchange matrix in the report file,
// in blocks of eight compartments.
#pragma once

#include "network/arrays.h"

namespace ecodyn {

// Lists entries 1..n of a vector; dimension is its capacity.
void vecprt(const Vector& vector, int n, int dimension);

// Lists rows and columns 1..n of a square matrix, row i under the heading of
// column j for entry (i,j); rows in blocks of 65, columns in blocks of 8.
void matprt(const Matrix& matrix, int n, int dimension);

}  // namespace ecodyn
