// Tests of the SM4 modes: CBC with PKCS#7 padding, CBC-MAC
// with ISO/IEC 9797-1 padding method 2, and the encrypt-and-MAC envelope,
// against OpenSSL's SM4-CBC, with every failure row and what `out` and
// *outlen hold afterwards; the streaming modes of the JCA Cipher (ECB, CBC,
// CTR) against OpenSSL's EVP, and every GHASH form against OpenSSL's GCM.
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
#include "sm4_block_modes.h"
#include "sm4_gcm.h"
#include "util/ct.h"

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t kGuard = 0xA5;

Bytes RandomBytes(std::mt19937_64 &rng, size_t n) {
    Bytes v(n);
    for (auto &b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// OpenSSL SM4-CBC; `pad` selects PKCS#7 (true) or none (false).
Bytes OpenSslCbc(bool encrypt, bool pad, const uint8_t key[16], const uint8_t iv[16],
                 const Bytes &in) {
    Bytes out(in.size() + 32);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EXPECT_NE(ctx, nullptr);
    int len = 0, fin = 0;
    EXPECT_EQ(1, EVP_CipherInit_ex(ctx, EVP_sm4_cbc(), nullptr, key, iv, encrypt ? 1 : 0));
    EXPECT_EQ(1, EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0));
    EXPECT_EQ(1, EVP_CipherUpdate(ctx, out.data(), &len, in.data(), static_cast<int>(in.size())));
    EXPECT_EQ(1, EVP_CipherFinal_ex(ctx, out.data() + len, &fin));
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(len + fin));
    return out;
}

// Reference CBC-MAC: ISO/IEC 9797-1 method 2 padding, then OpenSSL CBC
// without padding from the IV; the MAC is the last ciphertext block.
Bytes ReferenceMac(const uint8_t key[16], const uint8_t iv[16], const Bytes &msg) {
    Bytes padded(msg);
    padded.push_back(0x80);
    while (padded.size() % 16 != 0) padded.push_back(0x00);
    Bytes c = OpenSslCbc(true, false, key, iv, padded);
    return Bytes(c.end() - 16, c.end());
}

// Output buffer with one guard byte before and after `cap` bytes, and the
// whole capacity prefilled with the guard pattern.
struct GuardedOut {
    explicit GuardedOut(size_t cap) : buf(cap + 2, kGuard), cap(cap) {}
    uint8_t *out() { return buf.data() + 1; }
    bool GuardsIntact() const { return buf.front() == kGuard && buf.back() == kGuard; }
    // Bytes [from, cap) of the output still hold the guard pattern.
    bool UntouchedFrom(size_t from) const {
        for (size_t i = from; i < cap; ++i)
            if (buf[1 + i] != kGuard) return false;
        return true;
    }
    Bytes Prefix(size_t n) const { return Bytes(buf.begin() + 1, buf.begin() + 1 + n); }
    Bytes buf;
    size_t cap;
};

struct Material {
    uint8_t key[16], mac_key[16], iv[16];
    explicit Material(std::mt19937_64 &rng) {
        for (auto &b : key) b = static_cast<uint8_t>(rng());
        for (auto &b : mac_key) b = static_cast<uint8_t>(rng());
        for (auto &b : iv) b = static_cast<uint8_t>(rng());
    }
};

std::vector<uint32_t> TestLengths() {
    std::vector<uint32_t> v;
    for (uint32_t n = 0; n <= 300; ++n) v.push_back(n);
    for (uint32_t n : {511u, 512u, 513u, 1000u, 4095u, 4096u, 4097u, 65536u + 7u}) v.push_back(n);
    return v;
}

