// SM3 message digest (GB/T 32905-2016): streaming context, compression
// function and one-shot hash. No function checks its arguments or fails.
#ifndef ZENTHAL_SM3_H
#define ZENTHAL_SM3_H

#include <stdint.h>

#include "zenthal_export.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SM3_DIGEST_LENGTH 32
#define SM3_BLOCK_SIZE 64

// Caller-owned hashing context; its layout is part of the interface.
// The bytes waiting in `block` number (bit_count_lo >> 3) % 64.
typedef struct SM3_context {
    uint32_t bit_count_lo;  // low word of the 64-bit count of bits absorbed
    uint32_t bit_count_hi;  // high word of that count
    uint8_t block[64];      // partial message block, 0..63 bytes in use
    uint32_t state[8];      // chaining value A..H as native integers
} SM3_context;

// Starts a new message: zero bit count, state = IV.
ZENTHAL_API void SM3_Init(SM3_context *ctx);

// Absorbs the `len` bytes at `in`; `in` is not read when `len` is 0.
ZENTHAL_API void SM3_Update(SM3_context *ctx, const uint8_t *in, uint32_t len);

// Pads and finishes the message, writes the first min(digest_len, 32) digest
// bytes to `out` and nothing beyond them, then zeroes the whole context.
ZENTHAL_API void SM3_Final(SM3_context *ctx, uint8_t *out, uint32_t digest_len);

// One compression: state <- CF(state, block). `block` is left unchanged.
ZENTHAL_API void SM3_Transform(const uint8_t block[64], uint32_t state[8]);

// Writes the 32-byte digest of the `len` bytes at `in` to `out`.
ZENTHAL_API void SM3_hash(uint8_t out[32], const uint8_t *in, uint32_t len);

#ifdef __cplusplus
}
#endif

#endif
