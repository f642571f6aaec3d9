// Tests of the SM4 block cipher: the GB/T 32907 examples, the
// round keys of example 1 as integers, agreement with OpenSSL's SM4-ECB,
// inversion, aliasing and the one-shot functions; and every form of the
// transform the processor offers against the table form.
//
// ZENTHAL_TEST_SM4_FORM names a form for the whole run (test_forms.h: the
// library's, or a GFNI form built over an emulation): every SM4 function of
// the library then runs in it. The run is skipped only where the tests' own
// reading of the processor finds the form's instructions missing; an
// unknown name, or a form the library fails to offer on a processor that
// has its instructions, fails it. The test list registers the SM4 suites
// once per form.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "sm4.h"
#include "forms/sm4_forms.h"
#include "test_forms.h"

namespace {

class FormEnvironment : public testing::Environment {
  public:
    void SetUp() override {
        const char *name = std::getenv("ZENTHAL_TEST_SM4_FORM");
        if (name == nullptr || *name == '\0') return;
        const test_forms::Lookup form = test_forms::find_sm4(name);
        if (form.found == test_forms::Found::host_lacks) GTEST_SKIP() << form.why;
        if (form.found != test_forms::Found::runs) {
            // A failure in a global set-up makes GoogleTest skip every test,
            // and a skip is no failure to the test list: end the run instead.
            std::fprintf(stderr, "ZENTHAL_TEST_SM4_FORM=%s: %s\n", name, form.why.c_str());
            std::exit(1);
        }
        zenthal::sm4_use_form(*form.form);
    }
};

testing::Environment *const kFormEnvironment = testing::AddGlobalTestEnvironment(new FormEnvironment);

// GB/T 32907-2016, appendix A, example 1: key = plaintext.
const uint8_t kExampleKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                 0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
const uint8_t kExampleCipher[16] = {0x68, 0x1e, 0xdf, 0x34, 0xd2, 0x06, 0x96, 0x5e,
                                    0x86, 0xb3, 0xe9, 0x4f, 0x53, 0x6e, 0x42, 0x46};
// Example 2: the plaintext encrypted 1,000,000 times with the same key.
const uint8_t kExample2Cipher[16] = {0x59, 0x52, 0x98, 0xc7, 0xc6, 0xfd, 0x27, 0x1f,
                                     0x04, 0x02, 0xf8, 0x04, 0xc3, 0x3d, 0x3f, 0x66};

// The 32 round keys rk_0 .. rk_31 that the standard lists for example 1.
const uint32_t kExampleRoundKeys[32] = {
    0xF12186F9, 0x41662B61, 0x5A6AB19A, 0x7BA92077, 0x367360F4, 0x776A0C61, 0xB6BB89B3, 0x24763151,
    0xA520307C, 0xB7584DBD, 0xC30753ED, 0x7EE55B57, 0x6988608C, 0x30D895B7, 0x44BA14AF, 0x104495A1,
    0xD120B428, 0x73B55FA3, 0xCC874966, 0x92244439, 0xE89E641F, 0x98CA015A, 0xC7159060, 0x99E1FD2E,
    0xB79BD80C, 0x1D2115B0, 0x0E228AEB, 0xF1780C81, 0x428D3654, 0x62293496, 0x01CF72E5, 0x9124A012,
};

void FillRandom(std::mt19937_64 &rng, uint8_t *p, size_t n) {
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(rng());
}

// One block through OpenSSL's SM4-ECB without padding.
void OpenSslEcb(bool encrypt, const uint8_t key[16], const uint8_t in[16], uint8_t out[16]) {
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(EVP_CipherInit_ex(ctx, EVP_sm4_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0), 1);
    ASSERT_EQ(EVP_CIPHER_CTX_set_padding(ctx, 0), 1);
    int len = 0, fin = 0;
    ASSERT_EQ(EVP_CipherUpdate(ctx, out, &len, in, 16), 1);
    ASSERT_EQ(EVP_CipherFinal_ex(ctx, out + len, &fin), 1);
    EXPECT_EQ(len + fin, 16);
    EVP_CIPHER_CTX_free(ctx);
}

TEST(Sm4Block, Example1RoundKeysAsIntegers) {
    SM4_round_keys rk;
    std::memset(&rk, 0, sizeof rk);
    SM4_set_key(kExampleKey, &rk);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(rk.rk[i], kExampleRoundKeys[i]) << "rk[" << i << "]";
    }
}