int32_t Cbc(int32_t flag, const Material &m, const Bytes &in, uint32_t len, GuardedOut &g,
            uint32_t *outlen) {
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
        ASSERT_EQ(SM4_SUCCESS, Cbc(0, m, ct, static_cast<uint32_t>(ct.size()), g, &outlen))
            << len;
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

// Ciphertext of `head` (whole blocks) followed by the raw final plaintext
// block `last`, CBC-encrypted without padding by OpenSSL.
Bytes CiphertextWithRawLastBlock(const Material &m, const Bytes &head, const uint8_t last[16]) {
    Bytes raw(head);
    raw.insert(raw.end(), last, last + 16);
    return OpenSslCbc(true, false, m.key, m.iv, raw);
}

void ExpectBadPadding(const Material &m, const Bytes &head, const uint8_t last[16],
                      const std::string &what) {
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
                ExpectBadPadding(m, head, last,
                                 "pad " + std::to_string(p) + " pos " + std::to_string(pos));
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
        expect.insert(expect.end(), last, last + (16 - p));
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
        ASSERT_EQ(SM4_SUCCESS, SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, pt.data(), len,
                                                       g.out(), &outlen))
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
        ASSERT_EQ(SM4_SUCCESS,
                  SM4_process_cbc(1, m.key, m.iv, pt.data(), len, cbc.data(), &cbclen));
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
        ASSERT_EQ(SM4_SUCCESS, SM4_process_cbc_and_mac(7, m.key, m.mac_key, m.iv, pt.data(), len,
                                                       env.data(), &envlen));
        // Capacity equal to the plaintext length.
        GuardedOut g(len);
        uint32_t outlen = len;
        ASSERT_EQ(SM4_SUCCESS, SM4_process_cbc_and_mac(0, m.key, m.mac_key, m.iv, env.data(),
                                                       envlen, g.out(), &outlen))
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
        ASSERT_EQ(SM4_SUCCESS, SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, pt.data(), len,
                                                       g.out(), &outlen));
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
                      SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, pt.data(), len, g.out(),
                                              &outlen))
                << len << " " << cap;
            EXPECT_EQ(cap, outlen);
            EXPECT_TRUE(g.UntouchedFrom(0));
            EXPECT_TRUE(g.GuardsIntact());
        }
        GuardedOut g(need);
        uint32_t outlen = need;
        EXPECT_EQ(SM4_SUCCESS, SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, pt.data(), len,
                                                       g.out(), &outlen));
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
                      SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, small.data(), len,
                                              g.out(), &outlen))
                << len << " " << cap;
            EXPECT_EQ(cap, outlen);
            EXPECT_TRUE(g.UntouchedFrom(0));
            EXPECT_TRUE(g.GuardsIntact());
        }
    }
    // Largest representable envelope (0xFFFFFFF0 bytes) with one byte less.
    GuardedOut g(32);
    uint32_t outlen = 0xFFFFFFEFu;
    EXPECT_EQ(SM4_ERR_OUTPUT_TOO_SMALL,
              SM4_process_cbc_and_mac(1, m.key, m.mac_key, m.iv, small.data(), 4294967263u,
                                      g.out(), &outlen));
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
    EXPECT_EQ(SM4_SUCCESS, SM4_process_cbc_and_mac(1, s.m.key, s.m.mac_key, s.m.iv, s.pt.data(),
                                                   len, s.env.data(), &envlen));
    return s;
}

int32_t Open(const Sealed &s, const Bytes &env, uint32_t len, GuardedOut &g, uint32_t *outlen) {
    return SM4_process_cbc_and_mac(0, s.m.key, s.m.mac_key, s.m.iv, env.data(), len, g.out(),
                                   outlen);
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
                EXPECT_EQ(SM4_ERR_MAC_MISMATCH, Open(s, env, envlen, g, &outlen))
                    << len << " " << pos;
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
    EXPECT_EQ(SM4_ERR_MAC_MISMATCH,
              SM4_process_cbc_and_mac(0, s.m.key, other_mac_key, s.m.iv, s.env.data(), envlen,
                                      g.out(), &outlen));
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

// ---- The streaming modes behind the JCA Cipher, and GHASH ----

namespace {

Bytes OpenSslStream(const EVP_CIPHER *cipher, bool encrypt, const uint8_t *key, const uint8_t *iv,
                    const Bytes &in) {
    Bytes out(in.size() + 16);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    int len = 0, fin = 0;
    EXPECT_EQ(EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv, encrypt ? 1 : 0), 1);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EXPECT_EQ(EVP_CipherUpdate(ctx, out.data(), &len, in.data(), static_cast<int>(in.size())), 1);
    EXPECT_EQ(EVP_CipherFinal_ex(ctx, out.data() + len, &fin), 1);
    EVP_CIPHER_CTX_free(ctx);
    out.resize(static_cast<size_t>(len + fin));
    return out;
}

std::vector<zenthal::GhashFn> GhashForms() {
    std::vector<zenthal::GhashFn> forms{zenthal::ghash_portable};
    if (auto f = zenthal::ghash_vclmul_form()) forms.push_back(f);
    if (auto f = zenthal::ghash_clmul_form()) forms.push_back(f);
    if (auto f = zenthal::ghash_pmull_form()) forms.push_back(f);
    return forms;
}

}  // namespace

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
