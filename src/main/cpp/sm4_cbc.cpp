// SM4 modes of operation: CBC with PKCS#7 padding, CBC-MAC
// with ISO/IEC 9797-1 padding method 2, and the encrypt-and-MAC envelope.
// No heap; each key is expanded once per call. The block transform is the
// form chosen for the processor (sm4_forms.h): the serial chains (CBC
// encryption, the MAC, sealing, opening) step through its `pair`, which runs
// two blocks side by side at the latency of one; CBC decryption hands its
// blocks to `blocks`, many at once.
//
// The envelope runs in one pass: sealing advances the CBC chain and the MAC
// chain in the two lanes of one step, and opening deciphers block i + 1 in
// one lane while the MAC absorbs plaintext block i in the other. A pass
// costs about one chain.
//
// Guards that a plain reading of the modes would lack:
//  - the last block of a CBC decryption is judged without a branch on its
//    bytes: the padding check reads all 16 bytes, the capacity check and the
//    store of the data bytes go through masks, and the result code is chosen
//    at the end. Opening always runs the MAC over as many blocks as the
//    ciphertext has, forms its last block with masks and compares all 16
//    bytes. So the time an opening takes depends on the lengths alone, not
//    on why it fails; the result codes are unchanged;
//  - round keys and working blocks are wiped before every return that
//    follows a key schedule;
//  - CBC encryption of len >= 4294967280 and sealing of len >= 4294967264,
//    whose output length does not fit in 32 bits, return
//    SM4_ERR_OUTPUT_TOO_SMALL before anything is read or written.
#include "sm4_cbc.h"

#include <stdint.h>
#include <string.h>

#include "forms/sm4_forms.h"
#include "forms/sm4_table.h"
#include "sm4.h"
#include "util/byteorder.h"
#include "util/ct.h"
#include "util/wipe.h"

