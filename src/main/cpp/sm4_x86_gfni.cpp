// The gfni-avx2 form of SM4: the S-box as two GF(2^8) affine instructions,
// on eight blocks per 256-bit register. Compiled with -mavx2 -mgfni and run
// only where the processor offers both.
#include "sm4_forms.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include "sm4_x86_gfni.h"

namespace {

template <int N>
inline __m128i rotl(__m128i x) { return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N)); }
template <int N>
inline __m256i rotl(__m256i x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, N), _mm256_srli_epi32(x, 32 - N));
}

}  // namespace

#include "sm4_x86_body.h"

namespace {

void blocks(const uint32_t rk[32], const uint8_t *in, uint8_t *out, std::size_t n, bool decrypt) {
    crypt_blocks<__m256i>(rk, in, out, n, decrypt);
}

void pair(const zenthal::Sm4Lanes *lanes, uint8_t a[16], uint8_t b[16]) { crypt_pair(lanes, a, b); }

void schedule(const uint8_t key[16], SM4_round_keys *rk) { set_key(key, rk); }

}  // namespace

namespace zenthal {
extern const Sm4Form SM4_FORM_GFNI_AVX2 = {"gfni-avx2", schedule, blocks, pair, nullptr};
}

#endif
