/* SM4 modes of operation: CBC with PKCS#7 padding, CBC-MAC
 * with ISO/IEC 9797-1 padding method 2, and the encrypt-and-MAC envelope.
 * No heap; each key is expanded once per call. The block transform is
 * inlined, and the working block is a `Words` value: the four words of the
 * block being enciphered or deciphered, held in registers from the load of
 * the input to the store of the output. The chaining value is the previous
 * output block (CBC encryption and the MAC, whose output is `mac`) or the
 * previous input block (CBC decryption); its words too stay in registers
 * instead of being read back from memory.
 *
 * Two guards that a plain reading of the modes would lack:
 *  - the opening's MAC comparison looks at all 16 bytes in time independent
 *    of their values (no early exit); the result codes are unchanged;
 *  - CBC encryption of len >= 4294967280 and sealing of len >= 4294967264,
 *    whose output length does not fit in 32 bits, return
 *    SM4_ERR_OUTPUT_TOO_SMALL before anything is read or written. */
#include "sm4_cbc.h"

#include <stdint.h>
#include <string.h>

#include "sm4.h"
#include "sm4_core.h"

namespace {

using zenthal::load32_be;
using zenthal::sm4_rounds;
using zenthal::sm4_rounds2;
using zenthal::store32_be;

/* A 16-byte block as four big-endian words. */
struct Words {
    uint32_t w0, w1, w2, w3;
};

static inline Words load_block(const uint8_t *p) {
    return {load32_be(p), load32_be(p + 4), load32_be(p + 8), load32_be(p + 12)};
}

static inline void store_block(uint8_t *p, const Words &x) {
    store32_be(p, x.w0);
    store32_be(p + 4, x.w1);
    store32_be(p + 8, x.w2);
    store32_be(p + 12, x.w3);
}

static inline Words operator^(const Words &a, const Words &b) {
    return {a.w0 ^ b.w0, a.w1 ^ b.w1, a.w2 ^ b.w2, a.w3 ^ b.w3};
}

template <bool Dec>
static inline __attribute__((always_inline)) Words crypt(Words x, const uint32_t *rk) {
    sm4_rounds<Dec>(x.w0, x.w1, x.w2, x.w3, rk);
    return x;
}

} // namespace

