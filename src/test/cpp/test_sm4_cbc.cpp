// Tests of the SM4 modes of sm4_cbc.h: CBC with PKCS#7 padding and CBC-MAC
// with ISO/IEC 9797-1 padding method 2, against OpenSSL's SM4-CBC, with
// every failure row and what `out` and *outlen hold afterwards.
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

int32_t Cbc(int32_t flag, const Material &m, const Bytes &in, uint32_t len, GuardedOut &g, uint32_t *outlen) {
    return SM4_process_cbc(flag, m.key, m.iv, in.data(), len, g.out(), outlen);
}

// ---------------------------------------------------------------------------
// CBC with PKCS#7 padding

TEST(Sm4Cbc, EncryptMatchesOpenSsl) {
    std::mt19937_64 rng(1);
    for (uint32_t len : TestLengths()) {
        Material m(rng);
        Bytes pt = RandomBytes(rng, len);
        const uint32_t need = (len / 16 + 1) * 16;
        GuardedOut g(need);
        uint32_t outlen = need;
        uint8_t iv_before[16];
        std::memcpy(iv_before, m.iv, 16);
        ASSERT_EQ(SM4_SUCCESS, Cbc(1, m, pt, len, g, &outlen)) << len;
        ASSERT_EQ(need, outlen) << len;
        ASSERT_EQ(OpenSslCbc(true, true, m.key, m.iv, pt), g.Prefix(need)) << len;
        ASSERT_TRUE(g.GuardsIntact()) << len;
        ASSERT_EQ(0, std::memcmp(iv_before, m.iv, 16)) << len;
    }
}

TEST(Sm4Cbc, DecryptMatchesOpenSsl) {
    std::mt19937_64 rng(2);
    for (uint32_t len : TestLengths()) {
        Material m(rng);
        Bytes pt = RandomBytes(rng, len);
        Bytes ct = OpenSslCbc(true, true, m.key, m.iv, pt);
        // Capacity exactly the plaintext length (the least that succeeds).
        GuardedOut g(len);
        uint32_t outlen = len;
        uint8_t iv_before[16];
        std::memcpy(iv_before, m.iv, 16);
        ASSERT_EQ(SM4_SUCCESS, Cbc(0, m, ct, static_cast<uint32_t>(ct.size()), g, &outlen)) << len;
        ASSERT_EQ(len, outlen) << len;
        ASSERT_EQ(pt, g.Prefix(len)) << len;
        ASSERT_TRUE(g.GuardsIntact()) << len;
        ASSERT_EQ(0, std::memcmp(iv_before, m.iv, 16)) << len;
    }
}

TEST(Sm4Cbc, RoundTripWithLargeCapacity) {
    std::mt19937_64 rng(3);
    for (uint32_t len = 0; len <= 100; ++len) {
        Material m(rng);
        Bytes pt = RandomBytes(rng, len);
        Bytes ct(len + 64);
        uint32_t ctlen = static_cast<uint32_t>(ct.size());
        ASSERT_EQ(SM4_SUCCESS, SM4_process_cbc(1, m.key, m.iv, pt.data(), len, ct.data(), &ctlen));
        GuardedOut g(len + 100);
        uint32_t outlen = len + 100;
        ASSERT_EQ(SM4_SUCCESS, Cbc(0, m, ct, ctlen, g, &outlen));
        ASSERT_EQ(len, outlen);
        ASSERT_EQ(pt, g.Prefix(len));
        // Only the plaintext bytes are written; the rest stays as it was.
        ASSERT_TRUE(g.UntouchedFrom(len)) << len;
        ASSERT_TRUE(g.GuardsIntact());
    }
}

