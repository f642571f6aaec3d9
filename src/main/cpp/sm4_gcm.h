// SM4-GCM as streaming steps over a caller-held record: J0 from the IV, the
// associated data, the ciphertext through GHASH, the tag and its check. The
// Java side keeps the record in its own array and the bridge copies it in
// and out around each call, so nothing outlives a call. The keystream is the
// CTR step of sm4_block_modes.h with GCM's 32-bit counter. Internal to the
// library.
#ifndef ZENTHAL_SM4_GCM_H
#define ZENTHAL_SM4_GCM_H

#include <cstddef>
#include <cstdint>

#include "sm4.h"

namespace zenthal {

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

// Encrypts len bytes (the keystream, then the ciphertext hashed), continuing
// the message the record holds.
void sm4_gcm_encrypt(const SM4_round_keys *rk, Sm4GcmState *st, const uint8_t *in, uint8_t *out,
                     std::size_t len);

// The tag of what was hashed, compared with the `tag_len` bytes (4 to 16) of
// `given` in time independent of their values: SM4_SUCCESS or
// SM4_ERR_MAC_MISMATCH. The record is spent for hashing, but its keystream
// is ready for sm4_gcm_decrypt.
int32_t sm4_gcm_check_tag(Sm4GcmState *st, const uint8_t *given, std::size_t tag_len);

// Decrypts a checked message: len bytes of keystream from where it starts,
// `*pos` bytes into its first block (0 at the start), advanced.
void sm4_gcm_decrypt(const SM4_round_keys *rk, Sm4GcmState *st, uint32_t *pos, const uint8_t *in,
                     uint8_t *out, std::size_t len);

}  // namespace zenthal

#endif
