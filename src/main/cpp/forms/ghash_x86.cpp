// GHASH on PCLMULQDQ (x86-64). Compiled with a target attribute, chosen at
// run time only where CPUID reports PCLMULQDQ and SSSE3.
//
// GCM numbers the bits of a byte from the top; the carry-less multiplier
// numbers them from the bottom. Reversing the bits of every byte (PSHUFB on
// nibbles, no memory lookup) turns a block loaded little-endian into the
// plain polynomial with bit k the coefficient of x^k, so the product is an
// ordinary carry-less multiplication, reduced with x^128 = x^7 + x^2 + x + 1
// (0x87). X and H stay in that order across the blocks of one call.
#include "ghash.h"

#include "util/cpu.h"
#include "util/wipe.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>

namespace zenthal {
namespace {

#define ZENTHAL_CLMUL __attribute__((target("pclmul,ssse3,sse2")))

ZENTHAL_CLMUL inline __m128i reverse_bits(__m128i v) {
    const __m128i lo_table =
        _mm_setr_epi8(0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE, 0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF);
    const __m128i hi_table = _mm_slli_epi16(lo_table, 4);
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i lo = _mm_and_si128(v, nibble);
    const __m128i hi = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
    return _mm_or_si128(_mm_shuffle_epi8(hi_table, lo), _mm_shuffle_epi8(lo_table, hi));
}

// The 256-bit carry-less product of two 128-bit polynomials, kept as its
// low, middle and high parts so that several products add up before one
// reduction.
struct Wide {
    __m128i lo, mid, hi;
};

ZENTHAL_CLMUL inline Wide product(__m128i a, __m128i b) {
    return {_mm_clmulepi64_si128(a, b, 0x00),
            _mm_xor_si128(_mm_clmulepi64_si128(a, b, 0x01), _mm_clmulepi64_si128(a, b, 0x10)),
            _mm_clmulepi64_si128(a, b, 0x11)};
}

ZENTHAL_CLMUL inline void add(Wide &w, const Wide &v) {
    w.lo = _mm_xor_si128(w.lo, v.lo);
    w.mid = _mm_xor_si128(w.mid, v.mid);
    w.hi = _mm_xor_si128(w.hi, v.hi);
}

// w mod x^128 + x^7 + x^2 + x + 1.
ZENTHAL_CLMUL inline __m128i reduce(const Wide &w) {
    const __m128i p_lo = _mm_xor_si128(w.lo, _mm_slli_si128(w.mid, 8));
    const __m128i p_hi = _mm_xor_si128(w.hi, _mm_srli_si128(w.mid, 8));
    // p_hi * x^128 = p_hi * 0x87: the high word's product spills at most 7
    // bits past x^128, which fold once more.
    const __m128i r = _mm_set_epi64x(0, 0x87);
    const __m128i t = _mm_clmulepi64_si128(p_hi, r, 0x01);
    const __m128i u = _mm_clmulepi64_si128(p_hi, r, 0x00);
    const __m128i v = _mm_clmulepi64_si128(t, r, 0x01);
    return _mm_xor_si128(_mm_xor_si128(p_lo, u), _mm_xor_si128(_mm_slli_si128(t, 8), v));
}

ZENTHAL_CLMUL inline __m128i gf_mul(__m128i a, __m128i b) { return reduce(product(a, b)); }

ZENTHAL_CLMUL inline __m128i load_block(const uint8_t *p) {
    return reverse_bits(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

ZENTHAL_CLMUL void ghash_clmul(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks) {
    const __m128i h1 = load_block(h);
    __m128i acc = load_block(x);
    if (nblocks >= 8) {
        // Four blocks at a time, one reduction for all four:
        // X' = (X + B0) H^4 + B1 H^3 + B2 H^2 + B3 H.
        const __m128i h2 = gf_mul(h1, h1), h3 = gf_mul(h2, h1), h4 = gf_mul(h3, h1);
        for (; nblocks >= 4; nblocks -= 4, in += 64) {
            Wide w = product(_mm_xor_si128(acc, load_block(in)), h4);
            add(w, product(load_block(in + 16), h3));
            add(w, product(load_block(in + 32), h2));
            add(w, product(load_block(in + 48), h1));
            acc = reduce(w);
        }
    }
    for (; nblocks > 0; --nblocks, in += 16) acc = gf_mul(_mm_xor_si128(acc, load_block(in)), h1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(x), reverse_bits(acc));
}

// The same on VPCLMULQDQ: two blocks per 256-bit register, eight blocks per
// reduction, X' = (X + B0)H^8 + B1 H^7 + ... + B7 H. A 256-bit carry-less
// multiply costs about what a 128-bit one does, so this halves the work
// that bounds the 128-bit form.
#define ZENTHAL_VCLMUL __attribute__((target("vpclmulqdq,avx2,pclmul,ssse3,sse2")))

ZENTHAL_VCLMUL inline __m256i reverse_bits(__m256i v) {
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
ZENTHAL_VCLMUL inline void add_products(__m256i &lo, __m256i &mid, __m256i &hi, __m256i b, __m256i k) {
    lo = _mm256_xor_si256(lo, _mm256_clmulepi64_epi128(b, k, 0x00));
    hi = _mm256_xor_si256(hi, _mm256_clmulepi64_epi128(b, k, 0x11));
    mid = _mm256_xor_si256(
        mid, _mm256_xor_si256(_mm256_clmulepi64_epi128(b, k, 0x01), _mm256_clmulepi64_epi128(b, k, 0x10)));
}

ZENTHAL_VCLMUL inline __m256i load_pair(const uint8_t *p) {
    return reverse_bits(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)));
}

ZENTHAL_VCLMUL inline __m128i fold_lanes(__m256i v) {
    return _mm_xor_si128(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

ZENTHAL_VCLMUL void ghash_vclmul(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks) {
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

#undef ZENTHAL_VCLMUL
#undef ZENTHAL_CLMUL

}  // namespace

GhashFn ghash_vclmul_form() {
    const CpuFeatures &c = cpu_features();
    return c.avx2 && c.pclmulqdq && c.ssse3 && c.vpclmulqdq ? ghash_vclmul : nullptr;
}

GhashFn ghash_clmul_form() {
    const CpuFeatures &c = cpu_features();
    return c.pclmulqdq && c.ssse3 ? ghash_clmul : nullptr;
}

}  // namespace zenthal

#else

namespace zenthal {
GhashFn ghash_vclmul_form() { return nullptr; }
GhashFn ghash_clmul_form() { return nullptr; }
}  // namespace zenthal

#endif