TEST(Sm4Cbc, AnyNonZeroFlagEncrypts) {
    std::mt19937_64 rng(4);
    Material m(rng);
    Bytes pt = RandomBytes(rng, 37);
    Bytes ref = OpenSslCbc(true, true, m.key, m.iv, pt);
    for (int32_t flag : {1, -1, 2, 0x7FFFFFFF, INT32_MIN}) {
        GuardedOut g(48);
        uint32_t outlen = 48;
        ASSERT_EQ(SM4_SUCCESS, Cbc(flag, m, pt, 37, g, &outlen)) << flag;
        EXPECT_EQ(48u, outlen);
        EXPECT_EQ(ref, g.Prefix(48)) << flag;
    }
}

TEST(Sm4Cbc, EncryptEmptyIsOneBlockOfPadding) {
    std::mt19937_64 rng(5);
    Material m(rng);
    GuardedOut g(16);
    uint32_t outlen = 16;
    Bytes empty;
    ASSERT_EQ(SM4_SUCCESS, SM4_process_cbc(1, m.key, m.iv, empty.data(), 0, g.out(), &outlen));
    EXPECT_EQ(16u, outlen);
    uint8_t block[16], expect[16];
    for (int j = 0; j < 16; ++j) block[j] = static_cast<uint8_t>(m.iv[j] ^ 0x10);
    SM4_encrypt_block(m.key, block, expect);
    EXPECT_EQ(Bytes(expect, expect + 16), g.Prefix(16));
    EXPECT_TRUE(g.GuardsIntact());
}

TEST(Sm4Cbc, Encrypt15And16Bytes) {
    std::mt19937_64 rng(6);
    Material m(rng);
    SM4_round_keys rk;
    SM4_set_key(m.key, &rk);
    {
        Bytes pt = RandomBytes(rng, 15);
        GuardedOut g(16);
        uint32_t outlen = 16;
        ASSERT_EQ(SM4_SUCCESS, Cbc(1, m, pt, 15, g, &outlen));
        EXPECT_EQ(16u, outlen);
        uint8_t plain[16];
        SM4_decrypt(g.out(), plain, &rk);
        for (int j = 0; j < 15; ++j) EXPECT_EQ(pt[j], plain[j] ^ m.iv[j]);
        EXPECT_EQ(0x01, plain[15] ^ m.iv[15]);
    }
    {
        Bytes pt = RandomBytes(rng, 16);
        GuardedOut g(32);
        uint32_t outlen = 32;
        ASSERT_EQ(SM4_SUCCESS, Cbc(1, m, pt, 16, g, &outlen));
        EXPECT_EQ(32u, outlen);
        uint8_t second[16], expect[16];
        for (int j = 0; j < 16; ++j) second[j] = static_cast<uint8_t>(g.out()[j] ^ 0x10);
        SM4_encrypt(second, expect, &rk);
        EXPECT_EQ(0, std::memcmp(expect, g.out() + 16, 16));
        EXPECT_TRUE(g.GuardsIntact());
    }
}

TEST(Sm4Cbc, EncryptCapacityExactAndOneLess) {
    std::mt19937_64 rng(7);
    for (uint32_t len : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 100u}) {
        Material m(rng);
        Bytes pt = RandomBytes(rng, len);
        const uint32_t need = (len / 16 + 1) * 16;
        {
            GuardedOut g(need - 1);
            uint32_t outlen = need - 1;
            EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL, Cbc(1, m, pt, len, g, &outlen)) << len;
            EXPECT_EQ(need - 1, outlen);
            EXPECT_TRUE(g.UntouchedFrom(0));
            EXPECT_TRUE(g.GuardsIntact());
        }
        {
            GuardedOut g(0);
            uint32_t outlen = 0;
            EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL, Cbc(1, m, pt, len, g, &outlen)) << len;
            EXPECT_EQ(0u, outlen);
            EXPECT_TRUE(g.GuardsIntact());
        }
        {
            GuardedOut g(need);
            uint32_t outlen = need;
            EXPECT_EQ(SM4_SUCCESS, Cbc(1, m, pt, len, g, &outlen)) << len;
            EXPECT_EQ(need, outlen);
            EXPECT_TRUE(g.GuardsIntact());
        }
    }
}