TEST(Sm4Block, Example1EncryptDecrypt) {
    SM4_round_keys rk;
    SM4_set_key(kExampleKey, &rk);
    uint8_t c[16], p[16];
    SM4_encrypt(kExampleKey, c, &rk);
    EXPECT_EQ(0, std::memcmp(c, kExampleCipher, 16));
    SM4_decrypt(c, p, &rk);
    EXPECT_EQ(0, std::memcmp(p, kExampleKey, 16));
    // The record is only read by the transforms.
    for (int i = 0; i < 32; ++i) EXPECT_EQ(rk.rk[i], kExampleRoundKeys[i]);
}

TEST(Sm4Block, Example2MillionEncryptions) {
    SM4_round_keys rk;
    SM4_set_key(kExampleKey, &rk);
    uint8_t b[16];
    std::memcpy(b, kExampleKey, 16);
    for (int i = 0; i < 1000000; ++i) SM4_encrypt(b, b, &rk);
    EXPECT_EQ(0, std::memcmp(b, kExample2Cipher, 16));
    for (int i = 0; i < 1000000; ++i) SM4_decrypt(b, b, &rk);
    EXPECT_EQ(0, std::memcmp(b, kExampleKey, 16));
}

// Every round of both methods (byte-wise and combined table) is exercised on
// each block, so agreement with OpenSSL over many random keys and blocks
// also shows that the combined table equals the byte-wise S-box and L.
TEST(Sm4Block, MatchesOpenSslEcbOnRandomKeysAndBlocks) {
    std::mt19937_64 rng(0x5EED5134u);
    for (int k = 0; k < 400; ++k) {
        uint8_t key[16];
        FillRandom(rng, key, 16);
        SM4_round_keys rk;
        SM4_set_key(key, &rk);
        for (int b = 0; b < 16; ++b) {
            uint8_t in[16], ours[16], ref[16];
            FillRandom(rng, in, 16);
            SM4_encrypt(in, ours, &rk);
            OpenSslEcb(true, key, in, ref);
            ASSERT_EQ(0, std::memcmp(ours, ref, 16)) << "encrypt, key " << k << " block " << b;
            SM4_decrypt(in, ours, &rk);
            OpenSslEcb(false, key, in, ref);
            ASSERT_EQ(0, std::memcmp(ours, ref, 16)) << "decrypt, key " << k << " block " << b;
        }
    }
}

TEST(Sm4Block, SpecialKeysAndBlocksMatchOpenSsl) {
    const uint8_t patterns[] = {0x00, 0xFF, 0x80, 0x01, 0x55, 0xAA};
    for (uint8_t kp : patterns) {
        for (uint8_t bp : patterns) {
            uint8_t key[16], in[16], ours[16], ref[16];
            std::memset(key, kp, 16);
            std::memset(in, bp, 16);
            SM4_encrypt_block(key, in, ours);
            OpenSslEcb(true, key, in, ref);
            EXPECT_EQ(0, std::memcmp(ours, ref, 16)) << int(kp) << "/" << int(bp);
        }
    }
}

TEST(Sm4Block, DecryptInvertsEncrypt) {
    std::mt19937_64 rng(42);
    for (int k = 0; k < 300; ++k) {
        uint8_t key[16];
        FillRandom(rng, key, 16);
        SM4_round_keys rk;
        SM4_set_key(key, &rk);
        for (int b = 0; b < 8; ++b) {
            uint8_t p[16], c[16], back[16];
            FillRandom(rng, p, 16);
            SM4_encrypt(p, c, &rk);
            SM4_decrypt(c, back, &rk);
            ASSERT_EQ(0, std::memcmp(p, back, 16));
            // And the other way round: encryption inverts decryption.
            SM4_decrypt(p, c, &rk);
            SM4_encrypt(c, back, &rk);
            ASSERT_EQ(0, std::memcmp(p, back, 16));
        }
    }
}

