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
 * The envelope runs in one pass: sealing advances the CBC chain and the MAC
 * chain block by block, and opening deciphers block i + 1 while the MAC
 * absorbs plaintext block i. The two chains are independent, so their rounds
 * interleave (sm4_rounds_pair) and a pass costs about one chain.
 *
 * Guards that a plain reading of the modes would lack:
 *  - the last block of a CBC decryption is judged without a branch on its
 *    bytes: the padding check reads all 16 bytes, the capacity check and the
 *    store of the data bytes go through masks, and the result code is chosen
 *    at the end. Opening always runs the MAC over as many blocks as the
 *    ciphertext has, forms its last block with masks and compares all 16
 *    bytes. So the time an opening takes depends on the lengths alone, not
 *    on why it fails; the result codes are unchanged;
 *  - round keys and working blocks are wiped before every return that
 *    follows a key schedule;
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
using zenthal::opaque32;
using zenthal::secure_wipe;
using zenthal::sm4_rounds;
using zenthal::sm4_rounds2;
using zenthal::sm4_rounds_pair;
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

/* Block a under rka and block b under rkb, interleaved round by round. */
template <bool DecA, bool DecB>
static inline __attribute__((always_inline)) void crypt_pair(Words &a, const uint32_t *rka, Words &b,
                                                             const uint32_t *rkb) {
    sm4_rounds_pair<DecA, DecB, false>(a.w0, a.w1, a.w2, a.w3, b.w0, b.w1, b.w2, b.w3, rka, rkb);
}

/* Masks for decisions on secret bytes: all ones for true, zero for false.
 * The value barrier keeps the optimiser from turning a mask back into a
 * branch or a conditional move on a flag it could see. */
static inline uint32_t mask_of(uint32_t bit) { return opaque32(0u - bit); }

static inline uint32_t mask_zero(uint32_t x) { return mask_of((~x & (x - 1)) >> 31); }

/* a < b for |a - b| < 2^31. */
static inline uint32_t mask_lt(int32_t a, int32_t b) {
    return mask_of(static_cast<uint32_t>(a - b) >> 31);
}

static inline int32_t pick(uint32_t mask, int32_t yes, int32_t no) {
    return static_cast<int32_t>((static_cast<uint32_t>(yes) & mask) |
                                (static_cast<uint32_t>(no) & ~mask));
}

/* What the deciphered last block of a CBC ciphertext of `len` bytes decides,
 * read without a branch on its bytes. */
struct Verdict {
    uint32_t good; /* mask: valid PKCS#7 padding */
    uint32_t fits; /* mask: the plaintext length is within the capacity */
    int32_t data;  /* 16 - pad value: the data bytes of the last block when good */
    uint32_t m;    /* len - pad value: the plaintext length when good */
};

static inline Verdict judge_last(const uint8_t work[16], uint32_t len, uint32_t cap) {
    const uint32_t p = work[15];
    const int32_t data = 16 - static_cast<int32_t>(p);
    /* 1 <= p <= 16, then every byte from position 16 - p on equals p: all 16
     * bytes are read whatever p says. */
    uint32_t good = ~mask_zero(p) & mask_lt(static_cast<int32_t>(p), 17);
    for (int32_t j = 0; j < 16; ++j) {
        good &= mask_lt(j, data) | mask_zero(work[j] ^ p);
    }
    /* cap >= len - p in 64 bits: for a bad pad value len - p may be negative. */
    const uint64_t slack = static_cast<uint64_t>(cap) + p - len;
    const uint32_t fits = ~mask_of(static_cast<uint32_t>(slack >> 63));
    return {good, fits, data, len - p};
}

/* Stores the data bytes of the last block at `dst` when `ok`, leaves them as
 * they were otherwise. `room`, the bytes of `dst` within the capacity, is
 * public; which of them change is decided by masks. */
static inline void store_last(uint8_t *dst, uint32_t room, const uint8_t work[16], int32_t data,
                              uint32_t ok) {
    for (uint32_t j = 0; j < room; ++j) {
        const uint32_t take = ok & mask_lt(static_cast<int32_t>(j), data);
        dst[j] = static_cast<uint8_t>((work[j] & take) | (dst[j] & ~take));
    }
}

