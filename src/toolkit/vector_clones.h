// ORVA_VECTOR_CLONES marks a function with long loops over pixels or
// transform lines. GCC on x86-64 then compiles it twice, for the baseline
// instruction set and for AVX2, and the program takes the AVX2 copy where the
// processor has it. Both copies do the same integer and IEEE double/float
// operations in the same order (no fused multiply-adds: the build forbids
// contraction), so they give the same numbers; only the vector width differs.
// Elsewhere the macro is empty, and so it is under the thread sanitizer,
// whose instrumented code cannot run in the resolver that picks the copy at
// load time.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define ORVA_VECTOR_CLONES [[gnu::target_clones("avx2", "default")]]
#else
#define ORVA_VECTOR_CLONES
#endif