TEST(Sm4Block, InPlaceEqualsSeparateBuffers) {
    std::mt19937_64 rng(7);
    for (int t = 0; t < 200; ++t) {
        uint8_t key[16], in[16], sep[16], buf[16];
        FillRandom(rng, key, 16);
        FillRandom(rng, in, 16);
        SM4_round_keys rk;
        SM4_set_key(key, &rk);

        SM4_encrypt(in, sep, &rk);
        std::memcpy(buf, in, 16);
        SM4_encrypt(buf, buf, &rk);
        ASSERT_EQ(0, std::memcmp(buf, sep, 16));

        SM4_decrypt(in, sep, &rk);
        std::memcpy(buf, in, 16);
        SM4_decrypt(buf, buf, &rk);
        ASSERT_EQ(0, std::memcmp(buf, sep, 16));

        SM4_encrypt_block(key, in, sep);
        std::memcpy(buf, in, 16);
        SM4_encrypt_block(key, buf, buf);
        ASSERT_EQ(0, std::memcmp(buf, sep, 16));

        SM4_decrypt_block(key, in, sep);
        std::memcpy(buf, in, 16);
        SM4_decrypt_block(key, buf, buf);
        ASSERT_EQ(0, std::memcmp(buf, sep, 16));
    }
}

// `in` and `out` may overlap in any way, not only coincide.
TEST(Sm4Block, PartialOverlapEqualsSeparateBuffers) {
    std::mt19937_64 rng(99);
    uint8_t key[16], in[16], sep_enc[16], sep_dec[16];
    FillRandom(rng, key, 16);
    FillRandom(rng, in, 16);
    SM4_round_keys rk;
    SM4_set_key(key, &rk);
    SM4_encrypt(in, sep_enc, &rk);
    SM4_decrypt(in, sep_dec, &rk);
    for (int shift = -15; shift <= 15; ++shift) {
        uint8_t buf[48];
        std::memset(buf, 0, sizeof buf);
        uint8_t *src = buf + 16;
        uint8_t *dst = buf + 16 + shift;
        std::memcpy(src, in, 16);
        SM4_encrypt(src, dst, &rk);
        EXPECT_EQ(0, std::memcmp(dst, sep_enc, 16)) << "encrypt shift " << shift;
        std::memcpy(src, in, 16);
        SM4_decrypt(src, dst, &rk);
        EXPECT_EQ(0, std::memcmp(dst, sep_dec, 16)) << "decrypt shift " << shift;
    }
}

TEST(Sm4Block, OneShotEqualsSetKeyThenTransform) {
    std::mt19937_64 rng(1234);
    for (int t = 0; t < 300; ++t) {
        uint8_t key[16], in[16], a[16], b[16];
        FillRandom(rng, key, 16);
        FillRandom(rng, in, 16);
        SM4_round_keys rk;
        SM4_set_key(key, &rk);
        SM4_encrypt(in, a, &rk);
        SM4_encrypt_block(key, in, b);
        ASSERT_EQ(0, std::memcmp(a, b, 16));
        SM4_decrypt(in, a, &rk);
        SM4_decrypt_block(key, in, b);
        ASSERT_EQ(0, std::memcmp(a, b, 16));
    }
    uint8_t c[16];
    SM4_encrypt_block(kExampleKey, kExampleKey, c);
    EXPECT_EQ(0, std::memcmp(c, kExampleCipher, 16));
    SM4_decrypt_block(kExampleKey, kExampleCipher, c);
    EXPECT_EQ(0, std::memcmp(c, kExampleKey, 16));
}

TEST(Sm4Block, SetKeyOverwritesWholeRecordAndIsDeterministic) {
    SM4_round_keys a, b;
    std::memset(&a, 0x00, sizeof a);
    std::memset(&b, 0xFF, sizeof b);
    SM4_set_key(kExampleKey, &a);
    SM4_set_key(kExampleKey, &b);
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
    // The all-zero key is valid and gives a different record.
    const uint8_t zero[16] = {0};
    SM4_set_key(zero, &b);
    EXPECT_NE(0, std::memcmp(&a, &b, sizeof a));
}

}  // namespace