/* The MAC's last block from the last plaintext block p: its `data` data
 * bytes, 0x80, zero bytes; formed with masks, as `data` is secret, and in
 * registers, so no copy of the plaintext lands in memory. For a bad pad
 * value the block is meaningless, and the MAC is computed anyway. */
static inline uint32_t mac_last_word(uint32_t w, int32_t first, int32_t data) {
    uint32_t keep = 0, mark = 0;
    for (int32_t b = 0; b < 4; ++b) {
        const unsigned shift = 24 - 8 * (unsigned)b;
        keep |= (mask_lt(first + b, data) & 0xFFu) << shift;
        mark |= (mask_zero(static_cast<uint32_t>(first + b - data)) & 0x80u) << shift;
    }
    return (w & keep) | mark;
}

static inline Words mac_last(const Words &p, int32_t data) {
    return {mac_last_word(p.w0, 0, data), mac_last_word(p.w1, 4, data),
            mac_last_word(p.w2, 8, data), mac_last_word(p.w3, 12, data)};
}

/* Seals in one pass: each plaintext block enters the CBC chain under `rk`
 * and the MAC chain under `mk`, both started from the IV. The envelope and
 * the MAC padding both add one block to the n whole ones, so the two chains
 * have the same length and step together to the end. */
static int32_t seal_envelope(const uint8_t key[16], const uint8_t mac_key[16],
                             const uint8_t iv[16], const uint8_t *in, uint32_t len, uint8_t *out,
                             uint32_t *outlen) {
    /* need = (len rounded down to 16) + 32, computed in 64 bits: for
     * len >= 4294967264 it is at least 2^32, above every 32-bit capacity,
     * so such lengths are rejected before anything is touched. */
    const uint64_t need = (uint64_t)(len / 16) * 16 + 32;
    if ((uint64_t)*outlen < need) {
        return SM4_ERR_OUTPUT_TOO_SMALL;
    }
    const uint32_t n = len / 16;
    const uint32_t r = len % 16;
    SM4_round_keys rk, mk;
    uint8_t work[16], last[16];
    SM4_set_key(key, &rk);
    SM4_set_key(mac_key, &mk);
    Words chain = load_block(iv);
    Words mac = chain;
    for (uint32_t i = 0; i < n; ++i) {
        const Words p = load_block(in + (size_t)16 * i);
        chain = p ^ chain;
        mac = p ^ mac;
        crypt_pair<false, false>(chain, rk.rk, mac, mk.rk);
        store_block(out + (size_t)16 * i, chain);
    }
    /* Last blocks, always present: the tail, then the PKCS#7 pad bytes for
     * CBC and 0x80 and zeros for the MAC. A byte loop, since `in` may be
     * null when len is 0. */
    const uint8_t *const tail = in + (size_t)16 * n;
    for (uint32_t j = 0; j < r; ++j) {
        work[j] = tail[j];
        last[j] = tail[j];
    }
    memset(work + r, (int)(16 - r), 16 - r);
    last[r] = 0x80;
    memset(last + r + 1, 0, 15 - r);
    chain = load_block(work) ^ chain;
    mac = load_block(last) ^ mac;
    crypt_pair<false, false>(chain, rk.rk, mac, mk.rk);
    store_block(out + (size_t)16 * n, chain);
    store_block(out + (size_t)16 * n + 16, mac);
    *outlen = (uint32_t)need;
    secure_wipe(&rk, sizeof rk);
    secure_wipe(&mk, sizeof mk);
    secure_wipe(work, sizeof work);
    secure_wipe(last, sizeof last);
    return SM4_SUCCESS;
}

/* Opens in one pass: while ciphertext block i + 1 is deciphered, the MAC
 * absorbs plaintext block i. The padding leaves 16 * (n - 1) to 16 * n - 1
 * plaintext bytes, so the MAC always spans exactly n blocks, the last formed
 * from the last plaintext block. Past the checks on the lengths, which are
 * public, every step runs whatever the bytes: padding, capacity and MAC are
 * judged with masks and the result code is picked at the end. */
