// The block modes behind the JCA Cipher: batches for sm4_crypt_blocks on the
// stack, every batch wiped before return.
#include "sm4_block_modes.h"

#include <cstring>

#include "forms/sm4_forms.h"
#include "sm4_blocks.h"
#include "sm4_cbc.h"
#include "util/byteorder.h"
#include "util/ct.h"
#include "util/wipe.h"

namespace zenthal {
namespace {

constexpr std::size_t kBatch = kBatchBlocks * 16;

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

}  // namespace

void sm4_ecb(const SM4_round_keys *rk, bool decrypt, const uint8_t *in, uint8_t *out, std::size_t nblocks) {
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

void sm4_cbc(const SM4_round_keys *rk, bool decrypt, uint8_t chain[16], const uint8_t *in, uint8_t *out,
             std::size_t nblocks) {
    if (!decrypt) {
        // A chain: each block through the serial step of the chosen form,
        // the one with the shortest round latency.
        if (nblocks == 0) return;
        const Sm4Form &f = sm4_form();
        Sm4Lanes lanes;
        sm4_lanes(f, &lanes, rk, false, rk, false);
        sm4_chain(f, &lanes, chain, nullptr, in, out, nblocks);
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

void sm4_counter_next(uint8_t ctr[16], bool wide) { increment(ctr, wide); }

int32_t sm4_unpadded_length(const uint8_t last[16], int32_t len, int32_t cap) {
    const int32_t pad = static_cast<int32_t>(ct_pkcs7_length(last));
    const uint32_t good = ct_mask_nonzero(static_cast<uint32_t>(pad));
    const uint32_t fits = ~ct_mask_lt(cap, len - pad);
    return ct_select(good, ct_select(fits, len - pad, SM4_ERR_OUTPUT_TOO_SMALL), SM4_ERR_BAD_PADDING);
}

}  // namespace zenthal
