// SM2 verification and public-key checking against OpenSSL.
//  - A key pair from the input's random bytes: OpenSSL takes it as a pair
//    (its public key that of its private key), and a signature of the
//    input's digest verifies on both sides.
//  - That signature with one bit flipped, and any 64 bytes read as r || s
//    (r and s zero, at or above n included): our verdict is OpenSSL's.
//  - Any 65 bytes as a public key: accepted exactly when OpenSSL finds an
//    uncompressed point on the curve, and then any signature gets OpenSSL's
//    verdict under it.
// Each input runs in every SM2 form the processor has, by the fuzzers' own
// reading of it (test_forms.h).
//
// Input: [random 64] [digest 32] [entropy 32] [flip position] [flip mask]
//        [signature 64] [public key 65]
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "forms/sm2_forms.h"
#include "sm2.h"
#include "sm2_internal.h"
#include "test_forms.h"

#include "fuzz_util.h"

namespace {

using fuzz::Reader;

void check(bool ok, const char *what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_sm2: %s\n", what);
        std::abort();
    }
}

// OpenSSL's SM2 key from a public point (and a private key, or null), or
// null when OpenSSL refuses it.
EVP_PKEY *openssl_key(const uint8_t pub[65], const uint8_t *priv) {
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    BIGNUM *d = priv ? BN_bin2bn(priv, 32, nullptr) : nullptr;
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, pub, 65);
    if (d) OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, d);
    OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY *key = nullptr;
    if (EVP_PKEY_fromdata_init(ctx) != 1 ||
        EVP_PKEY_fromdata(ctx, &key, d ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params) != 1)
        key = nullptr;
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_clear_free(d);
    return key;
}

// Whether OpenSSL finds an uncompressed point on the SM2 curve.
bool openssl_on_curve(const uint8_t pub[65]) {
    if (pub[0] != 0x04) return false;
    EC_GROUP *g = EC_GROUP_new_by_curve_name(NID_sm2);
    EC_POINT *p = EC_POINT_new(g);
    const bool ok = EC_POINT_oct2point(g, p, pub, 65, nullptr) == 1 &&
                    EC_POINT_is_on_curve(g, p, nullptr) == 1 && EC_POINT_is_at_infinity(g, p) == 0;
    EC_POINT_free(p);
    EC_GROUP_free(g);
    return ok;
}

bool openssl_verify(EVP_PKEY *key, const uint8_t e[32], const uint8_t sig[64]) {
    ECDSA_SIG *s = ECDSA_SIG_new();
    ECDSA_SIG_set0(s, BN_bin2bn(sig, 32, nullptr), BN_bin2bn(sig + 32, 32, nullptr));
    unsigned char *der = nullptr;
    const int len = i2d_ECDSA_SIG(s, &der);
    ECDSA_SIG_free(s);
    EVP_PKEY_CTX *c = EVP_PKEY_CTX_new(key, nullptr);
    const bool ok =
        EVP_PKEY_verify_init(c) == 1 && EVP_PKEY_verify(c, der, static_cast<size_t>(len), e, 32) == 1;
    EVP_PKEY_CTX_free(c);
    OPENSSL_free(der);
    return ok;
}

std::vector<const zenthal::Sm2Form *> forms() {
    std::vector<const zenthal::Sm2Form *> out;
    for (const char *const *n = zenthal::SM2_FORM_NAMES; *n != nullptr; ++n) {
        bool known = false;
        const bool host_has = test_forms::host_runs_sm2(*n, &known);
        const zenthal::Sm2Form *f = zenthal::sm2_form_named(*n);
        check(known && (f != nullptr) == host_has,
              "an SM2 form the library's offer and the processor disagree on");
        if (f != nullptr) out.push_back(f);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::vector<const zenthal::Sm2Form *> all = forms();
    Reader in{data, size};
    uint8_t random[64], e[32], entropy[32], raw_sig[64], raw_pub[65];
    in.take(random, 64);
    in.take(e, 32);
    in.take(entropy, 32);
    const uint8_t flip_pos = in.u8(), flip_mask = in.u8();
    in.take(raw_sig, 64);
    in.take(raw_pub, 65);

    for (const zenthal::Sm2Form *f : all) {
        uint8_t priv[32], pub[65], sig[64];
        check(zenthal::sm2_generate_key(*f, random, priv, pub) == SM2_SUCCESS, "key generation failed");
        EVP_PKEY *pair = openssl_key(pub, priv);
        check(pair != nullptr, "OpenSSL refused a generated key pair");
        EVP_PKEY_CTX *pc = EVP_PKEY_CTX_new(pair, nullptr);
        check(EVP_PKEY_pairwise_check(pc) == 1, "OpenSSL finds the public key not that of the private key");
        EVP_PKEY_CTX_free(pc);

        check(zenthal::sm2_sign_digest(*f, priv, nullptr, e, entropy, 32, sig) == SM2_SUCCESS,
              "signing failed");
        check(zenthal::sm2_verify_digest(*f, pub, e, sig) == SM2_SUCCESS, "our signature does not verify");
        check(openssl_verify(pair, e, sig), "OpenSSL refuses our signature");

        uint8_t flipped[64];
        std::memcpy(flipped, sig, 64);
        flipped[flip_pos % 64] ^= flip_mask;
        const bool ours_flipped = zenthal::sm2_verify_digest(*f, pub, e, flipped) == SM2_SUCCESS;
        check(ours_flipped == openssl_verify(pair, e, flipped), "a flipped signature: verdicts differ");
        check(ours_flipped == (flip_mask == 0), "a flipped signature verifies");
        const bool ours_raw = zenthal::sm2_verify_digest(*f, pub, e, raw_sig) == SM2_SUCCESS;
        check(ours_raw == openssl_verify(pair, e, raw_sig), "arbitrary r || s: verdicts differ");
        EVP_PKEY_free(pair);

        const bool accepted = SM2_check_public_key(raw_pub) == SM2_SUCCESS;
        check(accepted == openssl_on_curve(raw_pub), "an arbitrary public key: verdicts differ");
        const int32_t rc = zenthal::sm2_verify_digest(*f, raw_pub, e, raw_sig);
        check((rc == SM2_ERR_PUBLIC_KEY) == !accepted, "verification under a refused key");
        if (accepted) {
            EVP_PKEY *other = openssl_key(raw_pub, nullptr);
            check(other != nullptr, "OpenSSL refused a point on its curve");
            check((rc == SM2_SUCCESS) == openssl_verify(other, e, raw_sig),
                  "under an arbitrary key: verdicts differ");
            EVP_PKEY_free(other);
        }
    }
    return 0;
}
