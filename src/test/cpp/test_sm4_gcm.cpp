// GCM's GHASH in every form against OpenSSL's GCM.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ghash.h"
#include "sm4_oracle.h"

namespace {

std::vector<zenthal::GhashFn> GhashForms() {
    std::vector<zenthal::GhashFn> forms{zenthal::ghash_portable};
    if (auto f = zenthal::ghash_vclmul_form()) forms.push_back(f);
    if (auto f = zenthal::ghash_clmul_form()) forms.push_back(f);
    if (auto f = zenthal::ghash_pmull_form()) forms.push_back(f);
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
    }
}
