// Constant-time helpers: masks for decisions on secret values, equality of
// secret bytes, and the PKCS#7 judgement. A mask is all ones for true and
// zero for false; code that uses one never branches on it or indexes memory
// with it. Internal to the library.
//
// Static: every source that includes these keeps its own copies, so a form
// compiled for wider instructions never supplies the copy another source
// runs.
#ifndef ZENTHAL_UTIL_CT_H
#define ZENTHAL_UTIL_CT_H

#include <cstddef>
#include <cstdint>

namespace zenthal {

// Value barrier: the optimiser must treat the result as unknown, so it cannot
// turn a mask back into a branch, nor re-associate a sum or XOR into a chain
// that puts the late operand first. Emits no instruction.
static inline uint32_t opaque32(uint32_t v) {
#if defined(__GNUC__) || defined(__clang__)
    __asm__("" : "+r"(v));
#endif
    return v;
}

static inline uint64_t opaque64(uint64_t v) {
#if defined(__GNUC__) || defined(__clang__)
    __asm__("" : "+r"(v));
#endif
    return v;
}

// bit (0 or 1) as a mask.
static inline uint32_t ct_mask(uint32_t bit) { return opaque32(0u - bit); }
static inline uint64_t ct_mask64(uint64_t bit) { return opaque64(0u - bit); }

static inline uint32_t ct_mask_zero(uint32_t x) { return ct_mask((~x & (x - 1)) >> 31); }
static inline uint32_t ct_mask_nonzero(uint32_t x) { return ct_mask((x | (0u - x)) >> 31); }

// a < b, for |a - b| < 2^31.
static inline uint32_t ct_mask_lt(int32_t a, int32_t b) {
    return ct_mask(static_cast<uint32_t>(a - b) >> 31);
}

static inline int32_t ct_select(uint32_t mask, int32_t yes, int32_t no) {
    return static_cast<int32_t>((static_cast<uint32_t>(yes) & mask) | (static_cast<uint32_t>(no) & ~mask));
}

// All ones when the n bytes at a and b are equal; every byte is read.
static inline uint32_t ct_equal(const uint8_t *a, const uint8_t *b, std::size_t n) {
    uint32_t diff = 0;
    for (std::size_t j = 0; j < n; ++j) diff |= static_cast<uint32_t>(a[j] ^ b[j]);
    return ct_mask_zero(diff);
}

// PKCS#7 check of a deciphered last block: the pad length 1..16, or 0 when
// the padding is not valid. All 16 bytes are read whatever the pad says.
static inline uint32_t ct_pkcs7_length(const uint8_t block[16]) {
    const uint32_t p = block[15];
    // 1 <= p <= 16, and every one of the last p bytes equals p.
    uint32_t bad = ct_mask_zero(p) | ct_mask_nonzero((16 - p) >> 31 & 1u);
    for (uint32_t j = 0; j < 16; ++j) {
        // j >= 16 - p: the byte belongs to the padding.
        const uint32_t in_pad = ct_mask_nonzero((j + p) >> 4);
        bad |= in_pad & ct_mask_nonzero(block[j] ^ p);
    }
    return p & ~bad;
}

}  // namespace zenthal

#endif
