// OpenSSL as the SM2 oracle, shared by the C++ tests and the fuzzer: keys
// from our encodings, signatures and ciphertexts in the DER forms OpenSSL
// exchanges, and its own verdicts. Every function reports failure by its
// result (false, null or empty), never by a test assertion.
#ifndef ZENTHAL_TEST_SM2_ORACLE_H
#define ZENTHAL_TEST_SM2_ORACLE_H

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace sm2_oracle {

using Bytes = std::vector<uint8_t>;

struct PkeyDeleter {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// OpenSSL's SM2 key from a public point and, unless null, a private key;
// null when OpenSSL refuses it.
inline Pkey key(const uint8_t pub[65], const uint8_t *priv) {
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    BIGNUM *d = priv ? BN_bin2bn(priv, 32, nullptr) : nullptr;
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, pub, 65);
    if (d) OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, d);
    OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY *k = nullptr;
    if (EVP_PKEY_fromdata_init(ctx) != 1 ||
        EVP_PKEY_fromdata(ctx, &k, d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params) != 1)
        k = nullptr;
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_clear_free(d);
    return Pkey(k);
}

// Whether OpenSSL takes the private key's public key to be `pub`.
inline bool pair_matches(EVP_PKEY *k) {
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(k, nullptr);
    const bool ok = EVP_PKEY_pairwise_check(c) == 1;
    EVP_PKEY_CTX_free(c);
    return ok;
}

// Whether OpenSSL finds an uncompressed point on the SM2 curve.
inline bool on_curve(const uint8_t pub[65]) {
    if (pub[0] != 0x04) return false;
    EC_GROUP *g = EC_GROUP_new_by_curve_name(NID_sm2);
    EC_POINT *p = EC_POINT_new(g);
    const bool ok = EC_POINT_oct2point(g, p, pub, 65, nullptr) == 1 &&
                    EC_POINT_is_on_curve(g, p, nullptr) == 1 && EC_POINT_is_at_infinity(g, p) == 0;
    EC_POINT_free(p);
    EC_GROUP_free(g);
    return ok;
}

// DER SEQUENCE { r, s } from r || s, and back (empty when malformed).
inline Bytes sig_to_der(const uint8_t sig[64]) {
    ECDSA_SIG *s = ECDSA_SIG_new();
    ECDSA_SIG_set0(s, BN_bin2bn(sig, 32, nullptr), BN_bin2bn(sig + 32, 32, nullptr));
    unsigned char *der = nullptr;
    const int len = i2d_ECDSA_SIG(s, &der);
    Bytes out(der, der + len);
    OPENSSL_free(der);
    ECDSA_SIG_free(s);
    return out;
}

inline Bytes sig_from_der(const Bytes &der) {
    const unsigned char *p = der.data();
    ECDSA_SIG *s = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    if (s == nullptr) return {};
    Bytes out(64);
    BN_bn2binpad(ECDSA_SIG_get0_r(s), out.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(s), out.data() + 32, 32);
    ECDSA_SIG_free(s);
    return out;
}

// OpenSSL's verdict on r || s over a digest e.
inline bool verify_digest(EVP_PKEY *k, const uint8_t e[32], const uint8_t sig[64]) {
    const Bytes der = sig_to_der(sig);
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(k, nullptr);
    const bool ok = EVP_PKEY_verify_init(c) == 1 && EVP_PKEY_verify(c, der.data(), der.size(), e, 32) == 1;
    EVP_PKEY_CTX_free(c);
    return ok;
}

// Signing and verifying a message as the signer `id`, SM3 and Z included.
inline bool verify(EVP_PKEY *k, const Bytes &id, const Bytes &msg, const Bytes &sig) {
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new(k, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, id.data(), id.size());
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    const Bytes der = sig_to_der(sig.data());
    const bool ok = EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, k) == 1 &&
                    EVP_DigestVerify(md, der.data(), der.size(), msg.data(), msg.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return ok;
}

