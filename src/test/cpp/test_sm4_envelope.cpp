// Tests of the encrypt-and-MAC envelope of sm4_cbc.h against OpenSSL's
// SM4-CBC and a reference CBC-MAC, with every failure row and what `out` and
// *outlen hold afterwards.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sm4.h"
#include "sm4_cbc.h"
#include "sm4_oracle.h"

namespace {

using namespace sm4_oracle;

// ---------------------------------------------------------------------------
// Envelope

uint32_t SealNeed(uint32_t len) { return (len / 16) * 16 + 32; }

TEST(Sm4Envelope, SealIsCbcFollowedByMac) {
    std::mt19937_64 rng(30);
    std::vector<uint32_t> lens;
    for (uint32_t n = 0; n <= 100; ++n) lens.push_back(n);
    for (uint32_t n : {255u, 256u, 1000u, 4097u}) lens.push_back(n);
    for (uint32_t len : lens) {
        Material m(rng);
        Bytes pt = RandomBytes(rng, len);
        const uint32_t need = SealNeed(len);
        GuardedOut g(need);
        uint32_t outlen = need;
        uint8_t iv_before[16];
        std::memcpy(iv_before, m.iv, 16);
        ASSERT_EQ(SM4_SUCCESS,
                  SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, pt.data(), len, g.out(), &outlen))
            << len;
        ASSERT_EQ(need, outlen);
        Bytes expect = OpenSslCbc(true, true, m.key, m.iv, pt);
        Bytes mac = ReferenceMac(m.mac_key, m.iv, pt);
        expect.insert(expect.end(), mac.begin(), mac.end());
        ASSERT_EQ(expect, g.Prefix(need)) << len;
        ASSERT_TRUE(g.GuardsIntact());
        ASSERT_EQ(0, std::memcmp(iv_before, m.iv, 16));

        // And it is exactly SM4_process_cbc then SM4_process_mac.
        Bytes cbc(need);
        uint32_t cbclen = need;
        ASSERT_EQ(SM4_SUCCESS, SM4_process_cbc(1, m.key, m.iv, pt.data(), len, cbc.data(), &cbclen));
        uint8_t mac2[16];
        ASSERT_EQ(SM4_SUCCESS, SM4_process_mac(m.mac_key, m.iv, pt.data(), len, mac2));
        ASSERT_EQ(need - 16, cbclen);
        ASSERT_EQ(0, std::memcmp(cbc.data(), g.out(), cbclen));
        ASSERT_EQ(0, std::memcmp(mac2, g.out() + cbclen, 16));
    }
}

TEST(Sm4Envelope, SealThenOpenRoundTrip) {
    std::mt19937_64 rng(31);
    for (uint32_t len = 0; len <= 100; ++len) {
        Material m(rng);
        Bytes pt = RandomBytes(rng, len);
        Bytes env(SealNeed(len));
        uint32_t envlen = static_cast<uint32_t>(env.size());
        ASSERT_EQ(SM4_SUCCESS,
                  SM4_process_cbc_and_mac(7, m.key, m.mac_key, m.iv, pt.data(), len, env.data(), &envlen));
        // Capacity equal to the plaintext length.
        GuardedOut g(len);
        uint32_t outlen = len;
        ASSERT_EQ(SM4_SUCCESS,
                  SM4_process_cbc_and_mac(0, m.key, m.mac_key, m.iv, env.data(), envlen, g.out(), &outlen))
            << len;
        ASSERT_EQ(len, outlen);
        ASSERT_EQ(pt, g.Prefix(len));
        ASSERT_TRUE(g.GuardsIntact());
    }
}

TEST(Sm4Envelope, SealSizes) {
    std::mt19937_64 rng(32);
    Material m(rng);
    for (auto [len, expect] : {std::pair<uint32_t, uint32_t>{0, 32}, {15, 32}, {16, 48}, {17, 48}}) {
        Bytes pt = RandomBytes(rng, len);
        GuardedOut g(100);
        uint32_t outlen = 100;
        ASSERT_EQ(SM4_SUCCESS,
                  SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, pt.data(), len, g.out(), &outlen));
        EXPECT_EQ(expect, outlen) << len;
        EXPECT_TRUE(g.UntouchedFrom(expect));
        EXPECT_TRUE(g.GuardsIntact());
    }
}

TEST(Sm4Envelope, SealCapacityExactAndOneLess) {
    std::mt19937_64 rng(33);
    for (uint32_t len : {0u, 1u, 15u, 16u, 17u, 40u, 64u}) {
        Material m(rng);
        Bytes pt = RandomBytes(rng, len);
        const uint32_t need = SealNeed(len);
        // need - 1 is enough for the ciphertext alone, still rejected; so is
        // everything down to 0.
        for (uint32_t cap : {need - 1, need - 16, need - 17, 0u}) {
            GuardedOut g(cap);
            uint32_t outlen = cap;
            EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL,
                      SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, pt.data(), len, g.out(), &outlen))
                << len << " " << cap;
            EXPECT_EQ(cap, outlen);
            EXPECT_TRUE(g.UntouchedFrom(0));
            EXPECT_TRUE(g.GuardsIntact());
        }
        GuardedOut g(need);
        uint32_t outlen = need;
        EXPECT_EQ(SM4_SUCCESS,
                  SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, pt.data(), len, g.out(), &outlen));
        EXPECT_EQ(need, outlen);
        EXPECT_TRUE(g.GuardsIntact());
    }
}

