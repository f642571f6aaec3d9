/* SM4 modes of operation: CBC with PKCS#7 padding, CBC-MAC
 * with ISO/IEC 9797-1 padding method 2, and the encrypt-and-MAC envelope.
 * No heap; each key is expanded once per call; every block goes through one
 * 16-byte working block. The chaining value is never copied: it is read from
 * `out` (CBC encryption), from `in` (CBC decryption) or from `mac` (CBC-MAC).
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

namespace {

/* dst[0..15] = a[0..15] ^ b[0..15], in four 32-bit pieces. Matching the
 * 32-bit stores of SM4_encrypt lets the chaining value read back from `out`
 * be forwarded from the store buffer; dst may equal a or b. */
static inline void xor_block(uint8_t *dst, const uint8_t *a, const uint8_t *b) {
    for (unsigned j = 0; j < 16; j += 4) {
        uint32_t x, y;
        memcpy(&x, a + j, 4);
        memcpy(&y, b + j, 4);
        x ^= y;
        memcpy(dst + j, &x, 4);
    }
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
        const uint8_t *chain = iv;
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t *const dst = out + (size_t)16 * i;
            xor_block(work, in + (size_t)16 * i, chain);
            SM4_encrypt(work, dst, &rk);
            chain = dst;
        }
        const uint8_t *const tail = in + (size_t)16 * n;
        for (uint32_t j = 0; j < r; ++j) {
            work[j] = (uint8_t)(tail[j] ^ chain[j]);
        }
        for (uint32_t j = r; j < 16; ++j) {
            work[j] = (uint8_t)(pad ^ chain[j]);
        }
        SM4_encrypt(work, out + (size_t)16 * n, &rk);
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
    const uint8_t *chain = iv;
    for (uint32_t i = 0; i + 1 < n; ++i) {
        const uint8_t *const src = in + (size_t)16 * i;
        SM4_decrypt(src, work, &rk);
        xor_block(out + (size_t)16 * i, work, chain);
        chain = src;
    }
    /* Last block: stays in `work` until the padding has been verified. */
    SM4_decrypt(in + (size_t)16 * (n - 1), work, &rk);
    xor_block(work, work, chain);
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
    memcpy(out + (size_t)16 * (n - 1), work, 16u - p);
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
    const uint8_t *chain = iv;
    for (uint32_t i = 0; i < n; ++i) {
        xor_block(work, in + (size_t)16 * i, chain);
        SM4_encrypt(work, mac, &rk);
        chain = mac;
    }
    /* Final block, always present: data bytes, 0x80, zero bytes. */
    const uint8_t *const tail = in + (size_t)16 * n;
    for (uint32_t j = 0; j < r; ++j) {
        work[j] = (uint8_t)(tail[j] ^ chain[j]);
    }
    work[r] = (uint8_t)(0x80 ^ chain[r]);
    for (uint32_t j = r + 1; j < 16; ++j) {
        work[j] = chain[j];
    }
    SM4_encrypt(work, mac, &rk);
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
