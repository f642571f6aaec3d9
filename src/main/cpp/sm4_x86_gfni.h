// The SM4 S-box through GFNI for the x86-64 forms that have it: an affine
// map into the AES field, then inversion with the affine map out, on every
// byte of the register. Included inside an anonymous namespace by sources
// compiled with -mgfni.
#ifndef ZENTHAL_SM4_X86_GFNI_H
#define ZENTHAL_SM4_X86_GFNI_H

#include <immintrin.h>

#include "sm4_sbox_consts.h"

namespace {

using zenthal::SM4_GFNI_POST;
using zenthal::SM4_GFNI_POST_C;
using zenthal::SM4_GFNI_PRE;
using zenthal::SM4_GFNI_PRE_C;

inline __m128i sbox(__m128i x) {
    x = _mm_gf2p8affine_epi64_epi8(x, _mm_set1_epi64x(static_cast<long long>(SM4_GFNI_PRE)), SM4_GFNI_PRE_C);
    return _mm_gf2p8affineinv_epi64_epi8(x, _mm_set1_epi64x(static_cast<long long>(SM4_GFNI_POST)),
                                         SM4_GFNI_POST_C);
}

inline __m256i sbox(__m256i x) {
    x = _mm256_gf2p8affine_epi64_epi8(x, _mm256_set1_epi64x(static_cast<long long>(SM4_GFNI_PRE)),
                                      SM4_GFNI_PRE_C);
    return _mm256_gf2p8affineinv_epi64_epi8(x, _mm256_set1_epi64x(static_cast<long long>(SM4_GFNI_POST)),
                                            SM4_GFNI_POST_C);
}

#ifdef __AVX512F__
inline __m512i sbox(__m512i x) {
    x = _mm512_gf2p8affine_epi64_epi8(x, _mm512_set1_epi64(static_cast<long long>(SM4_GFNI_PRE)),
                                      SM4_GFNI_PRE_C);
    return _mm512_gf2p8affineinv_epi64_epi8(x, _mm512_set1_epi64(static_cast<long long>(SM4_GFNI_POST)),
                                            SM4_GFNI_POST_C);
}
#endif

}  // namespace

#endif
