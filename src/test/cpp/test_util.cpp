#include "test_util.h"

#include <openssl/evp.h>

#include <stdexcept>

Bytes from_hex(const std::string &hex) {
    Bytes out;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    int hi = -1;
    for (char c : hex) {
        const int v = nibble(c);
        if (v < 0) continue;  // spaces between groups
        if (hi < 0) {
            hi = v;
        } else {
            out.push_back(static_cast<uint8_t>(hi << 4 | v));
            hi = -1;
        }
    }
    return out;
}

std::string to_hex(const uint8_t *p, std::size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

Bytes random_bytes(std::mt19937_64 &rng, std::size_t n) {
    Bytes b(n);
    for (auto &x : b) x = static_cast<uint8_t>(rng());
    return b;
}

Bytes openssl_sm3(const uint8_t *p, std::size_t n) {
    Bytes out(32);
    unsigned int len = 0;
    if (EVP_Digest(p, n, out.data(), &len, EVP_sm3(), nullptr) != 1 || len != 32) {
        throw std::runtime_error("OpenSSL SM3 failed");
    }
    return out;
}
