// SM4 in the modes the JCA provider offers (ECB, CBC, CTR, GCM), as
// streaming steps over caller-held state: the Java side keeps every record
// here in its own arrays and the bridge copies it in and out around each
// call, so nothing outlives a call. Internal to the library.
//
// Many-block work goes through sm4_crypt_blocks, in batches of kBatchBlocks
// on the stack; only CBC encryption, a chain, runs block after block.
// `out` may equal `in` or lie before it (a forward-safe overlap); every step
// reads a batch of input before it writes that batch's output.
#ifndef ZENTHAL_SM4_MODES_H
#define ZENTHAL_SM4_MODES_H

#include <cstddef>
#include <cstdint>

#include "sm4.h"

namespace zenthal {

constexpr std::size_t kBatchBlocks = 64;

// ECB over nblocks whole blocks.
void sm4_ecb(const SM4_round_keys *rk, bool decrypt, const uint8_t *in, uint8_t *out,
             std::size_t nblocks);

// CBC over nblocks whole blocks; chain holds the IV, or the last ciphertext
// block, and is advanced.
void sm4_cbc(const SM4_round_keys *rk, bool decrypt, uint8_t chain[16], const uint8_t *in,
             uint8_t *out, std::size_t nblocks);

// A counter stream over len bytes, whole or not. ctr is the next counter
// block, ks the keystream block in use and pos (0..15) how much of it is
// spent; pos 0 means none is pending. CTR mode increments the whole block
// as a 128-bit big-endian number (wide); GCM only its last 32 bits.
void sm4_ctr(const SM4_round_keys *rk, bool wide, uint8_t ctr[16], uint8_t ks[16], uint32_t *pos,
             const uint8_t *in, uint8_t *out, std::size_t len);

// PKCS#7 check of a deciphered last block, in time independent of its bytes:
// the pad length 1..16, or 0 when the padding is not valid.
uint32_t sm4_pad_length(const uint8_t block[16]);

// GCM's running record. Any bytes form a record the steps can work on
// without leaving it: positions are lengths modulo 16.
struct Sm4GcmState {
    uint8_t h[16];     // hash key, E(K, 0)
    uint8_t j0[16];    // pre-counter block
    uint8_t ej0[16];   // E(K, J0), which masks the tag
    uint8_t ctr[16];   // next counter block
    uint8_t ks[16];    // keystream of the block in use
    uint8_t x[16];     // GHASH accumulator
    uint8_t part[16];  // AAD, then ciphertext, not yet hashed
    uint64_t aad_len;  // bytes of AAD
    uint64_t ct_len;   // bytes of ciphertext hashed
};
static_assert(sizeof(Sm4GcmState) == 128, "the Java state arrays are 128 bytes");

// Starts a message, everything else zero. With a 12-byte `iv`, H and E(J0)
// come from one call of two blocks; with iv null, H only, and the IV of
// another length follows.
void sm4_gcm_start(const SM4_round_keys *rk, Sm4GcmState *st, const uint8_t *iv12);
// J0 for any other length: the IV in whole blocks (the last zero-padded) in
// one or more calls, then the length block.
void sm4_gcm_iv_blocks(Sm4GcmState *st, const uint8_t *blocks, std::size_t nblocks);
void sm4_gcm_iv_end(const SM4_round_keys *rk, Sm4GcmState *st, uint64_t iv_len);
// Associated data, before any ciphertext.
void sm4_gcm_aad(Sm4GcmState *st, const uint8_t *in, std::size_t len);
// Hashes ciphertext (after encrypting it, or before decrypting it).
void sm4_gcm_hash(Sm4GcmState *st, const uint8_t *in, std::size_t len);
// The full 16-byte tag of what was hashed; the record is spent afterwards.
void sm4_gcm_tag(Sm4GcmState *st, uint8_t tag[16]);

}  // namespace zenthal

#endif
