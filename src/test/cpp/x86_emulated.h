// Put ahead of a GFNI form's own source (-include) when the tests build that
// source a second time, with AVX2 as its only wider instruction set: every
// intrinsic the processor may lack (GFNI, AVX-512) becomes SIMDe's portable
// version of it, written in AVX2. The form's code then runs on any x86-64
// processor with AVX2, and under valgrind, which runs neither GFNI nor
// AVX-512. Never part of the library.
//
// Built with AVX2, SIMDe inverts in the field through pshufb over its whole
// table and multiplies by the affine matrices with shifts and masks: no
// branch on the data and no address computed from it. With SSSE3 alone its
// field inversion indexes a byte table by the data instead, which the
// constant-time check must then report.
#ifndef ZENTHAL_TEST_X86_EMULATED_H
#define ZENTHAL_TEST_X86_EMULATED_H

#if !defined(__AVX2__) || defined(__GFNI__) || defined(__AVX512F__)
#error "the emulated forms are built with AVX2 and neither GFNI nor AVX-512"
#endif

// Opens the forms' 512-bit code, which the compiler's __AVX512F__ would
// gate (defining that by hand breaks GCC's headers), and gives each form's
// record a name and symbol of its own.
#define ZENTHAL_X86_EMULATED 1

#include <immintrin.h>

#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>
#include <simde/x86/gfni.h>

#endif