static int32_t open_envelope(const uint8_t key[16], const uint8_t mac_key[16],
                             const uint8_t iv[16], const uint8_t *in, uint32_t len, uint8_t *out,
                             uint32_t *outlen) {
    if (len % 16 != 0 || len < 32) {
        return SM4_ERR_INPUT_LENGTH;
    }
    const uint32_t ct_len = len - 16;
    const uint32_t n = ct_len / 16;
    const uint32_t cap = *outlen;
    if (cap < (n - 1) * 16) {
        return SM4_ERR_OUTPUT_TOO_SMALL;
    }
    SM4_round_keys rk, mk;
    uint8_t work[16];
    SM4_set_key(key, &rk);
    SM4_set_key(mac_key, &mk);
    Words mac = load_block(iv);
    Words p = crypt<true>(load_block(in), rk.rk) ^ mac;
    /* The chaining value, the previous ciphertext block, is read again from
     * `in` after the rounds rather than held across them: the two chains
     * need every register. */
    for (uint32_t i = 1; i < n; ++i) {
        store_block(out + (size_t)16 * (i - 1), p);
        Words d = load_block(in + (size_t)16 * i);
        mac = p ^ mac;
        crypt_pair<true, false>(d, rk.rk, mac, mk.rk);
        p = d ^ load_block(in + (size_t)16 * (i - 1));
    }
    /* Last plaintext block: stays in `work` until the verdict. */
    store_block(work, p);
    const Verdict v = judge_last(work, ct_len, cap);
    mac = crypt<false>(mac_last(p, v.data) ^ mac, mk.rk);
    const Words diff = mac ^ load_block(in + ct_len);
    const uint32_t mac_ok = mask_zero(diff.w0 | diff.w1 | diff.w2 | diff.w3);
    const uint32_t ok = v.good & v.fits;
    const uint32_t before = (uint32_t)(n - 1) * 16;
    const uint32_t room = cap - before < 16 ? cap - before : 16;
    store_last(out + before, room, work, v.data, ok);
    *outlen = (v.m & ok) | (cap & ~ok);
    int32_t rc = pick(mac_ok, SM4_SUCCESS, SM4_ERR_MAC_MISMATCH);
    rc = pick(v.fits, rc, SM4_ERR_OUTPUT_TOO_SMALL);
    rc = pick(v.good, rc, SM4_ERR_BAD_PADDING);
    secure_wipe(&rk, sizeof rk);
    secure_wipe(&mk, sizeof mk);
    secure_wipe(work, sizeof work);
    return rc;
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
        secure_wipe(&rk, sizeof rk);
        secure_wipe(work, sizeof work);
        return SM4_SUCCESS;
    }

    /* Decryption. */
    if (len % 16 != 0) {
        return SM4_ERR_INPUT_LENGTH;
    }
    const uint32_t n = len / 16;
    const uint32_t cap = *outlen;
    if (n == 0 || cap < (n - 1) * 16) {
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
    /* Last block: stays in `work` until the verdict, which is reached
     * without a branch on its bytes. */
    store_block(work, crypt<true>(load_block(in + (size_t)16 * i), rk.rk) ^ chain);
    const Verdict v = judge_last(work, len, cap);
    const uint32_t ok = v.good & v.fits;
    const uint32_t before = (n - 1) * 16;
    store_last(out + before, cap - before < 16 ? cap - before : 16, work, v.data, ok);
    *outlen = (v.m & ok) | (cap & ~ok);
    secure_wipe(&rk, sizeof rk);
    secure_wipe(work, sizeof work);
    return pick(v.good, pick(v.fits, SM4_SUCCESS, SM4_ERR_OUTPUT_TOO_SMALL), SM4_ERR_BAD_PADDING);
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
    secure_wipe(&rk, sizeof rk);
    secure_wipe(work, sizeof work);
    return SM4_SUCCESS;
}

int32_t SM4_process_cbc_and_mac(int32_t flag, const uint8_t key[16], const uint8_t mac_key[16],
                                const uint8_t iv[16], const uint8_t *in, uint32_t len,
                                uint8_t *out, uint32_t *outlen) {
    if (flag != 0) {
        return seal_envelope(key, mac_key, iv, in, len, out, outlen);
    }
    return open_envelope(key, mac_key, iv, in, len, out, outlen);
}

} // extern "C"
