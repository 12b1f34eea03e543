// Hot loops are built twice on x86-64 Linux, for AVX2 and for the baseline,
// and the loader picks the one the processor runs; elsewhere the plain build
// serves. The files of the hot stages include this header first so that GCC
// vectorises their loops whatever the build's optimisation level.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && defined(__OPTIMIZE__)
#pragma GCC optimize("O3")
#endif

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define CZ_MP3_HOT __attribute__((target_clones("avx2", "default")))
#else
#define CZ_MP3_HOT
#endif