// Lengths whose padded length does not fit in 32 bits are rejected before
// anything is read or written. `in` is a small real buffer: a read past it
// would be caught by ASan (or crash), so passing proves nothing was read.
TEST(Sm4Cbc, EncryptOverflowGuard) {
    std::mt19937_64 rng(8);
    Material m(rng);
    Bytes small = RandomBytes(rng, 32);
    for (uint32_t len : {4294967280u, 4294967281u, 4294967295u}) {
        for (uint32_t cap : {0u, 16u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
            GuardedOut g(16);
            uint32_t outlen = cap;
            EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL,
                      SM4_process_cbc(1, m.key, m.iv, small.data(), len, g.out(), &outlen))
                << len << " " << cap;
            EXPECT_EQ(cap, outlen);
            EXPECT_TRUE(g.UntouchedFrom(0));
            EXPECT_TRUE(g.GuardsIntact());
        }
    }
    // The largest representable length still needs 0xFFFFFFF0 bytes; one less
    // capacity is rejected by the ordinary check, again before any read.
    GuardedOut g(16);
    uint32_t outlen = 0xFFFFFFEFu;
    EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL,
              SM4_process_cbc(1, m.key, m.iv, small.data(), 4294967279u, g.out(), &outlen));
    EXPECT_EQ(0xFFFFFFEFu, outlen);
    EXPECT_TRUE(g.UntouchedFrom(0));
    EXPECT_TRUE(g.GuardsIntact());
}

TEST(Sm4Cbc, DecryptLengthNotMultipleOf16) {
    std::mt19937_64 rng(9);
    Material m(rng);
    Bytes ct = RandomBytes(rng, 64);
    for (uint32_t len : {1u, 15u, 17u, 31u, 33u, 63u}) {
        GuardedOut g(64);
        uint32_t outlen = 64;
        EXPECT_EQ(SM4_ERR_INPUT_LENGTH, Cbc(0, m, ct, len, g, &outlen)) << len;
        EXPECT_EQ(64u, outlen);
        EXPECT_TRUE(g.UntouchedFrom(0));
        EXPECT_TRUE(g.GuardsIntact());
    }
}

TEST(Sm4Cbc, DecryptEmptyIsOutputTooSmallWhateverTheCapacity) {
    std::mt19937_64 rng(10);
    Material m(rng);
    Bytes ct(16);
    for (uint32_t cap : {0u, 16u, 1000u, 0xFFFFFFFFu}) {
        GuardedOut g(16);
        uint32_t outlen = cap;
        EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL, Cbc(0, m, ct, 0, g, &outlen)) << cap;
        EXPECT_EQ(cap, outlen);
        EXPECT_TRUE(g.UntouchedFrom(0));
        EXPECT_TRUE(g.GuardsIntact());
    }
}

TEST(Sm4Cbc, DecryptCapacityBelowAllButLastBlock) {
    std::mt19937_64 rng(11);
    Material m(rng);
    Bytes pt = RandomBytes(rng, 40);  // 3 ciphertext blocks, pad 8
    Bytes ct = OpenSslCbc(true, true, m.key, m.iv, pt);
    ASSERT_EQ(48u, ct.size());
    for (uint32_t cap : {0u, 1u, 16u, 31u}) {
        GuardedOut g(cap);
        uint32_t outlen = cap;
        EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL, Cbc(0, m, ct, 48, g, &outlen)) << cap;
        EXPECT_EQ(cap, outlen);
        EXPECT_TRUE(g.UntouchedFrom(0)) << cap;
        EXPECT_TRUE(g.GuardsIntact());
    }
}

