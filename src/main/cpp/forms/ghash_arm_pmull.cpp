// GHASH on PMULL (aarch64). Compiled with the crypto extension enabled and
// run only where the kernel reports PMULL (ghash.cpp chooses). The same plain-order method as the x86 form:
// RBIT reverses the bits of every byte, so a block loaded little-endian is the polynomial with bit k the
// coefficient of x^k; PMULL multiplies, and x^128 = 0x87 reduces.
#include "ghash.h"

#if defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
#include <arm_neon.h>

namespace zenthal {
namespace {

inline poly128_t mul64(uint64x2_t a, int ia, uint64x2_t b, int ib) {
    return vmull_p64(static_cast<poly64_t>(ia ? vgetq_lane_u64(a, 1) : vgetq_lane_u64(a, 0)),
                     static_cast<poly64_t>(ib ? vgetq_lane_u64(b, 1) : vgetq_lane_u64(b, 0)));
}

inline uint64x2_t as_u64(poly128_t p) { return vreinterpretq_u64_p128(p); }

// a * b mod x^128 + x^7 + x^2 + x + 1, plain bit order (lane 0 low).
inline uint64x2_t gf_mul(uint64x2_t a, uint64x2_t b) {
    const uint64x2_t zero = vdupq_n_u64(0);
    const uint64x2_t lo = as_u64(mul64(a, 0, b, 0));
    const uint64x2_t hi = as_u64(mul64(a, 1, b, 1));
    const uint64x2_t mid = veorq_u64(as_u64(mul64(a, 1, b, 0)), as_u64(mul64(a, 0, b, 1)));
    const uint64x2_t p_lo = veorq_u64(lo, vextq_u64(zero, mid, 1));  // mid << 64
    const uint64x2_t p_hi = veorq_u64(hi, vextq_u64(mid, zero, 1));  // mid >> 64
    const uint64x2_t r = vsetq_lane_u64(0x87, zero, 0);
    const uint64x2_t t = as_u64(mul64(p_hi, 1, r, 0));
    const uint64x2_t u = as_u64(mul64(p_hi, 0, r, 0));
    const uint64x2_t v = as_u64(mul64(t, 1, r, 0));
    return veorq_u64(veorq_u64(p_lo, u), veorq_u64(vextq_u64(zero, t, 1), v));
}

inline uint64x2_t load_reversed(const uint8_t *p) { return vreinterpretq_u64_u8(vrbitq_u8(vld1q_u8(p))); }

}  // namespace

void ghash_pmull(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks) {
    const uint64x2_t hk = load_reversed(h);
    uint64x2_t acc = load_reversed(x);
    for (std::size_t b = 0; b < nblocks; ++b) {
        acc = gf_mul(veorq_u64(acc, load_reversed(in + 16 * b)), hk);
    }
    vst1q_u8(x, vrbitq_u8(vreinterpretq_u8_u64(acc)));
}

}  // namespace zenthal

#endif