// The envelope length (len rounded down to 16) + 32 does not fit in 32 bits:
// rejected before anything is read (small real buffer, see EncryptOverflowGuard).
TEST(Sm4Envelope, SealOverflowGuard) {
    std::mt19937_64 rng(34);
    Material m(rng);
    Bytes small = RandomBytes(rng, 32);
    for (uint32_t len : {4294967264u, 4294967265u, 4294967279u, 4294967280u, 4294967295u}) {
        for (uint32_t cap : {0u, 32u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
            GuardedOut g(32);
            uint32_t outlen = cap;
            EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL,
                      SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, small.data(), len, g.out(), &outlen))
                << len << " " << cap;
            EXPECT_EQ(cap, outlen);
            EXPECT_TRUE(g.UntouchedFrom(0));
            EXPECT_TRUE(g.GuardsIntact());
        }
    }
    // Largest representable envelope (0xFFFFFFF0 bytes) with one byte less.
    GuardedOut g(32);
    uint32_t outlen = 0xFFFFFFEFu;
    EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL, SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, small.data(),
                                                                4294967263u, g.out(), &outlen));
    EXPECT_EQ(0xFFFFFFEFu, outlen);
    EXPECT_TRUE(g.UntouchedFrom(0));
    EXPECT_TRUE(g.GuardsIntact());
}

struct Sealed {
    Material m;
    Bytes pt;
    Bytes env;
};

Sealed MakeSealed(std::mt19937_64 &rng, uint32_t len) {
    Sealed s{Material(rng), RandomBytes(rng, len), Bytes(SealNeed(len))};
    uint32_t envlen = static_cast<uint32_t>(s.env.size());
    EXPECT_EQ(SM4_SUCCESS, SM4_process_cbc_and_mac(1, s.m.key, s.m.mac_key, s.m.iv, s.pt.data(), len,
                                                   s.env.data(), &envlen));
    return s;
}

int32_t Open(const Sealed &s, const Bytes &env, uint32_t len, GuardedOut &g, uint32_t *outlen) {
    return SM4_process_cbc_and_mac(0, s.m.key, s.m.mac_key, s.m.iv, env.data(), len, g.out(), outlen);
}

TEST(Sm4Envelope, OpenInputLength) {
    std::mt19937_64 rng(35);
    Sealed s = MakeSealed(rng, 40);  // 64-byte envelope
    Bytes env = s.env;
    for (uint32_t len : {0u, 1u, 16u, 17u, 31u, 33u, 40u, 63u}) {
        for (uint32_t cap : {0u, 7u, 100u}) {
            GuardedOut g(100);
            uint32_t outlen = cap;
            EXPECT_EQ(SM4_ERR_INPUT_LENGTH, Open(s, env, len, g, &outlen)) << len;
            EXPECT_EQ(cap, outlen);
            EXPECT_TRUE(g.UntouchedFrom(0));
            EXPECT_TRUE(g.GuardsIntact());
        }
    }
    // 32 bytes is the smallest envelope accepted.
    Sealed e = MakeSealed(rng, 0);
    ASSERT_EQ(32u, e.env.size());
    GuardedOut g(0);
    uint32_t outlen = 0;
    EXPECT_EQ(SM4_SUCCESS, Open(e, e.env, 32, g, &outlen));
    EXPECT_EQ(0u, outlen);
    EXPECT_TRUE(g.GuardsIntact());
}

TEST(Sm4Envelope, OpenCapacityFailures) {
    std::mt19937_64 rng(36);
    Sealed s = MakeSealed(rng, 40);  // ciphertext 48 bytes (3 blocks, pad 8) + MAC
    const uint32_t envlen = static_cast<uint32_t>(s.env.size());
    ASSERT_EQ(64u, envlen);
    // Below the blocks before the last: nothing written.
    for (uint32_t cap : {0u, 31u}) {
        GuardedOut g(cap);
        uint32_t outlen = cap;
        EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL, Open(s, s.env, envlen, g, &outlen)) << cap;
        EXPECT_EQ(cap, outlen);
        EXPECT_TRUE(g.UntouchedFrom(0));
        EXPECT_TRUE(g.GuardsIntact());
    }
    // Enough for the blocks before the last, not for the plaintext: those
    // blocks are in `out`.
    for (uint32_t cap : {32u, 39u}) {
        GuardedOut g(cap);
        uint32_t outlen = cap;
        EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL, Open(s, s.env, envlen, g, &outlen)) << cap;
        EXPECT_EQ(cap, outlen);
        EXPECT_EQ(Bytes(s.pt.begin(), s.pt.begin() + 32), g.Prefix(32));
        EXPECT_TRUE(g.UntouchedFrom(32));
        EXPECT_TRUE(g.GuardsIntact());
    }
    GuardedOut g(40);
    uint32_t outlen = 40;
    EXPECT_EQ(SM4_SUCCESS, Open(s, s.env, envlen, g, &outlen));
    EXPECT_EQ(40u, outlen);
    EXPECT_EQ(s.pt, g.Prefix(40));
    EXPECT_TRUE(g.GuardsIntact());
}