TEST(Sm4Cbc, DecryptCapacityForTruePlaintextLength) {
    std::mt19937_64 rng(12);
    for (uint32_t len : {1u, 17u, 40u, 47u, 63u}) {
        Material m(rng);
        Bytes pt = RandomBytes(rng, len);
        Bytes ct = OpenSslCbc(true, true, m.key, m.iv, pt);
        const uint32_t n = static_cast<uint32_t>(ct.size()) / 16;
        // Capacities from (n - 1) * 16 up to len - 1 pass the first check but
        // fail the second, after the first n - 1 blocks have been written.
        for (uint32_t cap = (n - 1) * 16; cap < len; ++cap) {
            GuardedOut g(cap);
            uint32_t outlen = cap;
            EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL, Cbc(0, m, ct, n * 16, g, &outlen)) << len;
            EXPECT_EQ(cap, outlen);
            EXPECT_EQ(Bytes(pt.begin(), pt.begin() + (n - 1) * 16), g.Prefix((n - 1) * 16));
            EXPECT_TRUE(g.UntouchedFrom((n - 1) * 16));
            EXPECT_TRUE(g.GuardsIntact());
        }
        GuardedOut g(len);
        uint32_t outlen = len;
        EXPECT_EQ(SM4_SUCCESS, Cbc(0, m, ct, n * 16, g, &outlen)) << len;
        EXPECT_EQ(len, outlen);
        EXPECT_EQ(pt, g.Prefix(len));
        EXPECT_TRUE(g.GuardsIntact());
    }
}

TEST(Sm4Cbc, DecryptWholePaddingBlockWithCapacityOfAllButLast) {
    std::mt19937_64 rng(13);
    Material m(rng);
    // Plaintext of 32 bytes: 3 ciphertext blocks, the last all padding.
    Bytes pt = RandomBytes(rng, 32);
    Bytes ct = OpenSslCbc(true, true, m.key, m.iv, pt);
    ASSERT_EQ(48u, ct.size());
    GuardedOut g(32);
    uint32_t outlen = 32;
    EXPECT_EQ(SM4_SUCCESS, Cbc(0, m, ct, 48, g, &outlen));
    EXPECT_EQ(32u, outlen);
    EXPECT_EQ(pt, g.Prefix(32));
    EXPECT_TRUE(g.GuardsIntact());

    // One block of sixteen 0x10 (the encryption of 0 bytes) decrypts with
    // capacity 0; nothing is written.
    Bytes empty;
    Bytes one = OpenSslCbc(true, true, m.key, m.iv, empty);
    ASSERT_EQ(16u, one.size());
    GuardedOut g0(0);
    uint32_t outlen0 = 0;
    EXPECT_EQ(SM4_SUCCESS, Cbc(0, m, one, 16, g0, &outlen0));
    EXPECT_EQ(0u, outlen0);
    EXPECT_TRUE(g0.GuardsIntact());
}

void ExpectBadPadding(const Material &m, const Bytes &head, const uint8_t last[16], const std::string &what) {
    Bytes ct = CiphertextWithRawLastBlock(m, head, last);
    const uint32_t len = static_cast<uint32_t>(ct.size());
    // Even with a capacity too small for any plaintext length the padding
    // decides first (checks run in order: padding, then capacity).
    for (uint32_t cap : {len, static_cast<uint32_t>(head.size())}) {
        GuardedOut g(cap);
        uint32_t outlen = cap;
        EXPECT_EQ(SM4_ERR_BAD_PADDING, Cbc(0, m, ct, len, g, &outlen)) << what;
        EXPECT_EQ(cap, outlen) << what;
        // The blocks before the last are in `out`; nothing of the last.
        EXPECT_EQ(head, g.Prefix(head.size())) << what;
        EXPECT_TRUE(g.UntouchedFrom(head.size())) << what;
        EXPECT_TRUE(g.GuardsIntact()) << what;
    }
}

