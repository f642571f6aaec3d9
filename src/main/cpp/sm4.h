// SM4 block cipher (GB/T 32907-2016): key schedule and single-block
// transforms. No function checks its arguments or fails.
#ifndef ZENTHAL_SM4_H
#define ZENTHAL_SM4_H

#include <stdint.h>

#include "zenthal_export.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SM4_BLOCK_SIZE 16
#define SM4_KEY_SIZE 16

// The 32 round keys rk[0..31] of encryption, as native integers. Decryption
// uses the same record in reverse order.
typedef struct SM4_round_keys {
    uint32_t rk[32];
} SM4_round_keys;

// Expands the 16-byte `key` into `rk`.
ZENTHAL_API void SM4_set_key(const uint8_t key[16], SM4_round_keys *rk);

// Enciphers one block; `in` and `out` may overlap in any way.
ZENTHAL_API void SM4_encrypt(const uint8_t in[16], uint8_t out[16], const SM4_round_keys *rk);

// Deciphers one block with the encryption record; `in` and `out` may overlap.
ZENTHAL_API void SM4_decrypt(const uint8_t in[16], uint8_t out[16], const SM4_round_keys *rk);

// One-shot: key schedule into a local record, then one block.
ZENTHAL_API void SM4_encrypt_block(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]);
ZENTHAL_API void SM4_decrypt_block(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]);

#ifdef __cplusplus
}
#endif

#endif