inline Bytes sign(EVP_PKEY *k, const Bytes &id, const Bytes &msg) {
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new(k, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, id.data(), id.size());
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    Bytes der(80);
    size_t len = der.size();
    const bool ok = EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, k) == 1 &&
                    EVP_DigestSign(md, der.data(), &len, msg.data(), msg.size()) == 1;
    der.resize(len);
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return ok ? sig_from_der(der) : Bytes{};
}

// GM/T 0009's DER SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3,
// OCTET STRING C2 } from C1 || C3 || C2, and back (empty when malformed).
inline void der_item(Bytes *out, uint8_t tag, const uint8_t *body, size_t n) {
    out->push_back(tag);
    if (n >= 256)
        out->insert(out->end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    else if (n >= 128)
        out->insert(out->end(), {0x81, static_cast<uint8_t>(n)});
    else
        out->push_back(static_cast<uint8_t>(n));
    out->insert(out->end(), body, body + n);
}

inline void der_integer(Bytes *out, const uint8_t *be, size_t n) {
    size_t i = 0;
    while (i + 1 < n && be[i] == 0) ++i;
    Bytes body;
    if (be[i] & 0x80) body.push_back(0);
    body.insert(body.end(), be + i, be + n);
    der_item(out, 0x02, body.data(), body.size());
}

inline Bytes to_gm_der(const Bytes &c) {
    Bytes body;
    der_integer(&body, c.data() + 1, 32);
    der_integer(&body, c.data() + 33, 32);
    der_item(&body, 0x04, c.data() + 65, 32);
    der_item(&body, 0x04, c.data() + 97, c.size() - 97);
    Bytes out;
    der_item(&out, 0x30, body.data(), body.size());
    return out;
}

// The body of the DER item at *p with this tag, *p moved past it; false
// when it is not there whole.
inline bool der_read(const Bytes &der, size_t *p, uint8_t tag, size_t *at, size_t *n) {
    if (*p + 2 > der.size() || der[*p] != tag) return false;
    size_t len = der[*p + 1], i = *p + 2;
    if (len & 0x80) {
        const size_t k = len & 0x7f;
        if (k > 2 || i + k > der.size()) return false;
        len = 0;
        for (size_t j = 0; j < k; ++j) len = len << 8 | der[i++];
    }
    if (i + len > der.size()) return false;
    *at = i;
    *n = len;
    *p = i + len;
    return true;
}

inline Bytes from_gm_der(const Bytes &der) {
    size_t p = 0, at, n;
    if (!der_read(der, &p, 0x30, &at, &n)) return {};
    p = at;
    Bytes out{0x04};
    for (int i = 0; i < 2; ++i) {
        if (!der_read(der, &p, 0x02, &at, &n)) return {};
        while (n > 32 && der[at] == 0) ++at, --n;
        if (n > 32) return {};
        out.insert(out.end(), 32 - n, 0);
        out.insert(out.end(), der.begin() + static_cast<long>(at), der.begin() + static_cast<long>(at + n));
    }
    for (size_t want : {size_t{32}, size_t{0}}) {
        if (!der_read(der, &p, 0x04, &at, &n) || (want != 0 && n != want)) return {};
        out.insert(out.end(), der.begin() + static_cast<long>(at), der.begin() + static_cast<long>(at + n));
    }
    return out;
}

// OpenSSL's SM2 encryption (to its DER form) or decryption (of it); empty
// when it fails.
inline Bytes crypt(EVP_PKEY *k, bool encrypt, const Bytes &in) {
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(k, nullptr);
    size_t len = 0;
    auto run = [&](uint8_t *out) {
        return encrypt ? EVP_PKEY_encrypt(c, out, &len, in.data(), in.size())
                       : EVP_PKEY_decrypt(c, out, &len, in.data(), in.size());
    };
    Bytes out;
    if ((encrypt ? EVP_PKEY_encrypt_init(c) : EVP_PKEY_decrypt_init(c)) == 1 && run(nullptr) == 1) {
        out.resize(len);
        if (run(out.data()) == 1)
            out.resize(len);
        else
            out.clear();
    }
    EVP_PKEY_CTX_free(c);
    return out;
}

}  // namespace sm2_oracle

#endif
