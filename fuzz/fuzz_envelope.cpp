// The encrypt-and-MAC envelope (ciphertext || 16-byte CBC-MAC), against a
// reference built from OpenSSL's SM4-CBC.
//  - Opening arbitrary bytes under arbitrary keys and capacity: the result
//    code, *outlen and every byte of `out` are predicted exactly; `out` has
//    exactly the capacity, so ASan sees any write past it.
//  - Sealing the same bytes gives OpenSSL's ciphertext and the reference MAC
//    and opens back into a capacity of exactly the plaintext length.
//  - A byte flipped anywhere in the sealed envelope is rejected: in the
//    ciphertext by the padding or the MAC (when the two keys differ), in the
//    MAC by the MAC alone, with the plaintext still delivered as on a
//    mismatch.
//  - The sealed envelope's last plaintext block is reshaped into any
//    padding, valid or not (pad value 0 to 255, one byte of the padding
//    wrong or none): opening, which judges the padding without branching on
//    it, still agrees with OpenSSL, and every bad shape gives the padding
//    code.
//  - Plaintexts whose envelope length does not fit in 32 bits are refused
//    before anything is read.
// Each input runs in every form of the block transform the processor has the
// instructions of, by the fuzzers' own reading of it (test_forms.h).
//
// Input: [key 16] [mac key 16] [iv 16] [open capacity 16-bit]
//        [seal capacity 16-bit] [flip position 16-bit] [flip mask]
//        [MAC flip position] [data...]
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "forms/sm4_forms.h"
#include "test_forms.h"

#include "sm4_cbc.h"
#include "fuzz_util.h"

