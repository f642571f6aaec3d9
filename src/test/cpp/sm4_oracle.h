// OpenSSL oracles and guarded buffers shared by the SM4 mode tests.
#ifndef ZENTHAL_TEST_SM4_ORACLE_H
#define ZENTHAL_TEST_SM4_ORACLE_H

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace sm4_oracle {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xA5;

inline Bytes RandomBytes(std::mt19937_64 &rng, size_t n) {
    Bytes v(n);
    for (auto &b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// OpenSSL SM4-CBC; `pad` selects PKCS#7 (true) or none (false).
inline Bytes OpenSslCbc(bool encrypt, bool pad, const uint8_t key[16], const uint8_t iv[16],
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
inline Bytes ReferenceMac(const uint8_t key[16], const uint8_t iv[16], const Bytes &msg) {
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

inline std::vector<uint32_t> TestLengths() {
    std::vector<uint32_t> v;
    for (uint32_t n = 0; n <= 300; ++n) v.push_back(n);
    for (uint32_t n : {511u, 512u, 513u, 1000u, 4095u, 4096u, 4097u, 65536u + 7u}) v.push_back(n);
    return v;
}

inline Bytes OpenSslStream(const EVP_CIPHER *cipher, bool encrypt, const uint8_t *key, const uint8_t *iv,
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

// Ciphertext of `head` (whole blocks) followed by the raw final plaintext
// block `last`, CBC-encrypted without padding by OpenSSL.
inline Bytes CiphertextWithRawLastBlock(const Material &m, const Bytes &head, const uint8_t last[16]) {
    Bytes raw(head);
    raw.resize(head.size() + 16);
    std::memcpy(raw.data() + head.size(), last, 16);
    return OpenSslCbc(true, false, m.key, m.iv, raw);
}

}  // namespace sm4_oracle

#endif