TEST(Sm4Cbc, BadPaddingLastByteZeroOrAbove16) {
    std::mt19937_64 rng(14);
    Material m(rng);
    Bytes head = RandomBytes(rng, 32);
    for (int v = 0; v <= 255; ++v) {
        if (v >= 1 && v <= 16) continue;
        uint8_t last[16];
        // Bytes equal to the value, so only the range check can reject it.
        std::memset(last, v, 16);
        ExpectBadPadding(m, head, last, "last byte " + std::to_string(v));
        // And with random other bytes, in a single-block ciphertext.
        for (auto &b : last) b = static_cast<uint8_t>(rng());
        last[15] = static_cast<uint8_t>(v);
        ExpectBadPadding(m, Bytes(), last, "single block, last byte " + std::to_string(v));
    }
}

TEST(Sm4Cbc, BadPaddingInconsistentPadBytes) {
    std::mt19937_64 rng(15);
    Material m(rng);
    Bytes head = RandomBytes(rng, 16);
    for (int p = 2; p <= 16; ++p) {
        for (int pos = 16 - p; pos <= 14; ++pos) {
            uint8_t last[16];
            for (auto &b : last) b = static_cast<uint8_t>(rng());
            for (int j = 16 - p; j < 16; ++j) last[j] = static_cast<uint8_t>(p);
            // One wrong pad byte, by a few different values.
            for (uint8_t wrong : {static_cast<uint8_t>(p - 1), static_cast<uint8_t>(p + 1),
                                  static_cast<uint8_t>(0x00), static_cast<uint8_t>(p ^ 0x80)}) {
                last[pos] = wrong;
                ExpectBadPadding(m, head, last, "pad " + std::to_string(p) + " pos " + std::to_string(pos));
            }
        }
    }
    // A block ending ..., 0x03, 0x02: pad value 2, but the byte before it is not 2.
    uint8_t last[16] = {0};
    last[14] = 0x03;
    last[15] = 0x02;
    ExpectBadPadding(m, head, last, "03 02");
}

TEST(Sm4Cbc, EveryValidPaddingIsAccepted) {
    std::mt19937_64 rng(16);
    Material m(rng);
    Bytes head = RandomBytes(rng, 32);
    for (int p = 1; p <= 16; ++p) {
        uint8_t last[16];
        for (auto &b : last) b = static_cast<uint8_t>(rng());
        for (int j = 16 - p; j < 16; ++j) last[j] = static_cast<uint8_t>(p);
        Bytes ct = CiphertextWithRawLastBlock(m, head, last);
        const uint32_t m_len = 48 - p;
        GuardedOut g(m_len);
        uint32_t outlen = m_len;
        ASSERT_EQ(SM4_SUCCESS, Cbc(0, m, ct, 48, g, &outlen)) << p;
        EXPECT_EQ(m_len, outlen);
        Bytes expect(head);
        expect.resize(head.size() + static_cast<size_t>(16 - p));
        std::memcpy(expect.data() + head.size(), last, static_cast<size_t>(16 - p));
        EXPECT_EQ(expect, g.Prefix(m_len));
        EXPECT_TRUE(g.GuardsIntact());
    }
}

// ---------------------------------------------------------------------------
// CBC-MAC

TEST(Sm4Mac, MatchesOpenSslCbcOverMethod2PaddedMessage) {
    std::mt19937_64 rng(20);
    for (uint32_t len : TestLengths()) {
        Material m(rng);
        Bytes msg = RandomBytes(rng, len);
        uint8_t mac_buf[18];
        std::memset(mac_buf, kGuard, sizeof mac_buf);
        uint8_t iv_before[16];
        std::memcpy(iv_before, m.iv, 16);
        ASSERT_EQ(SM4_SUCCESS, SM4_process_mac(m.mac_key, m.iv, msg.data(), len, mac_buf + 1));
        ASSERT_EQ(ReferenceMac(m.mac_key, m.iv, msg), Bytes(mac_buf + 1, mac_buf + 17)) << len;
        ASSERT_EQ(kGuard, mac_buf[0]);
        ASSERT_EQ(kGuard, mac_buf[17]);
        ASSERT_EQ(0, std::memcmp(iv_before, m.iv, 16));
    }
}

