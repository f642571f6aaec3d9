// SM4-GCM over the block modes' CTR step and GHASH.
#include "sm4_gcm.h"

#include <cstring>

#include "ghash.h"
#include "sm4_block_modes.h"
#include "sm4_blocks.h"
#include "sm4_cbc.h"
#include "util/byteorder.h"
#include "util/ct.h"
#include "util/wipe.h"

namespace zenthal {
namespace {

// Pads and hashes a pending partial block of AAD once ciphertext starts.
void close_aad(Sm4GcmState *st) {
    const std::size_t r = static_cast<std::size_t>(st->aad_len % 16);
    if (st->ct_len == 0 && r != 0) {
        std::memset(st->part + r, 0, 16 - r);
        ghash_blocks(st->x, st->h, st->part, 1);
        std::memset(st->part, 0, 16);
    }
}

// Hashes len bytes into the accumulator, `r` of them already waiting in
// st->part: top up the partial block, take whole blocks, keep the tail. No
// bytes may come with no address (an empty direct buffer), so nothing is
// copied or offset from `in` when len is 0.
void absorb(Sm4GcmState *st, std::size_t r, const uint8_t *in, std::size_t len) {
    if (len == 0) return;
    if (r != 0) {
        std::size_t n = 16 - r;
        if (n > len) n = len;
        std::memcpy(st->part + r, in, n);
        in += n;
        len -= n;
        if (r + n < 16) return;
        ghash_blocks(st->x, st->h, st->part, 1);
    }
    ghash_blocks(st->x, st->h, in, len / 16);
    std::memcpy(st->part, in + (len & ~static_cast<std::size_t>(15)), len % 16);
}

}  // namespace

void sm4_gcm_start(const SM4_round_keys *rk, Sm4GcmState *st, const uint8_t *iv12) {
    std::memset(st, 0, sizeof *st);
    if (iv12 == nullptr) {
        SM4_encrypt(st->h, st->h, rk);
        return;
    }
    std::memcpy(st->j0, iv12, 12);
    st->j0[15] = 1;
    std::memcpy(st->ctr, st->j0, 16);
    sm4_counter_next(st->ctr, false);
    // H = E(0) and E(J0) side by side: one block's latency for both.
    uint8_t two[32] = {0};
    std::memcpy(two + 16, st->j0, 16);
    sm4_crypt_blocks(rk, two, two, 2, false);
    std::memcpy(st->h, two, 16);
    std::memcpy(st->ej0, two + 16, 16);
    secure_wipe(two, sizeof two);
}

void sm4_gcm_iv_blocks(Sm4GcmState *st, const uint8_t *blocks, std::size_t nblocks) {
    ghash_blocks(st->j0, st->h, blocks, nblocks);
}

void sm4_gcm_iv_end(const SM4_round_keys *rk, Sm4GcmState *st, uint64_t iv_len) {
    uint8_t len_block[16] = {0};
    store64_be(len_block + 8, iv_len * 8);
    ghash_blocks(st->j0, st->h, len_block, 1);
    std::memcpy(st->ctr, st->j0, 16);
    sm4_counter_next(st->ctr, false);
    SM4_encrypt(st->j0, st->ej0, rk);
}

void sm4_gcm_aad(Sm4GcmState *st, const uint8_t *in, std::size_t len) {
    const std::size_t r = static_cast<std::size_t>(st->aad_len % 16);
    st->aad_len += len;
    absorb(st, r, in, len);
}

void sm4_gcm_hash(Sm4GcmState *st, const uint8_t *in, std::size_t len) {
    if (len == 0) return;
    close_aad(st);
    const std::size_t r = static_cast<std::size_t>(st->ct_len % 16);
    st->ct_len += len;
    absorb(st, r, in, len);
}

void sm4_gcm_tag(Sm4GcmState *st, uint8_t tag[16]) {
    close_aad(st);
    const std::size_t r = static_cast<std::size_t>(st->ct_len % 16);
    if (r != 0) {
        std::memset(st->part + r, 0, 16 - r);
        ghash_blocks(st->x, st->h, st->part, 1);
    }
    uint8_t len_block[16];
    store64_be(len_block, st->aad_len * 8);
    store64_be(len_block + 8, st->ct_len * 8);
    ghash_blocks(st->x, st->h, len_block, 1);
    xor_bytes(tag, st->ej0, st->x, 16);
}

void sm4_gcm_encrypt(const SM4_round_keys *rk, Sm4GcmState *st, const uint8_t *in, uint8_t *out,
                     std::size_t len) {
    uint32_t pos = static_cast<uint32_t>(st->ct_len % 16);
    sm4_ctr(rk, false, st->ctr, st->ks, &pos, in, out, len);
    sm4_gcm_hash(st, out, len);
}

int32_t sm4_gcm_check_tag(Sm4GcmState *st, const uint8_t *given, std::size_t tag_len) {
    uint8_t expected[16];
    sm4_gcm_tag(st, expected);
    const uint32_t ok = ct_equal(expected, given, tag_len);
    secure_wipe(expected, sizeof expected);
    return ct_select(ok, SM4_SUCCESS, SM4_ERR_MAC_MISMATCH);
}

void sm4_gcm_decrypt(const SM4_round_keys *rk, Sm4GcmState *st, uint32_t *pos, const uint8_t *in,
                     uint8_t *out, std::size_t len) {
    sm4_ctr(rk, false, st->ctr, st->ks, pos, in, out, len);
}

}  // namespace zenthal
