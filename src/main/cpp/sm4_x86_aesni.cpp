// The aesni-avx2 form of SM4: the S-box through AESENCLAST, on eight blocks
// per 256-bit register. Compiled with -mavx2 -maes and run only where the
// processor offers both.
#include "sm4_forms.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include "sm4_sbox_consts.h"

namespace {

template <int N>
inline __m128i rotl(__m128i x) { return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N)); }
template <int N>
inline __m256i rotl(__m256i x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, N), _mm256_srli_epi32(x, 32 - N));
}

inline __m128i table(const uint8_t *t) { return _mm_load_si128(reinterpret_cast<const __m128i *>(t)); }

// An affine map on every byte, as two nibble lookups in registers.
template <class R>
inline R affine(R x, const uint8_t *lo, const uint8_t *hi);

template <>
inline __m128i affine(__m128i x, const uint8_t *lo, const uint8_t *hi) {
    const __m128i m = _mm_set1_epi8(0x0F);
    return _mm_xor_si128(_mm_shuffle_epi8(table(lo), _mm_and_si128(x, m)),
                         _mm_shuffle_epi8(table(hi), _mm_and_si128(_mm_srli_epi16(x, 4), m)));
}

template <>
inline __m256i affine(__m256i x, const uint8_t *lo, const uint8_t *hi) {
    const __m256i m = _mm256_set1_epi8(0x0F);
    const __m256i l = _mm256_broadcastsi128_si256(table(lo)), h = _mm256_broadcastsi128_si256(table(hi));
    return _mm256_xor_si256(_mm256_shuffle_epi8(l, _mm256_and_si256(x, m)),
                            _mm256_shuffle_epi8(h, _mm256_and_si256(_mm256_srli_epi16(x, 4), m)));
}

// AESENCLAST applies ShiftRows after SubBytes; the bytes are moved by the
// inverse permutation first, so that every byte comes back to its place.
inline __m128i idx_inv_shift_rows() {
    return _mm_setr_epi8(0, 13, 10, 7, 4, 1, 14, 11, 8, 5, 2, 15, 12, 9, 6, 3);
}

using zenthal::SM4_AESNI_IN_HI;
using zenthal::SM4_AESNI_IN_LO;
using zenthal::SM4_AESNI_OUT_HI;
using zenthal::SM4_AESNI_OUT_LO;

inline __m128i sbox(__m128i x) {
    x = affine(_mm_shuffle_epi8(x, idx_inv_shift_rows()), SM4_AESNI_IN_LO, SM4_AESNI_IN_HI);
    x = _mm_aesenclast_si128(x, _mm_setzero_si128());
    return affine(x, SM4_AESNI_OUT_LO, SM4_AESNI_OUT_HI);
}

inline __m256i sbox(__m256i x) {
    x = _mm256_shuffle_epi8(x, _mm256_broadcastsi128_si256(idx_inv_shift_rows()));
    x = affine(x, SM4_AESNI_IN_LO, SM4_AESNI_IN_HI);
    const __m128i lo = _mm_aesenclast_si128(_mm256_castsi256_si128(x), _mm_setzero_si128());
    const __m128i hi = _mm_aesenclast_si128(_mm256_extracti128_si256(x, 1), _mm_setzero_si128());
    return affine(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), SM4_AESNI_OUT_LO,
                  SM4_AESNI_OUT_HI);
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
extern const Sm4Form SM4_FORM_AESNI_AVX2 = {"aesni-avx2", schedule, blocks, pair};
}

#endif
