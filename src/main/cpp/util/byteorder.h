// Big-endian loads and stores and 32-bit rotations shared by the engines.
// memcpy plus a byte swap compiles to a single load/store and bswap (or movbe)
// and is free of alignment and aliasing traps.
//
// Static: every source that includes these keeps its own copies, so a form
// compiled for wider instructions never supplies the copy another source
// runs.
#ifndef ZENTHAL_UTIL_BYTEORDER_H
#define ZENTHAL_UTIL_BYTEORDER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zenthal {

static inline uint32_t bswap32(uint32_t x) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap32(x);
#else
    return (x >> 24) | ((x >> 8) & 0xff00u) | ((x << 8) & 0xff0000u) | (x << 24);
#endif
}

static inline bool host_is_little_endian() {
#if defined(__BYTE_ORDER__)
    return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
#else
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
#endif
}

static inline uint32_t load32_be(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return host_is_little_endian() ? bswap32(v) : v;
}

static inline void store32_be(uint8_t *p, uint32_t v) {
    if (host_is_little_endian()) v = bswap32(v);
    std::memcpy(p, &v, 4);
}

// Defined for every n, 0 included.
static inline uint32_t rotl32(uint32_t x, unsigned n) { return (x << (n & 31)) | (x >> ((32 - n) & 31)); }

static inline uint32_t rotr32(uint32_t x, unsigned n) { return (x >> (n & 31)) | (x << ((32 - n) & 31)); }

static inline uint64_t load64_be(const uint8_t *p) {
    return static_cast<uint64_t>(load32_be(p)) << 32 | load32_be(p + 4);
}

static inline void store64_be(uint8_t *p, uint64_t v) {
    store32_be(p, static_cast<uint32_t>(v >> 32));
    store32_be(p + 4, static_cast<uint32_t>(v));
}

// out = a ^ b over one 16-byte block, as one 16-byte load of each and one
// 16-byte store: the next step, which reads the block back whole, then
// takes it from the store in flight instead of waiting for sixteen byte
// stores to retire. out may be a or b.
static inline void xor_block(uint8_t *out, const uint8_t *a, const uint8_t *b) {
#if defined(__GNUC__) || defined(__clang__)
    typedef uint8_t Block __attribute__((vector_size(16)));
    Block x, y;
    std::memcpy(&x, a, 16);
    std::memcpy(&y, b, 16);
    x ^= y;
    std::memcpy(out, &x, 16);
#else
    uint8_t t[16];
    for (int j = 0; j < 16; ++j) t[j] = static_cast<uint8_t>(a[j] ^ b[j]);
    std::memcpy(out, t, 16);
#endif
}

// out = a ^ b over n bytes, a block at a time, then the rest. out may equal
// a or b, or lie before them (each block is read before it is written).
static inline void xor_bytes(uint8_t *out, const uint8_t *a, const uint8_t *b, std::size_t n) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) xor_block(out + i, a + i, b + i);
    for (; i < n; ++i) out[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

}  // namespace zenthal

#endif
