// Big-endian loads and stores and 32-bit rotations shared by the engines.
// memcpy plus a byte swap compiles to a single load/store and bswap (or movbe)
// and is free of alignment and aliasing traps.
//
// Static: every source that includes these keeps its own copies, so a form
// compiled for wider instructions never supplies the copy another source
// runs.
#ifndef ZENTHAL_UTIL_BYTEORDER_H
#define ZENTHAL_UTIL_BYTEORDER_H

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

}  // namespace zenthal

#endif
