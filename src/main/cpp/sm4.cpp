/* SM4 block cipher (GB/T 32907-2016): key schedule and the exported
 * single-block transforms. The tables and the rounds are in sm4_core.h,
 * shared with the modes. Key material held in memory of the function's own
 * (the key-schedule ring, the one-shot functions' round keys) is wiped
 * before it returns. */
#include "sm4.h"

#include <stdint.h>

#include "sm4_blocks.h"
#include "sm4_core.h"

namespace {

using zenthal::load32_be;
using zenthal::rotl32;
using zenthal::secure_wipe;
using zenthal::sm4_crypt;
using zenthal::sm4_tau;

/* CK: the key-schedule constants CK_0..CK_31 of GB/T 32907; byte j of CK_i,
 * counted from the most significant byte, is (4i + j) * 7 mod 256. */
static const uint32_t CK[32] = {
    0x00070E15, 0x1C232A31, 0x383F464D, 0x545B6269,
    0x70777E85, 0x8C939AA1, 0xA8AFB6BD, 0xC4CBD2D9,
    0xE0E7EEF5, 0xFC030A11, 0x181F262D, 0x343B4249,
    0x50575E65, 0x6C737A81, 0x888F969D, 0xA4ABB2B9,
    0xC0C7CED5, 0xDCE3EAF1, 0xF8FF060D, 0x141B2229,
    0x30373E45, 0x4C535A61, 0x686F767D, 0x848B9299,
    0xA0A7AEB5, 0xBCC3CAD1, 0xD8DFE6ED, 0xF4FB0209,
    0x10171E25, 0x2C333A41, 0x484F565D, 0x646B7279
};

/* FK: the system parameters FK_0..FK_3 of GB/T 32907, XORed into the four
 * key words at the start of the key schedule. */
static const uint32_t FK[4] = {0xA3B1BAC6, 0x56AA3350, 0x677D9197, 0xB27022DC};

/* T'(A) = L'(tau(A)) of the key schedule, L'(B) = B ^ (B <<< 13) ^ (B <<< 23). */
static inline uint32_t sm4_t_key(uint32_t a) {
    const uint32_t b = sm4_tau(a);
    return b ^ rotl32(b, 13) ^ rotl32(b, 23);
}

} // namespace

namespace zenthal {

void sm4_crypt_blocks(const SM4_round_keys *rk, const uint8_t *in, uint8_t *out, std::size_t nblocks,
                      bool decrypt) {
    for (std::size_t i = 0; i < nblocks; ++i) {
        if (decrypt)
            sm4_crypt<true>(in + 16 * i, out + 16 * i, rk->rk);
        else
            sm4_crypt<false>(in + 16 * i, out + 16 * i, rk->rk);
    }
}

} // namespace zenthal

extern "C" {

void SM4_set_key(const uint8_t key[16], SM4_round_keys *rk) {
    /* Ring of the last four K words: slot i mod 4 holds K_i and receives
     * K_{i+4} = rk[i]. All key bytes are read before rk[0] is written. */
    uint32_t k[4];
    k[0] = load32_be(key) ^ FK[0];
    k[1] = load32_be(key + 4) ^ FK[1];
    k[2] = load32_be(key + 8) ^ FK[2];
    k[3] = load32_be(key + 12) ^ FK[3];
    for (unsigned i = 0; i < 32; ++i) {
        const uint32_t next =
            k[i & 3] ^ sm4_t_key(k[(i + 1) & 3] ^ k[(i + 2) & 3] ^ k[(i + 3) & 3] ^ CK[i]);
        k[i & 3] = next;
        rk->rk[i] = next;
    }
    secure_wipe(k, sizeof k);
}

void SM4_encrypt(const uint8_t in[16], uint8_t out[16], const SM4_round_keys *rk) {
    sm4_crypt<false>(in, out, rk->rk);
}

void SM4_decrypt(const uint8_t in[16], uint8_t out[16], const SM4_round_keys *rk) {
    sm4_crypt<true>(in, out, rk->rk);
}

void SM4_encrypt_block(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]) {
    SM4_round_keys rk;
    SM4_set_key(key, &rk);
    SM4_encrypt(in, out, &rk);
    secure_wipe(&rk, sizeof rk);
}

void SM4_decrypt_block(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]) {
    SM4_round_keys rk;
    SM4_set_key(key, &rk);
    SM4_decrypt(in, out, &rk);
    secure_wipe(&rk, sizeof rk);
}

} // extern "C"