TEST(Sm4Mac, SpecEdgeCases) {
    std::mt19937_64 rng(21);
    Material m(rng);
    SM4_round_keys rk;
    SM4_set_key(m.mac_key, &rk);
    Bytes msg = RandomBytes(rng, 17);
    uint8_t mac[16], block[16], expect[16];

    // len 0: encipherment of the IV with its first byte XORed with 0x80.
    ASSERT_EQ(SM4_SUCCESS, SM4_process_mac(m.mac_key, m.iv, msg.data(), 0, mac));
    std::memcpy(block, m.iv, 16);
    block[0] ^= 0x80;
    SM4_encrypt(block, expect, &rk);
    EXPECT_EQ(0, std::memcmp(mac, expect, 16));

    // len 15: one encipherment of (15 bytes || 0x80) XOR IV.
    ASSERT_EQ(SM4_SUCCESS, SM4_process_mac(m.mac_key, m.iv, msg.data(), 15, mac));
    for (int j = 0; j < 15; ++j) block[j] = static_cast<uint8_t>(msg[j] ^ m.iv[j]);
    block[15] = static_cast<uint8_t>(0x80 ^ m.iv[15]);
    SM4_encrypt(block, expect, &rk);
    EXPECT_EQ(0, std::memcmp(mac, expect, 16));

    // len 16: the second encipherment is of (first result XOR 80 00 .. 00).
    uint8_t first[16];
    for (int j = 0; j < 16; ++j) block[j] = static_cast<uint8_t>(msg[j] ^ m.iv[j]);
    SM4_encrypt(block, first, &rk);
    ASSERT_EQ(SM4_SUCCESS, SM4_process_mac(m.mac_key, m.iv, msg.data(), 16, mac));
    std::memcpy(block, first, 16);
    block[0] ^= 0x80;
    SM4_encrypt(block, expect, &rk);
    EXPECT_EQ(0, std::memcmp(mac, expect, 16));

    // len 17: the second encipherment is of (byte 17, 0x80, 14 zeros) XOR first.
    ASSERT_EQ(SM4_SUCCESS, SM4_process_mac(m.mac_key, m.iv, msg.data(), 17, mac));
    std::memcpy(block, first, 16);
    block[0] ^= msg[16];
    block[1] ^= 0x80;
    SM4_encrypt(block, expect, &rk);
    EXPECT_EQ(0, std::memcmp(mac, expect, 16));
}

TEST(Sm4Mac, DistinguishesPaddingLookalikesIvsAndIgnoresOldMac) {
    std::mt19937_64 rng(22);
    Material m(rng);
    for (uint32_t len : {0u, 5u, 15u, 16u, 31u}) {
        Bytes msg = RandomBytes(rng, len);
        Bytes with80(msg), with00(msg);
        with80.push_back(0x80);
        with00.push_back(0x00);
        uint8_t a[16], b[16], c[16];
        SM4_process_mac(m.mac_key, m.iv, msg.data(), len, a);
        SM4_process_mac(m.mac_key, m.iv, with80.data(), len + 1, b);
        SM4_process_mac(m.mac_key, m.iv, with00.data(), len + 1, c);
        EXPECT_NE(0, std::memcmp(a, b, 16)) << len;
        EXPECT_NE(0, std::memcmp(a, c, 16)) << len;

        uint8_t iv2[16];
        std::memcpy(iv2, m.iv, 16);
        iv2[7] ^= 1;
        SM4_process_mac(m.mac_key, iv2, msg.data(), len, b);
        EXPECT_NE(0, std::memcmp(a, b, 16)) << len;

        // Whatever `mac` held before has no effect.
        std::memset(c, 0xFF, 16);
        SM4_process_mac(m.mac_key, m.iv, msg.data(), len, c);
        EXPECT_EQ(0, std::memcmp(a, c, 16)) << len;
    }
}

}  // namespace
