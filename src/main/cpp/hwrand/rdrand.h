// Hardware random source: RDRAND detection with a process-wide cache,
// bounded-retry word draws and a byte fill.
#ifndef ZENTHAL_RDRAND_H
#define ZENTHAL_RDRAND_H

#include <stdint.h>

#include "../zenthal_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Result codes.
#define DRNG_OK 1
#define DRNG_NOT_READY (-1)  // no value delivered on any attempt of one draw
#define DRNG_NO_RDRAND (-3)  // no usable RDRAND; the instruction was not executed

// States of rdrand_support_cache besides DRNG_NO_RDRAND.
#define DRNG_SUPPORTED (-2)
#define DRNG_SUPPORT_UNPROBED (-4)

// Settled once per process by the first support check; -4 until then.
ZENTHAL_API extern int rdrand_support_cache;

// 1 if the processor is GenuineIntel and reports RDRAND, else 0; probes on every call.
ZENTHAL_API int RdRand_cpuid(void);

// 1 if RDRAND is available, else 0; probes at most once and caches the answer.
ZENTHAL_API int RdRand_isSupported(void);

// One word: up to 10 attempts when `retry` is non-zero, 1 when it is 0.
// Every attempt stores into *x; -3 leaves *x unwritten.
ZENTHAL_API int rdrand_16(uint16_t *x, int retry);
ZENTHAL_API int rdrand_32(uint32_t *x, int retry);
ZENTHAL_API int rdrand_64(uint64_t *x, int retry);

// `n` words into dest[0..n-1] in ascending order; stops at the first failing draw.
ZENTHAL_API int rdrand_get_n_64(uint32_t n, uint64_t *dest);
ZENTHAL_API int rdrand_get_n_32(uint32_t n, uint32_t *dest);

// Fills dest[0..n-1] with random bytes and writes nothing outside them.
ZENTHAL_API int rdrand_get_bytes(uint32_t n, unsigned char *dest);

#ifdef __cplusplus
}
#endif

#endif