namespace {

using zenthal::ct_equal;
using zenthal::ct_mask;
using zenthal::ct_mask_lt;
using zenthal::ct_mask_nonzero;
using zenthal::ct_mask_zero;
using zenthal::ct_pkcs7_length;
using zenthal::ct_select;
using zenthal::secure_wipe;
using zenthal::sm4_lanes;
using zenthal::Sm4Form;
using zenthal::Sm4Lanes;
using zenthal::xor_block;

// What the deciphered last block of a CBC ciphertext of `len` bytes decides,
// read without a branch on its bytes.
struct Verdict {
    uint32_t good;  // mask: valid PKCS#7 padding
    uint32_t fits;  // mask: the plaintext length is within the capacity
    int32_t data;   // 16 - pad value: the data bytes of the last block when good
    uint32_t m;     // len - pad value: the plaintext length when good
};

static inline Verdict judge_last(const uint8_t work[16], uint32_t len, uint32_t cap) {
    const uint32_t p = work[15];
    const int32_t data = 16 - static_cast<int32_t>(p);
    const uint32_t good = ct_mask_nonzero(ct_pkcs7_length(work));
    // cap >= len - p in 64 bits: for a bad pad value len - p may be negative.
    const uint64_t slack = static_cast<uint64_t>(cap) + p - len;
    const uint32_t fits = ~ct_mask(static_cast<uint32_t>(slack >> 63));
    return {good, fits, data, len - p};
}

// Stores the data bytes of the last block at `dst` when `ok`, leaves them as
// they were otherwise. `room`, the bytes of `dst` within the capacity, is
// public; which of them change is decided by masks.
static inline void store_last(uint8_t *dst, uint32_t room, const uint8_t work[16], int32_t data,
                              uint32_t ok) {
    for (uint32_t j = 0; j < room; ++j) {
        const uint32_t take = ok & ct_mask_lt(static_cast<int32_t>(j), data);
        dst[j] = static_cast<uint8_t>((work[j] & take) | (dst[j] & ~take));
    }
}

// The MAC's last block from the last plaintext block p: its `data` data
// bytes, 0x80, zero bytes; formed with masks, as `data` is secret. For a bad
// pad value the block is meaningless, and the MAC is computed anyway.
static inline void mac_last(uint8_t last[16], const uint8_t p[16], int32_t data) {
    for (int32_t j = 0; j < 16; ++j) {
        const uint32_t keep = ct_mask_lt(j, data);
        const uint32_t mark = ct_mask_zero(static_cast<uint32_t>(j - data));
        last[j] = static_cast<uint8_t>((p[j] & keep) | (0x80u & mark));
    }
}

// Seals in one pass: each plaintext block enters the CBC chain under `rk`
// (lane a) and the MAC chain under `mk` (lane b), both started from the IV.
// The envelope and the MAC padding both add one block to the n whole ones,
// so the two chains have the same length and step together to the end.
static int32_t seal_envelope(const Sm4Form &f, const uint8_t key[16], const uint8_t mac_key[16],
                             const uint8_t iv[16], const uint8_t *in, uint32_t len, uint8_t *out,
                             uint32_t *outlen) {
    // need = (len rounded down to 16) + 32, computed in 64 bits: for
    // len >= 4294967264 it is at least 2^32, above every 32-bit capacity,
    // so such lengths are rejected before anything is touched.
    const uint64_t need = (uint64_t)(len / 16) * 16 + 32;
    if ((uint64_t)*outlen < need) {
        return SM4_ERR_OUTPUT_TOO_SMALL;
    }
    const uint32_t n = len / 16;
    const uint32_t r = len % 16;
    SM4_round_keys rk, mk;
    Sm4Lanes lanes;
    uint8_t chain[16], mac[16], work[16], last[16];
    f.set_key(key, &rk);
    f.set_key(mac_key, &mk);
    sm4_lanes(f, &lanes, &rk, false, &mk, false);
    memcpy(chain, iv, 16);
    memcpy(mac, iv, 16);
    sm4_chain(f, &lanes, chain, mac, in, out, n);
    // Last blocks, always present: the tail, then the PKCS#7 pad bytes for
    // CBC and 0x80 and zeros for the MAC. A byte loop, since `in` may be
    // null when len is 0.
    const uint8_t *const tail = in + (size_t)16 * n;
    for (uint32_t j = 0; j < r; ++j) {
        work[j] = tail[j];
        last[j] = tail[j];
    }
    memset(work + r, (int)(16 - r), 16 - r);
    last[r] = 0x80;
    memset(last + r + 1, 0, 15 - r);
    xor_block(chain, chain, work);
    xor_block(mac, mac, last);
    f.pair(&lanes, chain, mac);
    memcpy(out + (size_t)16 * n, chain, 16);
    memcpy(out + (size_t)16 * n + 16, mac, 16);
    *outlen = (uint32_t)need;
    secure_wipe(&rk, sizeof rk);
    secure_wipe(&mk, sizeof mk);
    secure_wipe(&lanes, sizeof lanes);
    secure_wipe(work, sizeof work);
    secure_wipe(last, sizeof last);
    return SM4_SUCCESS;
}

// Opens in one pass: while ciphertext block i + 1 is deciphered (lane a),
// the MAC absorbs plaintext block i (lane b). The padding leaves
// 16 * (n - 1) to 16 * n - 1 plaintext bytes, so the MAC always spans
// exactly n blocks, the last formed from the last plaintext block. Past the
// checks on the lengths, which are public, every step runs whatever the
// bytes: padding, capacity and MAC are judged with masks and the result
// code is picked at the end.
static int32_t open_envelope(const Sm4Form &f, const uint8_t key[16], const uint8_t mac_key[16],
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
    Sm4Lanes lanes;
    uint8_t mac[16], p[16], d[16], spare[16], last[16];
    f.set_key(key, &rk);
    f.set_key(mac_key, &mk);
    sm4_lanes(f, &lanes, &rk, true, &mk, false);
    memcpy(mac, iv, 16);
    memcpy(p, in, 16);
    memset(spare, 0, 16);
    f.pair(&lanes, p, spare);
    xor_block(p, p, iv);
    for (uint32_t i = 1; i < n; ++i) {
        memcpy(out + (size_t)16 * (i - 1), p, 16);
        memcpy(d, in + (size_t)16 * i, 16);
        xor_block(mac, mac, p);
        f.pair(&lanes, d, mac);
        xor_block(p, d, in + (size_t)16 * (i - 1));
    }
    // p, the last plaintext block, stays here until the verdict.
    const Verdict v = judge_last(p, ct_len, cap);
    mac_last(last, p, v.data);
    xor_block(mac, mac, last);
    f.pair(&lanes, spare, mac);
    const uint32_t mac_ok = ct_equal(mac, in + ct_len, 16);
    const uint32_t ok = v.good & v.fits;
    const uint32_t before = (uint32_t)(n - 1) * 16;
    const uint32_t room = cap - before < 16 ? cap - before : 16;
    store_last(out + before, room, p, v.data, ok);
    *outlen = (v.m & ok) | (cap & ~ok);
    int32_t rc = ct_select(mac_ok, SM4_SUCCESS, SM4_ERR_MAC_MISMATCH);
    rc = ct_select(v.fits, rc, SM4_ERR_OUTPUT_TOO_SMALL);
    rc = ct_select(v.good, rc, SM4_ERR_BAD_PADDING);
    secure_wipe(&rk, sizeof rk);
    secure_wipe(&mk, sizeof mk);
    secure_wipe(&lanes, sizeof lanes);
    secure_wipe(mac, sizeof mac);
    secure_wipe(p, sizeof p);
    secure_wipe(d, sizeof d);
    secure_wipe(spare, sizeof spare);
    secure_wipe(last, sizeof last);
    return rc;
}

// Blocks per call to the form's `blocks` in CBC decryption: the deciphered
// run (4 KiB) is still in the first-level cache when the chaining XOR reads
// it, and a form's setup per call (its key preparation) is spread over
// enough blocks to cost little.
constexpr uint32_t kCbcRun = 256;

}  // namespace

