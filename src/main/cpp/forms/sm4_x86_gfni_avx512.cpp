// The gfni-avx512 form of SM4: the GFNI S-box on sixteen blocks per 512-bit
// register, and the linear transform with single-instruction rotations and
// three-way XORs. Compiled with -mavx512f -mavx512bw -mavx512vl -mgfni and
// run only where the processor and the OS offer all of them.
#include "forms/sm4_forms.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

// GCC 12's AVX-512 headers start several intrinsics from a deliberately
// undefined register and then warn about it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include "forms/sm4_x86_gfni_sbox.inc"

namespace {

template <int N>
inline __m128i rotl(__m128i x) {
    return _mm_rol_epi32(x, N);
}
template <int N>
inline __m256i rotl(__m256i x) {
    return _mm256_rol_epi32(x, N);
}
template <int N>
inline __m512i rotl(__m512i x) {
    return _mm512_rol_epi32(x, N);
}

inline __m128i ternlog_xor3(__m128i a, __m128i b, __m128i c) { return _mm_ternarylogic_epi32(a, b, c, 0x96); }
inline __m256i ternlog_xor3(__m256i a, __m256i b, __m256i c) {
    return _mm256_ternarylogic_epi32(a, b, c, 0x96);
}
inline __m512i ternlog_xor3(__m512i a, __m512i b, __m512i c) {
    return _mm512_ternarylogic_epi32(a, b, c, 0x96);
}
#define SM4_X86_TERNLOG 1

}  // namespace

#include "forms/sm4_x86_rounds.inc"
#include "forms/sm4_x86_gfni_serial.inc"

// The tests build this source a second time over an emulation of GFNI and
// AVX-512 (ZENTHAL_X86_EMULATED), linked beside the real form: that record
// has a name and symbol of its own.
namespace zenthal {
#if defined(ZENTHAL_X86_EMULATED)
extern const Sm4Form SM4_FORM_GFNI_AVX512_EMULATED = {"gfni-avx512-emulated",
#else
extern const Sm4Form SM4_FORM_GFNI_AVX512 = {"gfni-avx512",
#endif
                                                      set_key,
                                                      gfni_blocks<__m512i>,
                                                      gfni_pair,
                                                      gfni_prepare,
                                                      gfni_chain};
}  // namespace zenthal

#endif
