// GHASH, the universal hash of GCM: X <- (X ^ B) * H in GF(2^128) for each
// 16-byte block B, with X, H and B in GCM's own bit order (the first bit of
// byte 0 is the coefficient of x^0). Internal to the library.
//
// Four forms with one signature: a portable one (shifts and masks, no table
// and no branch on the data), two for x86-64 (PCLMULQDQ, and VPCLMULQDQ on
// 256-bit registers) and one on PMULL for aarch64. The first call picks the
// fastest the processor offers.
#ifndef ZENTHAL_GHASH_H
#define ZENTHAL_GHASH_H

#include <cstddef>
#include <cstdint>

namespace zenthal {

using GhashFn = void (*)(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks);

// The form this processor runs.
void ghash_blocks(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks);

// Each form by name, for the tests; a form is null where it is not built or
// the processor lacks its instructions.
void ghash_portable(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks);
GhashFn ghash_vclmul_form();  // x86-64 with VPCLMULQDQ and AVX2
GhashFn ghash_clmul_form();   // x86-64 with PCLMULQDQ and SSSE3
GhashFn ghash_pmull_form();   // aarch64 with PMULL

// The forms themselves, each built for its own instructions; call only
// through the choices above.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
void ghash_clmul(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks);
void ghash_vclmul(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks);
#endif
#if defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
void ghash_pmull(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks);
#endif

}  // namespace zenthal

#endif