extern "C" {

int32_t SM4_process_cbc(int32_t flag, const uint8_t key[16], const uint8_t iv[16],
                        const uint8_t *in, uint32_t len, uint8_t *out, uint32_t *outlen) {
    SM4_round_keys rk;
    uint8_t work[16];

    if (flag != 0) {
        /* Encryption. need = (n + 1) * 16 is computed in 64 bits: for
         * len >= 4294967280 it is 2^32, above every 32-bit capacity, so such
         * lengths are rejected here before anything is read or written. */
        const uint32_t n = len / 16;
        const uint32_t r = len % 16;
        const uint64_t need = ((uint64_t)n + 1) * 16;
        if ((uint64_t)*outlen < need) {
            return SM4_ERR_OUTPUT_TOO_SMALL;
        }
        SM4_set_key(key, &rk);
        const uint8_t pad = (uint8_t)(16 - r);
        Words chain = load_block(iv);
        for (uint32_t i = 0; i < n; ++i) {
            chain = crypt<false>(load_block(in + (size_t)16 * i) ^ chain, rk.rk);
            store_block(out + (size_t)16 * i, chain);
        }
        /* Last block, always present: the tail, then the pad bytes. A byte
         * loop, since `in` may be null when len is 0. */
        const uint8_t *const tail = in + (size_t)16 * n;
        for (uint32_t j = 0; j < r; ++j) {
            work[j] = tail[j];
        }
        memset(work + r, pad, 16 - r);
        store_block(out + (size_t)16 * n, crypt<false>(load_block(work) ^ chain, rk.rk));
        *outlen = (uint32_t)need;
        return SM4_SUCCESS;
    }

    /* Decryption. */
    if (len % 16 != 0) {
        return SM4_ERR_INPUT_LENGTH;
    }
    const uint32_t n = len / 16;
    if (n == 0 || *outlen < (n - 1) * 16) {
        return SM4_ERR_OUTPUT_TOO_SMALL;
    }
    SM4_set_key(key, &rk);
    Words chain = load_block(iv);
    uint32_t i = 0;
    /* Blocks before the last, two at a time: they do not depend on each
     * other, only on the ciphertext. */
    for (; i + 2 < n; i += 2) {
        const Words c0 = load_block(in + (size_t)16 * i);
        const Words c1 = load_block(in + (size_t)16 * i + 16);
        Words p0 = c0, p1 = c1;
        sm4_rounds2<true>(p0.w0, p0.w1, p0.w2, p0.w3, p1.w0, p1.w1, p1.w2, p1.w3, rk.rk);
        store_block(out + (size_t)16 * i, p0 ^ chain);
        store_block(out + (size_t)16 * i + 16, p1 ^ c0);
        chain = c1;
    }
    if (i + 1 < n) {
        const Words c0 = load_block(in + (size_t)16 * i);
        store_block(out + (size_t)16 * i, crypt<true>(c0, rk.rk) ^ chain);
        chain = c0;
        ++i;
    }
    /* Last block: stays in `work` until the padding has been verified. */
    store_block(work, crypt<true>(load_block(in + (size_t)16 * i), rk.rk) ^ chain);
    const uint8_t p = work[15];
    if (p == 0 || p > 16) {
        return SM4_ERR_BAD_PADDING;
    }
    for (unsigned j = 16u - p; j < 16; ++j) {
        if (work[j] != p) {
            return SM4_ERR_BAD_PADDING;
        }
    }
    const uint32_t m = len - p;
    if (*outlen < m) {
        return SM4_ERR_OUTPUT_TOO_SMALL;
    }
    if (p < 16) { /* out may be null when the capacity is 0 */
        memcpy(out + (size_t)16 * (n - 1), work, 16u - p);
    }
    *outlen = m;
    return SM4_SUCCESS;
}

int32_t SM4_process_mac(const uint8_t key[16], const uint8_t iv[16], const uint8_t *in,
                        uint32_t len, uint8_t mac[16]) {
    SM4_round_keys rk;
    uint8_t work[16];
    const uint32_t n = len / 16;
    const uint32_t r = len % 16;

    SM4_set_key(key, &rk);
    /* `mac` receives every encipherment; the same words stay in registers
     * as the chaining value for the next block. */
    Words chain = load_block(iv);
    for (uint32_t i = 0; i < n; ++i) {
        chain = crypt<false>(load_block(in + (size_t)16 * i) ^ chain, rk.rk);
        store_block(mac, chain);
    }
    /* Final block, always present: data bytes, 0x80, zero bytes. */
    const uint8_t *const tail = in + (size_t)16 * n;
    for (uint32_t j = 0; j < r; ++j) {
        work[j] = tail[j];
    }
    work[r] = 0x80;
    memset(work + r + 1, 0, 15 - r);
    store_block(mac, crypt<false>(load_block(work) ^ chain, rk.rk));
    return SM4_SUCCESS;
}

int32_t SM4_process_cbc_and_mac(int32_t flag, const uint8_t key[16], const uint8_t mac_key[16],
                                const uint8_t iv[16], const uint8_t *in, uint32_t len,
                                uint8_t *out, uint32_t *outlen) {
    uint8_t mac[16];
    int32_t rc;

    if (flag != 0) {
        /* Seal. need = (len rounded down to 16) + 32, computed in 64 bits:
         * for len >= 4294967264 it is at least 2^32, above every 32-bit
         * capacity, so such lengths are rejected before anything is touched. */
        const uint64_t need = (uint64_t)(len / 16) * 16 + 32;
        if ((uint64_t)*outlen < need) {
            return SM4_ERR_OUTPUT_TOO_SMALL;
        }
        rc = SM4_process_cbc(flag, key, iv, in, len, out, outlen);
        if (rc != SM4_SUCCESS) {
            return rc;
        }
        rc = SM4_process_mac(mac_key, iv, in, len, mac);
        if (rc != SM4_SUCCESS) {
            return rc;
        }
        memcpy(out + *outlen, mac, 16);
        *outlen += 16;
        return SM4_SUCCESS;
    }

    /* Open. */
    if (len % 16 != 0 || len < 32) {
        return SM4_ERR_INPUT_LENGTH;
    }
    rc = SM4_process_cbc(0, key, iv, in, len - 16, out, outlen);
    if (rc != SM4_SUCCESS) {
        return rc;
    }
    rc = SM4_process_mac(mac_key, iv, out, *outlen, mac);
    if (rc != SM4_SUCCESS) {
        return rc;
    }
    /* Constant-time comparison: accumulate every difference, no early exit. */
    const uint8_t *const expected = in + (len - 16);
    volatile uint8_t diff = 0;
    for (unsigned j = 0; j < 16; ++j) {
        diff = (uint8_t)(diff | (mac[j] ^ expected[j]));
    }
    return diff == 0 ? SM4_SUCCESS : SM4_ERR_MAC_MISMATCH;
}

} // extern "C"
