// GHASH on VPCLMULQDQ and AVX2 (x86-64). Compiled with -mvpclmulqdq -mavx2
// -mpclmul -mssse3 and run only where the processor offers them (ghash.cpp
// chooses).
#include "ghash.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include "forms/ghash_x86_clmul.inc"
#include "util/wipe.h"

namespace zenthal {
namespace {

// The same on VPCLMULQDQ: two blocks per 256-bit register, eight blocks per
// reduction, X' = (X + B0)H^8 + B1 H^7 + ... + B7 H. A 256-bit carry-less
// multiply costs about what a 128-bit one does, so this halves the work
// that bounds the 128-bit form.
inline __m256i reverse_bits(__m256i v) {
    const __m256i lo_table =
        _mm256_setr_epi8(0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF, 0x0,
                         0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF);
    const __m256i hi_table = _mm256_slli_epi16(lo_table, 4);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i lo = _mm256_and_si256(v, nibble);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble);
    return _mm256_or_si256(_mm256_shuffle_epi8(hi_table, lo), _mm256_shuffle_epi8(lo_table, hi));
}

// Adds the products of two blocks (one per lane) by two keys into w.
inline void add_products(__m256i &lo, __m256i &mid, __m256i &hi, __m256i b, __m256i k) {
    lo = _mm256_xor_si256(lo, _mm256_clmulepi64_epi128(b, k, 0x00));
    hi = _mm256_xor_si256(hi, _mm256_clmulepi64_epi128(b, k, 0x11));
    mid = _mm256_xor_si256(
        mid, _mm256_xor_si256(_mm256_clmulepi64_epi128(b, k, 0x01), _mm256_clmulepi64_epi128(b, k, 0x10)));
}

inline __m256i load_pair(const uint8_t *p) {
    return reverse_bits(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)));
}

inline __m128i fold_lanes(__m256i v) {
    return _mm_xor_si128(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

}  // namespace

void ghash_vclmul(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks) {
    const __m128i h1 = load_block(h);
    __m128i acc = load_block(x);
    if (nblocks >= 16) {
        __m128i p[8];  // p[i] = H^(i+1)
        p[0] = h1;
        for (int i = 1; i < 8; ++i) p[i] = gf_mul(p[i - 1], h1);
        // Lane 0 takes the even block of a pair, lane 1 the odd one.
        const __m256i k01 = _mm256_setr_m128i(p[7], p[6]), k23 = _mm256_setr_m128i(p[5], p[4]);
        const __m256i k45 = _mm256_setr_m128i(p[3], p[2]), k67 = _mm256_setr_m128i(p[1], p[0]);
        for (; nblocks >= 8; nblocks -= 8, in += 128) {
            const __m256i b01 = _mm256_xor_si256(load_pair(in), _mm256_zextsi128_si256(acc));
            __m256i lo = _mm256_setzero_si256(), mid = lo, hi = lo;
            add_products(lo, mid, hi, b01, k01);
            add_products(lo, mid, hi, load_pair(in + 32), k23);
            add_products(lo, mid, hi, load_pair(in + 64), k45);
            add_products(lo, mid, hi, load_pair(in + 96), k67);
            acc = reduce({fold_lanes(lo), fold_lanes(mid), fold_lanes(hi)});
        }
        secure_wipe(p, sizeof p);
    }
    for (; nblocks > 0; --nblocks, in += 16) acc = gf_mul(_mm_xor_si128(acc, load_block(in)), h1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(x), reverse_bits(acc));
}

}  // namespace zenthal

#endif
