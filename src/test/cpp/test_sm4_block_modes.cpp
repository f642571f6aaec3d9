// The streaming block modes behind the JCA Cipher (ECB, CBC, CTR) against
// OpenSSL's EVP, and the padding verdict.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sm4.h"
#include "sm4_block_modes.h"
#include "sm4_oracle.h"
#include "util/ct.h"

using namespace sm4_oracle;

// Random keys, IVs and lengths, each message cut into random pieces, in
// place and not: the state carried between pieces must give OpenSSL's
// answer for the whole message.
TEST(Sm4StreamModes, EcbCbcCtrMatchOpenSslInPieces) {
    std::mt19937_64 rng(1717);
    for (int iter = 0; iter < 300; ++iter) {
        const Bytes key = RandomBytes(rng, 16), iv = RandomBytes(rng, 16);
        const size_t blocks = rng() % 150;
        const size_t extra = rng() % 16;
        SM4_round_keys rk;
        SM4_set_key(key.data(), &rk);
        for (int mode = 0; mode < 3; ++mode) {
            for (int dec = 0; dec < (mode == 2 ? 1 : 2); ++dec) {
                const size_t len = 16 * blocks + (mode == 2 ? extra : 0);
                const Bytes in = RandomBytes(rng, len);
                const EVP_CIPHER *c = mode == 0 ? EVP_sm4_ecb() : mode == 1 ? EVP_sm4_cbc() : EVP_sm4_ctr();
                const Bytes want = OpenSslStream(c, dec == 0, key.data(), iv.data(), in);
                Bytes got = in;  // worked on in place, or copied piece by piece
                const bool in_place = rng() & 1;
                Bytes out(len);
                uint8_t chain[16], ks[16] = {0};
                std::memcpy(chain, iv.data(), 16);
                uint32_t pos = 0;
                for (size_t at = 0; at < len;) {
                    size_t n = rng() % (len - at + 1);
                    if (mode != 2) n &= ~static_cast<size_t>(15);
                    if (rng() % 4 == 0) n = len - at;
                    uint8_t *dst = in_place ? got.data() + at : out.data() + at;
                    if (mode == 0) zenthal::sm4_ecb(&rk, dec, got.data() + at, dst, n / 16);
                    if (mode == 1) zenthal::sm4_cbc(&rk, dec, chain, got.data() + at, dst, n / 16);
                    if (mode == 2) zenthal::sm4_ctr(&rk, true, chain, ks, &pos, got.data() + at, dst, n);
                    at += n;
                }
                EXPECT_EQ(want, in_place ? got : out) << "mode " << mode << " dec " << dec << " len " << len;
            }
        }
    }
}

TEST(Sm4StreamModes, CtrCounterCarriesThroughAllBytesAndGcmsThroughItsLastWord) {
    const Bytes key(16, 7);
    Bytes iv(16, 0xFF);
    iv[0] = 0x12;
    const Bytes in(16 * 70, 0);
    SM4_round_keys rk;
    SM4_set_key(key.data(), &rk);
    uint8_t ctr[16], ks[16];
    std::memcpy(ctr, iv.data(), 16);
    uint32_t pos = 0;
    Bytes got(in.size());
    zenthal::sm4_ctr(&rk, true, ctr, ks, &pos, in.data(), got.data(), in.size());
    EXPECT_EQ(OpenSslStream(EVP_sm4_ctr(), true, key.data(), iv.data(), in), got);

    // GCM's counter wraps within its last 32 bits and leaves the rest alone.
    std::memcpy(ctr, iv.data(), 16);
    pos = 0;
    zenthal::sm4_ctr(&rk, false, ctr, ks, &pos, in.data(), got.data(), in.size());
    Bytes counters;
    for (uint32_t i = 0; i < 70; ++i) {
        Bytes c = iv;
        const uint32_t low = 0xFFFFFFFFu + i;
        for (int k = 0; k < 4; ++k) c[12 + k] = static_cast<uint8_t>(low >> (24 - 8 * k));
        counters.insert(counters.end(), c.begin(), c.end());
    }
    EXPECT_EQ(OpenSslStream(EVP_sm4_ecb(), true, key.data(), nullptr, counters), got);
}

TEST(Sm4StreamModes, PadLengthMatchesAPlainCheck) {
    std::mt19937_64 rng(8);
    for (int iter = 0; iter < 20000; ++iter) {
        Bytes b = RandomBytes(rng, 16);
        const uint32_t p = static_cast<uint32_t>(rng() % 20);
        for (uint32_t j = 0; j < 16; ++j) {
            if (j + p >= 16 && rng() % 30 != 0) b[j] = static_cast<uint8_t>(p);
        }
        uint32_t want = b[15];
        if (want == 0 || want > 16) want = 0;
        for (uint32_t j = 16 - (want ? want : 16); want && j < 16; ++j) {
            if (b[j] != want) want = 0;
        }
        EXPECT_EQ(want, zenthal::ct_pkcs7_length(b.data()));
    }
}
