// Big-endian loads and stores and 32-bit rotations shared by the engines.
// memcpy plus a byte swap compiles to a single load/store and bswap (or movbe)
// and is free of alignment and aliasing traps.
#ifndef ZENTHAL_BYTEORDER_H
#define ZENTHAL_BYTEORDER_H

#include <cstdint>
#include <cstring>

namespace zenthal {

inline uint32_t bswap32(uint32_t x) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap32(x);
#else
    return (x >> 24) | ((x >> 8) & 0xff00u) | ((x << 8) & 0xff0000u) | (x << 24);
#endif
}

inline bool host_is_little_endian() {
#if defined(__BYTE_ORDER__)
    return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
#else
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first == 1;
#endif
}

inline uint32_t load32_be(const uint8_t *p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return host_is_little_endian() ? bswap32(v) : v;
}

inline void store32_be(uint8_t *p, uint32_t v) {
    if (host_is_little_endian()) v = bswap32(v);
    std::memcpy(p, &v, 4);
}

// Defined for every n, 0 included.
inline uint32_t rotl32(uint32_t x, unsigned n) {
    return (x << (n & 31)) | (x >> ((32 - n) & 31));
}

inline uint32_t rotr32(uint32_t x, unsigned n) {
    return (x >> (n & 31)) | (x << ((32 - n) & 31));
}

// Value barrier: the optimiser must treat the result as unknown, so a sum or
// XOR is evaluated in the order written instead of being re-associated into
// a chain that puts the late operand first. Emits no instruction.
inline uint32_t opaque32(uint32_t v) {
#if defined(__GNUC__) || defined(__clang__)
    __asm__("" : "+r"(v));
#endif
    return v;
}

// A wipe the optimiser may not drop even when the memory dies right after.
inline void secure_wipe(void *p, std::size_t n) {
    std::memset(p, 0, n);
#if defined(__GNUC__) || defined(__clang__)
    __asm__ __volatile__("" : : "r"(p) : "memory");
#endif
}

}  // namespace zenthal

#endif