namespace {

using fuzz::Capacity;
using fuzz::openssl_cbc;
using fuzz::OutBuf;
using fuzz::Reader;

using Bytes = std::vector<uint8_t>;

struct Keys {
    uint8_t enc[16];
    uint8_t mac[16];
    uint8_t iv[16];
};

// CBC-MAC with 0x80-then-zeros padding: the last block of an unpadded
// OpenSSL CBC encryption of the padded message.
Bytes reference_mac(const Keys &k, const uint8_t *msg, size_t len) {
    Bytes padded(msg, msg + len);
    padded.push_back(0x80);
    while (padded.size() % 16 != 0) padded.push_back(0);
    Bytes c;
    openssl_cbc(true, false, k.mac, k.iv, padded.data(), padded.size(), &c);
    return Bytes(c.end() - 16, c.end());
}

// Capacities up to the longest output plus a block: len + 48.
Capacity pick_capacity(uint16_t sel, size_t len) { return fuzz::pick_capacity(sel, len, 48); }

// Opens `in` and checks code, *outlen and `out` against the prediction.
// Returns the code.
int32_t check_open(const Keys &k, const uint8_t *in, size_t len, Capacity cap) {
    OutBuf out(cap.backed);
    uint32_t outlen = cap.claimed;
    const int32_t rc =
        SM4_process_cbc_and_mac(0, k.enc, k.mac, k.iv, in, static_cast<uint32_t>(len), out.p.get(), &outlen);
    CHECK(rc == SM4_SUCCESS || rc == SM4_ERR_INPUT_LENGTH || rc == SM4_ERR_OUTPUT_TOO_SMALL ||
          rc == SM4_ERR_BAD_PADDING || rc == SM4_ERR_MAC_MISMATCH);

    if (len % 16 != 0 || len < 32) {
        CHECK(rc == SM4_ERR_INPUT_LENGTH);
        CHECK(outlen == cap.claimed);
        CHECK(out.untouched_from(0));
        return rc;
    }
    const size_t ct_len = len - 16;
    const size_t early = ct_len - 16;
    if (cap.claimed < early) {
        CHECK(rc == SM4_ERR_OUTPUT_TOO_SMALL);
        CHECK(outlen == cap.claimed);
        CHECK(out.untouched_from(0));
        return rc;
    }
    Bytes raw, plain;
    openssl_cbc(false, false, k.enc, k.iv, in, ct_len, &raw);
    const bool padding_ok = openssl_cbc(false, true, k.enc, k.iv, in, ct_len, &plain);
    if (!padding_ok || cap.claimed < plain.size()) {
        CHECK(rc == (padding_ok ? SM4_ERR_OUTPUT_TOO_SMALL : SM4_ERR_BAD_PADDING));
        CHECK(outlen == cap.claimed);
        CHECK(out.holds(raw.data(), early));
        CHECK(out.untouched_from(early));
        return rc;
    }
    // Whether or not the MAC matches, the plaintext and its length are out.
    const Bytes mac = reference_mac(k, plain.data(), plain.size());
    const bool mac_ok = std::memcmp(mac.data(), in + ct_len, 16) == 0;
    CHECK(rc == (mac_ok ? SM4_SUCCESS : SM4_ERR_MAC_MISMATCH));
    CHECK(outlen == plain.size());
    CHECK(out.holds(plain.data(), plain.size()));
    CHECK(out.untouched_from(plain.size()));
    return rc;
}

// Seals `in`; on success returns the envelope, checked against the reference.
bool check_seal(const Keys &k, const uint8_t *in, size_t len, Capacity cap, Bytes *envelope) {
    const size_t need = len / 16 * 16 + 32;
    OutBuf out(cap.backed);
    uint32_t outlen = cap.claimed;
    const int32_t rc =
        SM4_process_cbc_and_mac(1, k.enc, k.mac, k.iv, in, static_cast<uint32_t>(len), out.p.get(), &outlen);
    if (cap.claimed < need) {
        CHECK(rc == SM4_ERR_OUTPUT_TOO_SMALL);
        CHECK(outlen == cap.claimed);
        CHECK(out.untouched_from(0));
        return false;
    }
    Bytes expected;
    openssl_cbc(true, true, k.enc, k.iv, in, len, &expected);
    const Bytes mac = reference_mac(k, in, len);
    expected.insert(expected.end(), mac.begin(), mac.end());
    CHECK(rc == SM4_SUCCESS);
    CHECK(outlen == need && expected.size() == need);
    CHECK(out.holds(expected.data(), need));
    CHECK(out.untouched_from(need));
    *envelope = expected;
    return true;
}

// Exactly `len` bytes on the heap, so ASan sees reads past the envelope.
std::unique_ptr<uint8_t[]> exact_copy(const Bytes &b) {
    std::unique_ptr<uint8_t[]> p(new uint8_t[b.size()]);
    std::memcpy(p.get(), b.data(), b.size());
    return p;
}

// Reshapes the last plaintext block of `env`, the envelope of the `len`
// bytes at `plain`: pad value v in the last byte and the v - 1 before it,
// byte w (0 to 14, 15 for none) changed. In CBC an XOR into the previous
// ciphertext block (or into the IV, for a single block) lands on the last
// plaintext block, so any shape can be made.
void check_padding_shape(const Keys &k, const Bytes &env, const uint8_t *plain, size_t len, uint8_t vsel,
                         uint8_t wsel) {
    const size_t ct_len = env.size() - 16;
    const size_t n = ct_len / 16;
    const size_t r = len % 16;
    uint8_t last[16], want[16];
    for (size_t j = 0; j < 16; ++j) last[j] = j < r ? plain[16 * (n - 1) + j] : static_cast<uint8_t>(16 - r);
    std::memcpy(want, last, 16);
    const unsigned v = vsel % 18 == 17 ? (0x11u | vsel) : vsel % 18u;
    for (size_t j = 0; j < 16; ++j)
        if (j == 15 || j + v >= 16) want[j] = static_cast<uint8_t>(v);
    const unsigned w = wsel % 16;
    if (w < 15) want[w] ^= static_cast<uint8_t>(1 + (wsel >> 4));
    const bool valid = v >= 1 && v <= 16 && !(w < 15 && w + v >= 16);

    Keys k2 = k;
    Bytes e2 = env;
    uint8_t *const prev = n == 1 ? k2.iv : e2.data() + 16 * (n - 2);
    for (size_t j = 0; j < 16; ++j) prev[j] ^= last[j] ^ want[j];
    const int32_t rc =
        check_open(k2, exact_copy(e2).get(), e2.size(), Capacity{static_cast<uint32_t>(ct_len), ct_len});
    if (!valid)
        CHECK(rc == SM4_ERR_BAD_PADDING);
    else
        CHECK(rc == SM4_SUCCESS || rc == SM4_ERR_MAC_MISMATCH);
}

// Envelope lengths of 2^32 and more cannot be stated in *outlen; sealing
// must refuse them from the lengths alone, without touching `in` or `out`.
void check_oversized(const Keys &k, uint8_t sel) {
    const uint8_t in[1] = {0};
    OutBuf out(16);
    uint32_t outlen = 0xFFFFFFFFu;
    const uint32_t len = 0xFFFFFFE0u | (sel & 0x1Fu);
    CHECK(SM4_process_cbc_and_mac(1, k.enc, k.mac, k.iv, in, len, out.p.get(), &outlen) ==
          SM4_ERR_OUTPUT_TOO_SMALL);
    CHECK(outlen == 0xFFFFFFFFu);
    CHECK(out.untouched_from(0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader r{data, size};
    Keys k;
    r.take(k.enc, 16);
    r.take(k.mac, 16);
    r.take(k.iv, 16);
    const uint16_t open_sel = r.u16();
    const uint16_t seal_sel = r.u16();
    const uint16_t flip_pos = r.u16();
    const uint8_t flip_mask = r.u8();
    const uint8_t mac_pos = r.u8();
    const uint8_t *const in = r.p;
    const size_t len = r.n;
    const Keys before = k;

    // Every form of the block transform this processor has the instructions
    // of, in turn; the library must offer each.
    for (const char *const *form = zenthal::SM4_FORM_NAMES; *form != nullptr; ++form) {
        if (!fuzz::use_sm4_form(*form)) continue;
        check_open(k, in, len, pick_capacity(open_sel, len));

        Bytes env;
        if (check_seal(k, in, len, pick_capacity(seal_sel, len), &env)) {
            const size_t ct_len = env.size() - 16;
            CHECK(check_open(k, exact_copy(env).get(), env.size(),
                             Capacity{static_cast<uint32_t>(len), len}) == SM4_SUCCESS);

            // A capacity of the whole ciphertext leaves room for any plaintext a
            // tampered envelope could decrypt to, so only padding or MAC reject.
            // Under one key for both, the MAC chain over the decrypted plaintext
            // retraces the ciphertext blocks, so a flip before the last two
            // blocks goes unnoticed: rejection holds for distinct keys only.
            const Capacity roomy{static_cast<uint32_t>(ct_len), ct_len};
            Bytes bad = env;
            bad[flip_pos % ct_len] ^= flip_mask ? flip_mask : 1;
            const int32_t rc = check_open(k, exact_copy(bad).get(), bad.size(), roomy);
            if (std::memcmp(k.enc, k.mac, 16) != 0)
                CHECK(rc == SM4_ERR_BAD_PADDING || rc == SM4_ERR_MAC_MISMATCH);

            bad = env;
            bad[ct_len + mac_pos % 16] ^= flip_mask ? flip_mask : 1;
            CHECK(check_open(k, exact_copy(bad).get(), bad.size(), roomy) == SM4_ERR_MAC_MISMATCH);

            check_padding_shape(k, env, in, len, flip_mask, mac_pos);
        }
        check_oversized(k, mac_pos);
    }
    CHECK(std::memcmp(&k, &before, sizeof k) == 0);
    return 0;
}