namespace zenthal {

int32_t sm4_cbc(const Sm4Form &f, int32_t flag, const uint8_t key[16], const uint8_t iv[16],
                const uint8_t *in, uint32_t len, uint8_t *out, uint32_t *outlen) {
    SM4_round_keys rk;
    uint8_t work[16];

    if (flag != 0) {
        // Encryption. need = (n + 1) * 16 is computed in 64 bits: for
        // len >= 4294967280 it is 2^32, above every 32-bit capacity, so such
        // lengths are rejected here before anything is read or written.
        const uint32_t n = len / 16;
        const uint32_t r = len % 16;
        const uint64_t need = ((uint64_t)n + 1) * 16;
        if ((uint64_t)*outlen < need) {
            return SM4_ERR_OUTPUT_TOO_SMALL;
        }
        Sm4Lanes lanes;
        uint8_t chain[16];
        f.set_key(key, &rk);
        sm4_lanes(f, &lanes, &rk, false, &rk, false);
        memcpy(chain, iv, 16);
        sm4_chain(f, &lanes, chain, nullptr, in, out, n);
        // Last block, always present: the tail, then the pad bytes. A byte
        // loop, since `in` may be null when len is 0.
        const uint8_t *const tail = in + (size_t)16 * n;
        for (uint32_t j = 0; j < r; ++j) {
            work[j] = tail[j];
        }
        memset(work + r, (int)(16 - r), 16 - r);
        xor_block(chain, chain, work);
        f.pair(&lanes, chain, chain);
        memcpy(out + (size_t)16 * n, chain, 16);
        *outlen = (uint32_t)need;
        secure_wipe(&rk, sizeof rk);
        secure_wipe(&lanes, sizeof lanes);
        secure_wipe(work, sizeof work);
        return SM4_SUCCESS;
    }

    // Decryption.
    if (len % 16 != 0) {
        return SM4_ERR_INPUT_LENGTH;
    }
    const uint32_t n = len / 16;
    const uint32_t cap = *outlen;
    if (n == 0 || cap < (n - 1) * 16) {
        return SM4_ERR_OUTPUT_TOO_SMALL;
    }
    f.set_key(key, &rk);
    // Blocks before the last: deciphered in runs, many at a time, as they
    // depend on the ciphertext alone; then each is XORed with the block
    // before it.
    const uint8_t *prev = iv;
    for (uint32_t i = 0; i + 1 < n;) {
        const uint32_t run = n - 1 - i < kCbcRun ? n - 1 - i : kCbcRun;
        uint8_t *const o = out + (size_t)16 * i;
        f.blocks(rk.rk, in + (size_t)16 * i, o, run, true);
        xor_block(o, o, prev);
        for (uint32_t j = 1; j < run; ++j) {
            xor_block(o + (size_t)16 * j, o + (size_t)16 * j, in + (size_t)16 * (i + j - 1));
        }
        prev = in + (size_t)16 * (i + run - 1);
        i += run;
    }
    // Last block: stays in `work` until the verdict, which is reached
    // without a branch on its bytes.
    f.blocks(rk.rk, in + (size_t)16 * (n - 1), work, 1, true);
    xor_block(work, work, prev);
    const Verdict v = judge_last(work, len, cap);
    const uint32_t ok = v.good & v.fits;
    const uint32_t before = (n - 1) * 16;
    store_last(out + before, cap - before < 16 ? cap - before : 16, work, v.data, ok);
    *outlen = (v.m & ok) | (cap & ~ok);
    secure_wipe(&rk, sizeof rk);
    secure_wipe(work, sizeof work);
    return ct_select(v.good, ct_select(v.fits, SM4_SUCCESS, SM4_ERR_OUTPUT_TOO_SMALL), SM4_ERR_BAD_PADDING);
}

int32_t sm4_mac(const Sm4Form &f, const uint8_t key[16], const uint8_t iv[16], const uint8_t *in,
                uint32_t len, uint8_t mac[16]) {
    SM4_round_keys rk;
    Sm4Lanes lanes;
    uint8_t chain[16], work[16];
    const uint32_t n = len / 16;
    const uint32_t r = len % 16;

    f.set_key(key, &rk);
    sm4_lanes(f, &lanes, &rk, false, &rk, false);
    memcpy(chain, iv, 16);
    sm4_chain(f, &lanes, chain, nullptr, in, nullptr, n);
    // Final block, always present: data bytes, 0x80, zero bytes.
    const uint8_t *const tail = in + (size_t)16 * n;
    for (uint32_t j = 0; j < r; ++j) {
        work[j] = tail[j];
    }
    work[r] = 0x80;
    memset(work + r + 1, 0, 15 - r);
    xor_block(chain, chain, work);
    f.pair(&lanes, chain, chain);
    memcpy(mac, chain, 16);
    secure_wipe(&rk, sizeof rk);
    secure_wipe(&lanes, sizeof lanes);
    secure_wipe(chain, sizeof chain);
    secure_wipe(work, sizeof work);
    return SM4_SUCCESS;
}

int32_t sm4_cbc_and_mac(const Sm4Form &f, int32_t flag, const uint8_t key[16], const uint8_t mac_key[16],
                        const uint8_t iv[16], const uint8_t *in, uint32_t len, uint8_t *out,
                        uint32_t *outlen) {
    if (flag != 0) {
        return seal_envelope(f, key, mac_key, iv, in, len, out, outlen);
    }
    return open_envelope(f, key, mac_key, iv, in, len, out, outlen);
}

}  // namespace zenthal

extern "C" {

int32_t SM4_process_cbc(int32_t flag, const uint8_t key[16], const uint8_t iv[16], const uint8_t *in,
                        uint32_t len, uint8_t *out, uint32_t *outlen) {
    return zenthal::sm4_cbc(zenthal::sm4_form(), flag, key, iv, in, len, out, outlen);
}

int32_t SM4_process_mac(const uint8_t key[16], const uint8_t iv[16], const uint8_t *in, uint32_t len,
                        uint8_t mac[16]) {
    return zenthal::sm4_mac(zenthal::sm4_form(), key, iv, in, len, mac);
}

int32_t SM4_process_cbc_and_mac(int32_t flag, const uint8_t key[16], const uint8_t mac_key[16],
                                const uint8_t iv[16], const uint8_t *in, uint32_t len, uint8_t *out,
                                uint32_t *outlen) {
    return zenthal::sm4_cbc_and_mac(zenthal::sm4_form(), flag, key, mac_key, iv, in, len, out, outlen);
}

}  // extern "C"
