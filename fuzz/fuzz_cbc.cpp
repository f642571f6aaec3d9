// SM4-CBC with PKCS#7 padding, against OpenSSL's SM4-CBC.
//  - Decrypting arbitrary bytes with an arbitrary capacity: the result code,
//    *outlen and every byte of `out` are what the failure table or OpenSSL's
//    plaintext say; `out` is allocated with exactly the capacity, so ASan
//    sees any write past it.
//  - Encrypting the same bytes matches OpenSSL's ciphertext or fails cleanly
//    for lack of room, and a successful ciphertext decrypts back with a
//    capacity of exactly the plaintext length.
//  - Lengths whose padded size does not fit in 32 bits are refused before
//    anything is read.
//  - The JCA Cipher's engine: ECB, CBC and CTR over the same bytes, fed in
//    two pieces cut where the input says, equal OpenSSL; GCM's tag is the
//    same fed in pieces or whole, and every GHASH form equals the portable.
// Each input runs in every form of the block transform the processor has the
// instructions of, by the fuzzers' own reading of it (test_forms.h).
//
// Input: [key 16] [iv 16] [flag selector] [decrypt capacity 16-bit]
//        [encrypt capacity 16-bit] [data...]
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "sm4_cbc.h"
#include "ghash.h"
#include "forms/sm4_forms.h"
#include "test_forms.h"
#include "sm4_block_modes.h"
#include "sm4_gcm.h"
#include "fuzz_util.h"

namespace {

using fuzz::Capacity;
using fuzz::openssl_cbc;
using fuzz::OutBuf;
using fuzz::Reader;

using Bytes = std::vector<uint8_t>;

// Capacities up to the longest output plus a block: len + 32.
Capacity pick_capacity(uint16_t sel, size_t len) { return fuzz::pick_capacity(sel, len, 32); }

int32_t encrypt_flag(uint8_t sel) {
    static const int32_t flags[4] = {1, -1, INT32_MIN, 0x100};
    return flags[sel & 3];
}

bool is_mode_code(int32_t rc) {
    return rc == SM4_SUCCESS || rc == SM4_ERR_INPUT_LENGTH || rc == SM4_ERR_OUTPUT_TOO_SMALL ||
           rc == SM4_ERR_BAD_PADDING;
}

void check_decrypt(const uint8_t key[16], const uint8_t iv[16], const uint8_t *in, size_t len, Capacity cap) {
    OutBuf out(cap.backed);
    uint32_t outlen = cap.claimed;
    const int32_t rc = SM4_process_cbc(0, key, iv, in, static_cast<uint32_t>(len), out.p.get(), &outlen);
    CHECK(is_mode_code(rc));
    if (rc != SM4_SUCCESS) CHECK(outlen == cap.claimed);

    if (len % 16 != 0) {
        CHECK(rc == SM4_ERR_INPUT_LENGTH);
        CHECK(out.untouched_from(0));
        return;
    }
    const size_t n = len / 16;
    if (n == 0 || cap.claimed < (n - 1) * 16) {
        CHECK(rc == SM4_ERR_OUTPUT_TOO_SMALL);
        CHECK(out.untouched_from(0));
        return;
    }

    // All blocks but the last reach `out` before the padding is judged.
    Bytes raw, plain;
    openssl_cbc(false, false, key, iv, in, len, &raw);
    const size_t early = (n - 1) * 16;
    if (!openssl_cbc(false, true, key, iv, in, len, &plain)) {
        CHECK(rc == SM4_ERR_BAD_PADDING);
        CHECK(out.holds(raw.data(), early));
        CHECK(out.untouched_from(early));
        return;
    }
    if (cap.claimed < plain.size()) {
        CHECK(rc == SM4_ERR_OUTPUT_TOO_SMALL);
        CHECK(out.holds(raw.data(), early));
        CHECK(out.untouched_from(early));
        return;
    }
    CHECK(rc == SM4_SUCCESS);
    CHECK(outlen == plain.size());
    CHECK(out.holds(plain.data(), plain.size()));
    CHECK(out.untouched_from(plain.size()));
}

void check_encrypt(int32_t flag, const uint8_t key[16], const uint8_t iv[16], const uint8_t *in, size_t len,
                   Capacity cap) {
    const size_t need = (len / 16 + 1) * 16;
    OutBuf out(cap.backed);
    uint32_t outlen = cap.claimed;
    const int32_t rc = SM4_process_cbc(flag, key, iv, in, static_cast<uint32_t>(len), out.p.get(), &outlen);
    if (cap.claimed < need) {
        CHECK(rc == SM4_ERR_OUTPUT_TOO_SMALL);
        CHECK(outlen == cap.claimed);
        CHECK(out.untouched_from(0));
        return;
    }
    Bytes expected;
    openssl_cbc(true, true, key, iv, in, len, &expected);
    CHECK(rc == SM4_SUCCESS);
    CHECK(outlen == need && expected.size() == need);
    CHECK(out.holds(expected.data(), need));
    CHECK(out.untouched_from(need));

    // Round trip into exactly the plaintext's length.
    OutBuf back(len);
    uint32_t backlen = static_cast<uint32_t>(len);
    CHECK(SM4_process_cbc(0, key, iv, out.p.get(), static_cast<uint32_t>(need), back.p.get(), &backlen) ==
          SM4_SUCCESS);
    CHECK(backlen == len);
    CHECK(back.holds(in, len));
}

// Padded lengths of 2^32 and more cannot be stated in *outlen; the call must
// refuse them from the lengths alone, without touching `in` or `out`.
void check_oversized(int32_t flag, const uint8_t key[16], const uint8_t iv[16], uint8_t sel) {
    const uint8_t in[1] = {0};
    OutBuf out(16);
    uint32_t outlen = 0xFFFFFFFFu;
    const uint32_t len = 0xFFFFFFF0u | (sel & 0x0Fu);
    CHECK(SM4_process_cbc(flag, key, iv, in, len, out.p.get(), &outlen) == SM4_ERR_OUTPUT_TOO_SMALL);
    CHECK(outlen == 0xFFFFFFFFu);
    CHECK(out.untouched_from(0));
}

}  // namespace

