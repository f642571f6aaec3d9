// Key derivation over SM3 (the KDF of GB/T 32918 with the output length
// counted in bytes): out = SM3(Z || 00000001) || SM3(Z || 00000002) || ...
#ifndef ZENTHAL_SM3_KDF_H
#define ZENTHAL_SM3_KDF_H

#include <stdint.h>

#include "zenthal_export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Writes exactly `klen` bytes to `out` (nothing when klen is 0, and then `z`
// is not read). `z` is read once, before anything is written, so `out` may
// overlap it. Every klen up to 2^32 - 1 is served.
ZENTHAL_API void SM3_KDF(uint8_t *out, uint32_t klen, const uint8_t *z, uint32_t zlen);

#ifdef __cplusplus
}
#endif

#endif
