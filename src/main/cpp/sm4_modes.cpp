// The block modes behind the JCA Cipher: batches for sm4_crypt_blocks on the
// stack, every batch wiped before return; GHASH through ghash_blocks.
#include "sm4_modes.h"

#include <cstring>

#include "byteorder.h"
#include "ghash.h"
#include "sm4_blocks.h"
#include "sm4_forms.h"

namespace zenthal {
namespace {

constexpr std::size_t kBatch = kBatchBlocks * 16;

void xor_bytes(uint8_t *out, const uint8_t *a, const uint8_t *b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(a[i] ^ b[i]);
}

void increment(uint8_t ctr[16], bool wide) {
    // Carries ripple through every byte (no early exit): the counter is not
    // secret, but the loop stays the same length whatever its value.
    uint32_t carry = 1;
    const int last = wide ? 0 : 12;
    for (int i = 15; i >= last; --i) {
        const uint32_t v = ctr[i] + carry;
        ctr[i] = static_cast<uint8_t>(v);
        carry = v >> 8;
    }
}

void store64_be(uint8_t *p, uint64_t v) {
    store32_be(p, static_cast<uint32_t>(v >> 32));
    store32_be(p + 4, static_cast<uint32_t>(v));
}

// n successive counter blocks into buf, and ctr advanced past them: the
// block as two big-endian 64-bit halves, the carry added without a branch.
// GCM's counter (not wide) wraps within its last 32 bits.
void fill_counters(uint8_t *buf, uint8_t ctr[16], std::size_t n, bool wide) {
    uint64_t hi = static_cast<uint64_t>(load32_be(ctr)) << 32 | load32_be(ctr + 4);
    uint64_t lo = static_cast<uint64_t>(load32_be(ctr + 8)) << 32 | load32_be(ctr + 12);
    for (std::size_t i = 0; i < n; ++i) {
        store64_be(buf + 16 * i, hi);
        store64_be(buf + 16 * i + 8, lo);
        if (wide) {
            ++lo;
            hi += static_cast<uint64_t>(lo == 0);
        } else {
            lo = (lo & 0xFFFFFFFF00000000u) | static_cast<uint32_t>(lo + 1);
        }
    }
    store64_be(ctr, hi);
    store64_be(ctr + 8, lo);
}

inline uint32_t mask_nonzero(uint32_t x) { return opaque32(0u - ((x | (0u - x)) >> 31)); }

// Pads and hashes a pending partial block of AAD once ciphertext starts.
void close_aad(Sm4GcmState *st) {
    const std::size_t r = static_cast<std::size_t>(st->aad_len % 16);
    if (st->ct_len == 0 && r != 0) {
        std::memset(st->part + r, 0, 16 - r);
        ghash_blocks(st->x, st->h, st->part, 1);
        std::memset(st->part, 0, 16);
    }
}

}  // namespace

void sm4_ecb(const SM4_round_keys *rk, bool decrypt, const uint8_t *in, uint8_t *out,
             std::size_t nblocks) {
    if (in == out) {
        sm4_crypt_blocks(rk, in, out, nblocks, decrypt);
        return;
    }
    // A forward overlap is fine batch by batch through the stack.
    uint8_t buf[kBatch];
    std::size_t used = 0;
    while (nblocks > 0) {
        const std::size_t n = nblocks < kBatchBlocks ? nblocks : kBatchBlocks;
        sm4_crypt_blocks(rk, in, buf, n, decrypt);
        std::memcpy(out, buf, 16 * n);
        if (16 * n > used) used = 16 * n;
        in += 16 * n;
        out += 16 * n;
        nblocks -= n;
    }
    secure_wipe(buf, used);
}

void sm4_cbc(const SM4_round_keys *rk, bool decrypt, uint8_t chain[16], const uint8_t *in,
             uint8_t *out, std::size_t nblocks) {
    if (!decrypt) {
        // A chain: each block through the serial step of the chosen form,
        // the one with the shortest round latency.
        if (nblocks == 0) return;
        const Sm4Form &f = sm4_form();
        Sm4Lanes lanes;
        sm4_lanes(f, &lanes, rk, false, rk, false);
        for (std::size_t i = 0; i < nblocks; ++i) {
            xor_bytes(chain, in + 16 * i, chain, 16);
            f.pair(&lanes, chain, chain);
            std::memcpy(out + 16 * i, chain, 16);
        }
        secure_wipe(&lanes, sizeof lanes);
        return;
    }
    // Decryption is parallel: a batch of ciphertext is kept (it is the
    // chaining input and `out` may overwrite it), deciphered at once, then
    // each block is XORed with its predecessor.
    uint8_t cipher[kBatch], plain[kBatch];
    std::size_t used = 0;
    while (nblocks > 0) {
        const std::size_t n = nblocks < kBatchBlocks ? nblocks : kBatchBlocks;
        std::memcpy(cipher, in, 16 * n);
        sm4_crypt_blocks(rk, cipher, plain, n, true);
        xor_bytes(out, plain, chain, 16);
        xor_bytes(out + 16, plain + 16, cipher, 16 * (n - 1));
        std::memcpy(chain, cipher + 16 * (n - 1), 16);
        if (16 * n > used) used = 16 * n;
        in += 16 * n;
        out += 16 * n;
        nblocks -= n;
    }
    secure_wipe(plain, used);
    secure_wipe(cipher, used);
}

void sm4_ctr(const SM4_round_keys *rk, bool wide, uint8_t ctr[16], uint8_t ks[16], uint32_t *pos,
             const uint8_t *in, uint8_t *out, std::size_t len) {
    uint32_t p = *pos % 16;
    if (p != 0) {
        std::size_t n = 16 - p;
        if (n > len) n = len;
        xor_bytes(out, in, ks + p, n);
        p = static_cast<uint32_t>((p + n) % 16);
        in += n;
        out += n;
        len -= n;
    }
    uint8_t buf[kBatch];
    std::size_t used = 0;
    while (len >= 16) {
        std::size_t n = len / 16;
        if (n > kBatchBlocks) n = kBatchBlocks;
        fill_counters(buf, ctr, n, wide);
        sm4_crypt_blocks(rk, buf, buf, n, false);
        xor_bytes(out, in, buf, 16 * n);
        if (16 * n > used) used = 16 * n;
        in += 16 * n;
        out += 16 * n;
        len -= 16 * n;
    }
    secure_wipe(buf, used);
    if (len > 0) {
        SM4_encrypt(ctr, ks, rk);
        increment(ctr, wide);
        xor_bytes(out, in, ks, len);
        p = static_cast<uint32_t>(len);
    }
    *pos = p;
}

uint32_t sm4_pad_length(const uint8_t block[16]) {
    const uint32_t p = block[15];
    // 1 <= p <= 16, and every one of the last p bytes equals p; all 16 bytes
    // are read whatever p is.
    uint32_t bad = ~mask_nonzero(p) | mask_nonzero((16 - p) >> 31 & 1u);
    for (uint32_t j = 0; j < 16; ++j) {
        // j >= 16 - p: the byte belongs to the padding.
        const uint32_t in_pad = mask_nonzero((j + p) >> 4);
        bad |= in_pad & mask_nonzero(block[j] ^ p);
    }
    return p & ~bad;
}

void sm4_gcm_start(const SM4_round_keys *rk, Sm4GcmState *st, const uint8_t *iv12) {
    std::memset(st, 0, sizeof *st);
    if (iv12 == nullptr) {
        SM4_encrypt(st->h, st->h, rk);
        return;
    }
    std::memcpy(st->j0, iv12, 12);
    st->j0[15] = 1;
    std::memcpy(st->ctr, st->j0, 16);
    increment(st->ctr, false);
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
    increment(st->ctr, false);
    SM4_encrypt(st->j0, st->ej0, rk);
}

// Hashes len bytes into the accumulator, `r` of them already waiting in
// st->part: top up the partial block, take whole blocks, keep the tail.
static void absorb(Sm4GcmState *st, std::size_t r, const uint8_t *in, std::size_t len) {
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

}  // namespace zenthal
