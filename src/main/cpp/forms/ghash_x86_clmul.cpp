// GHASH on PCLMULQDQ and SSSE3 (x86-64): four blocks per reduction.
// Compiled with -mpclmul -mssse3 and run only where the processor offers
// them (ghash.cpp chooses).
#include "ghash.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include "forms/ghash_x86_clmul.inc"

namespace zenthal {

void ghash_clmul(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks) {
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

}  // namespace zenthal

#endif
