// SM4 in the block modes the JCA provider offers (ECB, CBC, CTR; GCM is in
// sm4_gcm.h, on the CTR steps here), as streaming steps over caller-held state: the Java side keeps every
// record here in its own arrays and the bridge copies it in and out around each call, so nothing outlives a
// call. Internal to the library.
//
// Many-block work goes through sm4_crypt_blocks, in batches of kBatchBlocks
// on the stack; only CBC encryption, a chain, runs block after block.
// `out` may equal `in` or lie before it (a forward-safe overlap); every step
// reads a batch of input before it writes that batch's output.
#ifndef ZENTHAL_SM4_BLOCK_MODES_H
#define ZENTHAL_SM4_BLOCK_MODES_H

#include <cstddef>
#include <cstdint>

#include "sm4.h"

namespace zenthal {

constexpr std::size_t kBatchBlocks = 64;

// ECB over nblocks whole blocks.
void sm4_ecb(const SM4_round_keys *rk, bool decrypt, const uint8_t *in, uint8_t *out, std::size_t nblocks);

// CBC over nblocks whole blocks; chain holds the IV, or the last ciphertext
// block, and is advanced.
void sm4_cbc(const SM4_round_keys *rk, bool decrypt, uint8_t chain[16], const uint8_t *in, uint8_t *out,
             std::size_t nblocks);

// A counter stream over len bytes, whole or not. ctr is the next counter
// block, ks the keystream block in use and pos (0..15) how much of it is
// spent; pos 0 means none is pending. CTR mode increments the whole block
// as a 128-bit big-endian number (wide); GCM only its last 32 bits.
void sm4_ctr(const SM4_round_keys *rk, bool wide, uint8_t ctr[16], uint8_t ks[16], uint32_t *pos,
             const uint8_t *in, uint8_t *out, std::size_t len);

// The counter block after `ctr`: the whole block as a 128-bit big-endian
// number when `wide` (CTR mode), only its last 32 bits otherwise (GCM).
void sm4_counter_next(uint8_t ctr[16], bool wide);

// The verdict on a padded ECB or CBC message of `len` bytes (a whole number
// of blocks, at least one) whose deciphered last block is `last`, with `cap`
// bytes of room for the plaintext: its length, or SM4_ERR_BAD_PADDING, or
// SM4_ERR_OUTPUT_TOO_SMALL. The padding is judged and the code chosen in
// time independent of the bytes.
int32_t sm4_unpadded_length(const uint8_t last[16], int32_t len, int32_t cap);

}  // namespace zenthal

#endif
