// Pieces shared by the fuzz targets: a failing check that aborts (so
// libFuzzer keeps the input), a reader that turns the fuzzer's bytes into
// parameters, and for the SM4 targets OpenSSL's CBC as the oracle and an
// output buffer whose untouched bytes can be checked one by one.
#ifndef ZENTHAL_FUZZ_UTIL_H
#define ZENTHAL_FUZZ_UTIL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#define CHECK(cond)                                                                               \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            std::fprintf(stderr, "%s: check failed at line %d: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// Reads past the end as zeros, so every input is a complete parameter set.
struct Reader {
    const uint8_t *p;
    size_t n;
    uint8_t u8() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
    void take(uint8_t *dst, size_t k) {
        for (size_t i = 0; i < k; ++i) dst[i] = u8();
    }
};

// Output buffer prefilled with a position-dependent pattern, so bytes that
// must stay untouched can be checked one by one.
struct OutBuf {
    std::unique_ptr<uint8_t[]> p;
    size_t n;
    explicit OutBuf(size_t size) : p(new uint8_t[size]), n(size) {
        for (size_t i = 0; i < n; ++i) p[i] = fill(i);
    }
    static uint8_t fill(size_t i) { return static_cast<uint8_t>(0xA5 ^ (i * 0x3B)); }
    bool holds(const uint8_t *expected, size_t k) const {
        return k <= n && std::memcmp(p.get(), expected, k) == 0;
    }
    bool untouched_from(size_t k) const {
        for (size_t i = k; i < n; ++i)
            if (p[i] != fill(i)) return false;
        return true;
    }
};

// A capacity of 0 … len + headroom backed by exactly that many bytes; or,
// with the top bit of sel, one near 2^32 backed by len + headroom bytes (no
// legitimate output is longer), which exercises the unsigned comparisons at
// their far end.
struct Capacity {
    uint32_t claimed;
    size_t backed;
};

inline Capacity pick_capacity(uint16_t sel, size_t len, size_t headroom) {
    if (sel & 0x8000u) return {0xFFFFFFFFu - (sel & 0xFFu), len + headroom};
    const size_t c = (sel & 0x7FFFu) % (len + headroom + 1);
    return {static_cast<uint32_t>(c), c};
}

}  // namespace fuzz

#ifdef OPENSSL_EVP_H  // only for targets that include <openssl/evp.h> first
namespace fuzz {

// OpenSSL SM4-CBC in one pass. Returns false only when the padded
// decryption rejects the padding.
// OpenSSL's SM4 in `mode` ("SM4-CBC", "SM4-ECB", "SM4-CTR").
inline bool openssl_sm4(const char *mode, bool encrypt, bool pad, const uint8_t key[16], const uint8_t iv[16],
                        const uint8_t *in, size_t len, Bytes *out) {
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, mode, nullptr);
    static EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    CHECK(cipher != nullptr && ctx != nullptr);
    out->assign(len + 32, 0);
    int n = 0, fin = 0;
    CHECK(EVP_CipherInit_ex2(ctx, cipher, key, iv, encrypt ? 1 : 0, nullptr) == 1);
    CHECK(EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0) == 1);
    CHECK(EVP_CipherUpdate(ctx, out->data(), &n, in, static_cast<int>(len)) == 1);
    const bool ok = EVP_CipherFinal_ex(ctx, out->data() + n, &fin) == 1;
    CHECK(ok || (!encrypt && pad));
    out->resize(ok ? static_cast<size_t>(n + fin) : static_cast<size_t>(n));
    EVP_CIPHER_free(cipher);
    return ok;
}

inline bool openssl_cbc(bool encrypt, bool pad, const uint8_t key[16], const uint8_t iv[16],
                        const uint8_t *in, size_t len, Bytes *out) {
    return openssl_sm4("SM4-CBC", encrypt, pad, key, iv, in, len, out);
}

}  // namespace fuzz
#endif

#ifdef ZENTHAL_TEST_FORMS_H  // only for targets that include test_forms.h first
namespace fuzz {

// Makes the SM4 form `name` the one the library runs and answers true when
// the fuzzers' own reading of the processor finds its instructions; false
// when that reading finds them missing, the one reason to leave a form out.
// A library that does not offer a form the processor has aborts the run.
inline bool use_sm4_form(const char *name) {
    const test_forms::Lookup found = test_forms::find_sm4(name);
    if (found.found == test_forms::Found::host_lacks) return false;
    if (found.found != test_forms::Found::runs) std::fprintf(stderr, "%s\n", found.why.c_str());
    CHECK(found.found == test_forms::Found::runs);
    zenthal::sm4_use_form(*found.form);
    return true;
}

}  // namespace fuzz
#endif

#endif