TEST(Sm4Envelope, OpenBadPaddingIsReportedBeforeMac) {
    std::mt19937_64 rng(37);
    Sealed s = MakeSealed(rng, 40);
    // Replace the last ciphertext block by one whose plaintext ends in 0x00;
    // the MAC is left as sealed (it will not be looked at).
    uint8_t last[16];
    for (auto &b : last) b = static_cast<uint8_t>(rng());
    last[15] = 0x00;
    Bytes head(s.pt.begin(), s.pt.begin() + 32);
    Bytes ct = CiphertextWithRawLastBlock(s.m, head, last);
    Bytes env(ct);
    env.insert(env.end(), s.env.end() - 16, s.env.end());
    GuardedOut g(64);
    uint32_t outlen = 64;
    EXPECT_EQ(SM4_ERR_BAD_PADDING, Open(s, env, 64, g, &outlen));
    EXPECT_EQ(64u, outlen);
    EXPECT_EQ(head, g.Prefix(32));
    EXPECT_TRUE(g.UntouchedFrom(32));
    EXPECT_TRUE(g.GuardsIntact());
}

TEST(Sm4Envelope, EveryFlippedMacByteIsMismatchWithPlaintextInOut) {
    std::mt19937_64 rng(38);
    for (uint32_t len : {0u, 1u, 16u, 40u, 100u}) {
        Sealed s = MakeSealed(rng, len);
        const uint32_t envlen = static_cast<uint32_t>(s.env.size());
        for (uint32_t pos = envlen - 16; pos < envlen; ++pos) {
            for (uint8_t flip : {0x01, 0x80, 0xFF}) {
                Bytes env = s.env;
                env[pos] ^= flip;
                GuardedOut g(len + 16);
                uint32_t outlen = len + 16;
                EXPECT_EQ(SM4_ERR_MAC_MISMATCH, Open(s, env, envlen, g, &outlen)) << len << " " << pos;
                EXPECT_EQ(len, outlen);
                EXPECT_EQ(s.pt, g.Prefix(len));
                EXPECT_TRUE(g.UntouchedFrom(len));
                EXPECT_TRUE(g.GuardsIntact());
            }
        }
    }
}

TEST(Sm4Envelope, AlteredCiphertextOrWrongMacKeyIsMismatch) {
    std::mt19937_64 rng(39);
    // 32-byte plaintext: the last ciphertext block is all padding, so altering
    // the first block garbles the plaintext but keeps the padding valid.
    Sealed s = MakeSealed(rng, 32);
    const uint32_t envlen = static_cast<uint32_t>(s.env.size());
    ASSERT_EQ(64u, envlen);
    for (uint32_t pos = 0; pos < 16; ++pos) {
        Bytes env = s.env;
        env[pos] ^= 0x01;
        GuardedOut g(32);
        uint32_t outlen = 32;
        EXPECT_EQ(SM4_ERR_MAC_MISMATCH, Open(s, env, envlen, g, &outlen)) << pos;
        EXPECT_EQ(32u, outlen);
        // Block 1 of the plaintext differs from the original in byte pos only.
        Bytes got = g.Prefix(32);
        for (uint32_t j = 0; j < 16; ++j)
            EXPECT_EQ(static_cast<uint8_t>(s.pt[16 + j] ^ (j == pos ? 0x01 : 0x00)), got[16 + j]);
        EXPECT_TRUE(g.GuardsIntact());
    }
    uint8_t other_mac_key[16];
    std::memcpy(other_mac_key, s.m.mac_key, 16);
    other_mac_key[0] ^= 0x40;
    GuardedOut g(32);
    uint32_t outlen = 32;
    EXPECT_EQ(SM4_ERR_MAC_MISMATCH, SM4_process_cbc_and_mac(0, s.m.key, other_mac_key, s.m.iv, s.env.data(),
                                                            envlen, g.out(), &outlen));
    EXPECT_EQ(32u, outlen);
    EXPECT_EQ(s.pt, g.Prefix(32));
}

TEST(Sm4Envelope, ErrorCodeValues) {
    EXPECT_EQ(1, SM4_SUCCESS);
    EXPECT_EQ(-16385, SM4_ERR_INPUT_LENGTH);
    EXPECT_EQ(-16386, SM4_ERR_OUTPUT_TOO_SMALL);
    EXPECT_EQ(-16387, SM4_ERR_BAD_PADDING);
    EXPECT_EQ(-16388, SM4_ERR_MAC_MISMATCH);
}

}  // namespace
