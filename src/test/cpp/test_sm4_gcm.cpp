// GCM's GHASH in every form against OpenSSL's GCM, and SM4-GCM in the SM4
// form of the run (the per-form test list reruns it in each).
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ghash.h"
#include "sm4.h"
#include "sm4_cbc.h"
#include "sm4_gcm.h"
#include "sm4_oracle.h"
#include "test_forms.h"

namespace {

// Every GHASH form whose instructions the tests' own reading of the
// processor finds; the library must offer exactly those.
std::vector<zenthal::GhashFn> GhashForms() {
    std::vector<zenthal::GhashFn> forms{zenthal::ghash_portable};
    const std::pair<zenthal::GhashFn, bool> offered[] = {
        {zenthal::ghash_vclmul_form(), test_forms::host_runs_ghash_vclmul()},
        {zenthal::ghash_clmul_form(), test_forms::host_runs_ghash_clmul()},
        {zenthal::ghash_pmull_form(), test_forms::host_runs_ghash_pmull()},
    };
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(offered[i].first != nullptr, offered[i].second)
            << "GHASH form " << i << " (vclmul, clmul, pmull): the library's offer and the processor disagree";
        if (offered[i].first != nullptr) forms.push_back(offered[i].first);
    }
    return forms;
}

}  // namespace

using namespace sm4_oracle;

// GHASH against OpenSSL's AES-GCM: with no plaintext and a 12-byte IV the
// tag is E(J0) ^ GHASH_H(AAD || lengths), H = E(0), so AES-GCM reveals the
// GHASH of any AAD for a known H. Every form this processor runs is checked.
TEST(Ghash, EveryFormMatchesOpenSslGcm) {
    std::mt19937_64 rng(32);
    const auto forms = GhashForms();
    for (int iter = 0; iter < 200; ++iter) {
        const Bytes key = RandomBytes(rng, 16), iv = RandomBytes(rng, 12);
        const Bytes aad = RandomBytes(rng, rng() % 600);
        uint8_t tag[16];
        EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
        int len = 0;
        ASSERT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_128_gcm(), nullptr, key.data(), iv.data()), 1);
        ASSERT_EQ(EVP_EncryptUpdate(ctx, nullptr, &len, aad.data(), static_cast<int>(aad.size())), 1);
        ASSERT_EQ(EVP_EncryptFinal_ex(ctx, tag, &len), 1);
        ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, tag), 1);
        EVP_CIPHER_CTX_free(ctx);
        Bytes h(16, 0), j0(16, 0);
        std::memcpy(j0.data(), iv.data(), 12);
        j0[15] = 1;
        h = OpenSslStream(EVP_aes_128_ecb(), true, key.data(), nullptr, h);
        const Bytes ej0 = OpenSslStream(EVP_aes_128_ecb(), true, key.data(), nullptr, j0);
        Bytes blocks = aad;
        blocks.resize((aad.size() + 15) / 16 * 16, 0);
        Bytes lens(16, 0);
        const uint64_t bits = aad.size() * 8;
        for (int i = 0; i < 8; ++i) lens[7 - i] = static_cast<uint8_t>(bits >> (8 * i));
        blocks.insert(blocks.end(), lens.begin(), lens.end());
        for (auto form : forms) {
            uint8_t x[16] = {0};
            // In two calls, to carry the accumulator between them.
            const size_t first = (rng() % (blocks.size() / 16 + 1));
            form(x, h.data(), blocks.data(), first);
            form(x, h.data(), blocks.data() + 16 * first, blocks.size() / 16 - first);
            for (int i = 0; i < 16; ++i) x[i] ^= ej0[i];
            EXPECT_EQ(0, std::memcmp(x, tag, 16)) << "aad length " << aad.size();
        }

        // SM4-GCM with the same key, IV and AAD, its reference composed of
        // OpenSSL's SM4 and the portable GHASH checked just above: H = E(0),
        // the ciphertext SM4-CTR from J0 + 1 (J0 = IV || 1; the 32-bit
        // counter starts at 2 and cannot wrap here), the tag E(J0) ^
        // GHASH_H(A || C || lengths).
        const Bytes plain = RandomBytes(rng, rng() % 700);
        Bytes ctr1 = j0;
        ctr1[15] = 2;
        const Bytes sm4_h = OpenSslStream(EVP_sm4_ecb(), true, key.data(), nullptr, Bytes(16, 0));
        const Bytes sm4_ej0 = OpenSslStream(EVP_sm4_ecb(), true, key.data(), nullptr, j0);
        const Bytes want_ct = OpenSslStream(EVP_sm4_ctr(), true, key.data(), ctr1.data(), plain);
        Bytes hashed = aad;
        hashed.resize((aad.size() + 15) / 16 * 16, 0);
        hashed.insert(hashed.end(), want_ct.begin(), want_ct.end());
        hashed.resize((hashed.size() + 15) / 16 * 16, 0);
        for (uint64_t bits : {uint64_t{aad.size()} * 8, uint64_t{plain.size()} * 8})
            for (int i = 7; i >= 0; --i) hashed.push_back(static_cast<uint8_t>(bits >> (8 * i)));
        uint8_t want_tag[16] = {0};
        zenthal::ghash_portable(want_tag, sm4_h.data(), hashed.data(), hashed.size() / 16);
        for (int i = 0; i < 16; ++i) want_tag[i] ^= sm4_ej0[i];

        SM4_round_keys rk;
        SM4_set_key(key.data(), &rk);
        zenthal::Sm4GcmState st;
        zenthal::sm4_gcm_start(&rk, &st, iv.data());
        zenthal::sm4_gcm_aad(&st, aad.data(), aad.size());
        Bytes ct(plain.size());
        const size_t cut = rng() % (plain.size() + 1);  // in two calls
        zenthal::sm4_gcm_encrypt(&rk, &st, plain.data(), ct.data(), cut);
        zenthal::sm4_gcm_encrypt(&rk, &st, plain.data() + cut, ct.data() + cut, plain.size() - cut);
        uint8_t got_tag[16];
        zenthal::sm4_gcm_tag(&st, got_tag);
        EXPECT_EQ(want_ct, ct) << "SM4-GCM, aad " << aad.size() << ", plaintext " << plain.size();
        EXPECT_EQ(0, std::memcmp(want_tag, got_tag, 16)) << "SM4-GCM tag, aad " << aad.size();

        zenthal::sm4_gcm_start(&rk, &st, iv.data());
        zenthal::sm4_gcm_aad(&st, aad.data(), aad.size());
        zenthal::sm4_gcm_hash(&st, ct.data(), ct.size());
        ASSERT_EQ(SM4_SUCCESS, zenthal::sm4_gcm_check_tag(&st, want_tag, 16));
        Bytes back(ct.size());
        uint32_t pos = 0;
        zenthal::sm4_gcm_decrypt(&rk, &st, &pos, ct.data(), back.data(), ct.size());
        EXPECT_EQ(plain, back) << "SM4-GCM decryption, plaintext " << plain.size();
    }
}