namespace {

// Runs of every length up to three 16-block groups and a tail, so that each
// register width and the padded last group run; in place and apart; then
// two lanes under different keys and directions. Every form of the test
// build runs whose instructions the tests' own reading of the processor
// finds (the emulated GFNI forms wherever there is AVX2), and the library
// must offer each of its own such forms.
TEST(Sm4Forms, EveryOfferedFormMatchesTheTableForm) {
    const zenthal::Sm4Form &table = zenthal::SM4_FORM_TABLE;
    std::mt19937_64 rng(16);
    int ran = 0, host_has = 0;
    for (const char *name : test_forms::sm4_form_names()) {
        bool known = false;
        host_has += test_forms::host_runs_sm4(name, &known) ? 1 : 0;
        EXPECT_TRUE(known) << name;
        const test_forms::Lookup found = test_forms::find_sm4(name);
        if (found.found == test_forms::Found::host_lacks) continue;
        ASSERT_EQ(found.found, test_forms::Found::runs) << found.why;
        const zenthal::Sm4Form *f = found.form;
        ++ran;
        SCOPED_TRACE(name);
        EXPECT_STREQ(f->name, name);
        for (int trial = 0; trial < 4; ++trial) {
            uint8_t key[16];
            FillRandom(rng, key, 16);
            SM4_round_keys want, got;
            table.set_key(key, &want);
            f->set_key(key, &got);
            ASSERT_EQ(0, std::memcmp(&want, &got, sizeof want));
            for (size_t n = 0; n <= 70; ++n) {
                std::vector<uint8_t> in(16 * n + 1), a(16 * n + 1), b(16 * n + 1);
                FillRandom(rng, in.data(), in.size());
                for (bool dec : {false, true}) {
                    table.blocks(want.rk, in.data(), a.data(), n, dec);
                    f->blocks(want.rk, in.data(), b.data(), n, dec);
                    ASSERT_EQ(a, b) << n << " blocks, decrypt " << dec;
                    std::vector<uint8_t> inplace = in;
                    f->blocks(want.rk, inplace.data(), inplace.data(), n, dec);
                    ASSERT_EQ(0, std::memcmp(a.data(), inplace.data(), 16 * n)) << n << " in place";
                    ASSERT_EQ(in.back(), inplace.back()) << n << ": past the end";
                }
            }
            uint8_t key2[16];
            FillRandom(rng, key2, 16);
            SM4_round_keys other;
            table.set_key(key2, &other);
            for (int deca = 0; deca < 2; ++deca) {
                for (int decb = 0; decb < 2; ++decb) {
                    zenthal::Sm4Lanes lanes, table_lanes;
                    zenthal::sm4_lanes(*f, &lanes, &want, deca, &other, decb);
                    zenthal::sm4_lanes(table, &table_lanes, &want, deca, &other, decb);
                    uint8_t x[16], y[16], xs[16], ys[16];
                    FillRandom(rng, x, 16);
                    FillRandom(rng, y, 16);
                    std::memcpy(xs, x, 16);
                    std::memcpy(ys, y, 16);
                    table.pair(&table_lanes, x, y);
                    f->pair(&lanes, xs, ys);
                    ASSERT_EQ(0, std::memcmp(x, xs, 16));
                    ASSERT_EQ(0, std::memcmp(y, ys, 16));
                    f->pair(&lanes, xs, xs);  // one chain in both lanes
                }
            }
        }
    }
    EXPECT_GE(ran, 1);
    EXPECT_EQ(ran, host_has);
#if defined(__x86_64__)
    // The GFNI forms' many-block code, under the AES-NI S-box, wherever the
    // processor has AES-NI and AVX2.
    bool known = false;
    if (test_forms::host_runs_sm4("aesni-avx2", &known)) {
        ASSERT_NE(zenthal::sm4_form_named("aesni-avx2"), nullptr);
        SM4_round_keys rk;
        uint8_t key[16];
        FillRandom(rng, key, 16);
        table.set_key(key, &rk);
        for (size_t n = 0; n <= 40; ++n) {
            std::vector<uint8_t> in(16 * n), a(16 * n), b(16 * n);
            FillRandom(rng, in.data(), in.size());
            for (bool dec : {false, true}) {
                table.blocks(rk.rk, in.data(), a.data(), n, dec);
                zenthal::sm4_body_blocks_aesni(rk.rk, in.data(), b.data(), n, dec);
                ASSERT_EQ(a, b) << "generic body, " << n << " blocks, decrypt " << dec;
            }
        }
    }
#endif
}

}  // namespace
