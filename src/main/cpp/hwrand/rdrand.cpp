// RDRAND detection, bounded-retry word draws and the byte fill.
// The processor is reached only through the seam of rdrand_cpu.h.
#include "rdrand.h"

#include <stddef.h>
#include <stdint.h>

#include "rdrand_cpu.h"

// A plain int so the C header stays C; every access below is a relaxed
// atomic load or store, which is all the sharing it needs: concurrent
// first probes store the same answer.
int rdrand_support_cache = DRNG_SUPPORT_UNPROBED;

namespace {

const int kRetryAttempts = 10;
const uint32_t kLeaf1EcxRdrand = 1u << 30;

// CPUID hands the vendor string out in register-sized pieces, each in
// memory (little-endian) byte order.
constexpr uint32_t vendor_piece(const char s[4]) {
    return (uint32_t)(unsigned char)s[0] | (uint32_t)(unsigned char)s[1] << 8 |
           (uint32_t)(unsigned char)s[2] << 16 | (uint32_t)(unsigned char)s[3] << 24;
}

inline int rdrand_attempt(uint16_t *x) { return hwrand_rdrand16(x); }
inline int rdrand_attempt(uint32_t *x) { return hwrand_rdrand32(x); }
inline int rdrand_attempt(uint64_t *x) { return hwrand_rdrand64(x); }

template <typename Word>
int draw_word(Word *x, int retry) {
    if (!RdRand_isSupported()) return DRNG_NO_RDRAND;
    const int attempts = retry ? kRetryAttempts : 1;
    for (int i = 0; i < attempts; ++i) {
        if (rdrand_attempt(x)) return DRNG_OK;
    }
    return DRNG_NOT_READY;
}

template <typename Word>
int draw_words(uint32_t n, Word *dest) {
    for (uint32_t i = 0; i < n; ++i) {
        const int success = draw_word(&dest[i], 1);
        if (success != DRNG_OK) return success;
    }
    return DRNG_OK;
}

// Head and tail bytes take the word's low bytes, lowest address first;
// the high bytes left over are discarded.
void store_low_bytes(unsigned char *p, uint64_t word, uint32_t len) {
    for (uint32_t i = 0; i < len; ++i) {
        p[i] = (unsigned char)word;
        word >>= 8;
    }
}

}  // namespace

int RdRand_cpuid(void) {
    uint32_t regs[4];  // EAX, EBX, ECX, EDX

    hwrand_cpuid(0, regs);
    if (regs[1] != vendor_piece("Genu") || regs[3] != vendor_piece("ineI") || regs[2] != vendor_piece("ntel"))
        return 0;
    hwrand_cpuid(1, regs);
    return (regs[2] & kLeaf1EcxRdrand) != 0;
}

int RdRand_isSupported(void) {
    const int state = __atomic_load_n(&rdrand_support_cache, __ATOMIC_RELAXED);
    if (state != DRNG_SUPPORT_UNPROBED) return state == DRNG_SUPPORTED;

    const int supported = RdRand_cpuid();
    __atomic_store_n(&rdrand_support_cache, supported ? DRNG_SUPPORTED : DRNG_NO_RDRAND, __ATOMIC_RELAXED);
    return supported;
}

int rdrand_16(uint16_t *x, int retry) { return draw_word(x, retry); }
int rdrand_32(uint32_t *x, int retry) { return draw_word(x, retry); }
int rdrand_64(uint64_t *x, int retry) { return draw_word(x, retry); }

int rdrand_get_n_64(uint32_t n, uint64_t *dest) { return draw_words(n, dest); }
int rdrand_get_n_32(uint32_t n, uint32_t *dest) { return draw_words(n, dest); }

int rdrand_get_bytes(uint32_t n, unsigned char *dest) {
    const uint32_t misalign = (uint32_t)((uintptr_t)dest & 7u);
    uint32_t startlen = misalign ? 8u - misalign : 0u;
    uint64_t temprand;
    int success;

    // A request that ends before the first word boundary is all head:
    // one draw, or none when it is empty.
    if (startlen > n) startlen = n;

    if (startlen > 0) {
        success = rdrand_64(&temprand, 1);
        if (success != DRNG_OK) return success;
        store_low_bytes(dest, temprand, startlen);
    }

    const uint32_t length = n - startlen;
    const uint32_t count = length / 8;
    const uint32_t residual = length % 8;
    unsigned char *const blockstart = dest + startlen;

    if (count > 0) {
        // Only reached when the head ran up to the word boundary, so the
        // words land on 8-byte boundaries, straight into the buffer.
        success = rdrand_get_n_64(count, reinterpret_cast<uint64_t *>(blockstart));
        if (success != DRNG_OK) return success;
    }

    if (residual == 0) return DRNG_OK;
    success = rdrand_64(&temprand, 1);
    if (success != DRNG_OK) return success;
    store_low_bytes(blockstart + (size_t)count * 8u, temprand, residual);
    return DRNG_OK;
}
