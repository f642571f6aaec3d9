// Helpers shared by the C++ tests: hex, deterministic random bytes, and the
// OpenSSL oracles.
#ifndef ZENTHAL_TEST_UTIL_H
#define ZENTHAL_TEST_UTIL_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

Bytes from_hex(const std::string &hex);
std::string to_hex(const uint8_t *p, std::size_t n);
inline std::string to_hex(const Bytes &b) { return to_hex(b.data(), b.size()); }

// Seeded so that a failure reproduces.
Bytes random_bytes(std::mt19937_64 &rng, std::size_t n);

// OpenSSL's SM3 of the given bytes.
Bytes openssl_sm3(const uint8_t *p, std::size_t n);
inline Bytes openssl_sm3(const Bytes &b) { return openssl_sm3(b.data(), b.size()); }

#endif
