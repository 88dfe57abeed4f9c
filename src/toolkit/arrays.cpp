// Failure paths of the typed allocators and the transposed square product.
#include "toolkit/arrays.h"

#include <cerrno>
#include <cstdio>

#include "toolkit/errmsg.h"
#include "toolkit/program_end.h"

namespace orva {

void allocation_failed(const char* kind) {
    errno = ENOMEM;
    errmsg(ERR_ALLOCATE, kind, " ", 0);
    end_program(ERR_ALLOCATE);
}

void bad_count(const char* allocator, long n, long m) {
    std::fprintf(stderr, "\n%s: invalid size %ld x %ld\n", allocator, n, m);
    end_program(ERR_ALLOCATE);
}

void multmatsqT(int M, Matrix<double>& a, const Matrix<double>& b, const Matrix<double>& c) {
    for (int i = 0; i < M; i++) {
        for (int j = 0; j < M; j++) {
            a[i][j] = 0.0;
            for (int n = 0; n < M; n++) a[i][j] += b[i][n] * c[j][n];
        }
    }
}

}  // namespace orva