void check_modes(const uint8_t key[16], const uint8_t iv[16], const uint8_t *in, size_t len, size_t cut) {
    SM4_round_keys rk;
    SM4_set_key(key, &rk);
    const size_t whole = len / 16;
    const size_t cut_blocks = whole ? cut % (whole + 1) : 0;
    Bytes want, got(len + 1, 0x5a);
    // ECB and CBC, whole blocks, in two calls.
    for (int decrypt = 0; decrypt < 2; ++decrypt) {
        fuzz::openssl_sm4("SM4-ECB", !decrypt, false, key, iv, in, 16 * whole, &want);
        zenthal::sm4_ecb(&rk, decrypt, in, got.data(), cut_blocks);
        zenthal::sm4_ecb(&rk, decrypt, in + 16 * cut_blocks, got.data() + 16 * cut_blocks,
                         whole - cut_blocks);
        CHECK(std::memcmp(got.data(), want.data(), 16 * whole) == 0);
        fuzz::openssl_sm4("SM4-CBC", !decrypt, false, key, iv, in, 16 * whole, &want);
        uint8_t chain[16];
        std::memcpy(chain, iv, 16);
        zenthal::sm4_cbc(&rk, decrypt, chain, in, got.data(), cut_blocks);
        zenthal::sm4_cbc(&rk, decrypt, chain, in + 16 * cut_blocks, got.data() + 16 * cut_blocks,
                         whole - cut_blocks);
        CHECK(std::memcmp(got.data(), want.data(), 16 * whole) == 0);
    }
    // CTR, any length, cut anywhere.
    const size_t at = len ? cut % (len + 1) : 0;
    fuzz::openssl_sm4("SM4-CTR", true, false, key, iv, in, len, &want);
    uint8_t ctr[16], ks[16];
    uint32_t pos = 0;
    std::memcpy(ctr, iv, 16);
    zenthal::sm4_ctr(&rk, true, ctr, ks, &pos, in, got.data(), at);
    zenthal::sm4_ctr(&rk, true, ctr, ks, &pos, in + at, got.data() + at, len - at);
    CHECK(std::memcmp(got.data(), want.data(), len) == 0);
    CHECK(got[len] == 0x5a);
    // GCM: the same tag whether AAD and ciphertext are hashed whole or in pieces.
    uint8_t tags[2][16];
    for (int pieces = 0; pieces < 2; ++pieces) {
        zenthal::Sm4GcmState st;
        zenthal::sm4_gcm_start(&rk, &st, iv);
        const size_t aad = at / 2, c = pieces ? (len - aad) / 3 : len - aad;
        zenthal::sm4_gcm_aad(&st, in, pieces ? aad / 2 : aad);
        if (pieces) zenthal::sm4_gcm_aad(&st, in + aad / 2, aad - aad / 2);
        zenthal::sm4_gcm_hash(&st, in + aad, c);
        zenthal::sm4_gcm_hash(&st, in + aad + c, len - aad - c);
        zenthal::sm4_gcm_tag(&st, tags[pieces]);
    }
    CHECK(std::memcmp(tags[0], tags[1], 16) == 0);
    uint8_t x0[16] = {0}, x1[16] = {0};
    const uint8_t *h = iv;
    zenthal::ghash_portable(x0, h, in, whole);
    // Every GHASH form the processor has the instructions of, which the
    // library must offer.
    const std::pair<zenthal::GhashFn, bool> forms[] = {
        {zenthal::ghash_vclmul_form(), test_forms::host_runs_ghash_vclmul()},
        {zenthal::ghash_clmul_form(), test_forms::host_runs_ghash_clmul()},
        {zenthal::ghash_pmull_form(), test_forms::host_runs_ghash_pmull()},
    };
    for (const auto &form : forms) {
        CHECK((form.first != nullptr) == form.second);
        if (form.first == nullptr) continue;
        std::memset(x1, 0, 16);
        form.first(x1, h, in, whole);
        CHECK(std::memcmp(x0, x1, 16) == 0);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader r{data, size};
    uint8_t key[16], iv[16];
    r.take(key, 16);
    r.take(iv, 16);
    const uint8_t flag_sel = r.u8();
    const uint16_t dec_sel = r.u16();
    const uint16_t enc_sel = r.u16();
    const uint8_t *const in = r.p;
    const size_t len = r.n;

    uint8_t key_copy[16], iv_copy[16];
    std::memcpy(key_copy, key, 16);
    std::memcpy(iv_copy, iv, 16);

    // Every form of the block transform this processor has the instructions
    // of, in turn; the library must offer each.
    for (const char *const *form = zenthal::SM4_FORM_NAMES; *form != nullptr; ++form) {
        if (!fuzz::use_sm4_form(*form)) continue;
        check_decrypt(key, iv, in, len, pick_capacity(dec_sel, len));
        check_encrypt(encrypt_flag(flag_sel), key, iv, in, len, pick_capacity(enc_sel, len));
        check_oversized(encrypt_flag(flag_sel >> 2), key, iv, flag_sel >> 4);
        check_modes(key, iv, in, len, static_cast<size_t>(dec_sel) << 8 | enc_sel);
    }

    // Key and IV are only read.
    CHECK(std::memcmp(key, key_copy, 16) == 0);
    CHECK(std::memcmp(iv, iv_copy, 16) == 0);
    return 0;
}
