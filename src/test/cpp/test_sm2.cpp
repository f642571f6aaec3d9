// SM2 signatures in every curve form the processor runs: the standard's
// worked example through the fixed-nonce seam, and OpenSSL as the oracle for
// everything else (signatures both ways with random keys, IDs and messages,
// public keys, and both point multiplications at the scalars where their
// special cases lie).
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sm2.h"
#include "sm2_internal.h"
#include "sm3.h"
#include "test_forms.h"
#include "test_util.h"

namespace {

using zenthal::Sm2Form;

// Every SM2 form whose instructions the tests' own reading of the processor
// finds; the library must offer exactly those.
std::vector<const Sm2Form *> Sm2Forms() {
    std::vector<const Sm2Form *> forms;
    for (const char *const *n = zenthal::SM2_FORM_NAMES; *n != nullptr; ++n) {
        bool known = false;
        const bool host_has = test_forms::host_runs_sm2(*n, &known);
        EXPECT_TRUE(known) << *n;
        const Sm2Form *f = zenthal::sm2_form_named(*n);
        EXPECT_EQ(f != nullptr, host_has)
            << "SM2 form " << *n << ": the library's offer and the processor disagree";
        if (f != nullptr) forms.push_back(f);
    }
    return forms;
}

// Runs `body` once in each form, as the form every SM2 function uses.
template <class F>
void InEachForm(F body) {
    const Sm2Form &chosen = zenthal::sm2_form();
    for (const Sm2Form *f : Sm2Forms()) {
        SCOPED_TRACE(f->name);
        zenthal::sm2_use_form(*f);
        body(*f);
    }
    zenthal::sm2_use_form(chosen);
}

const char *const kN = "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123";

Bytes Digest(const Bytes &z, const Bytes &msg) {
    Bytes all = z;
    all.insert(all.end(), msg.begin(), msg.end());
    return openssl_sm3(all);
}

// --- OpenSSL as the oracle ---

struct PkeyDeleter {
    void operator()(EVP_PKEY *p) const { EVP_PKEY_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// An OpenSSL SM2 key from our encodings (priv may be empty for a public key).
Pkey OpenSslKey(const Bytes &priv, const Bytes &pub) {
    OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
    BIGNUM *d = nullptr;
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "SM2", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, pub.data(), pub.size());
    if (!priv.empty()) {
        d = BN_bin2bn(priv.data(), static_cast<int>(priv.size()), nullptr);
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_PRIV_KEY, d);
    }
    OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr);
    EVP_PKEY *key = nullptr;
    EVP_PKEY_fromdata_init(ctx);
    EVP_PKEY_fromdata(ctx, &key, priv.empty() ? EVP_PKEY_PUBLIC_KEY : EVP_PKEY_KEYPAIR, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_clear_free(d);
    return Pkey(key);
}

// DER SEQUENCE { r, s } <-> r || s.
Bytes ToDer(const Bytes &sig) {
    ECDSA_SIG *s = ECDSA_SIG_new();
    ECDSA_SIG_set0(s, BN_bin2bn(sig.data(), 32, nullptr), BN_bin2bn(sig.data() + 32, 32, nullptr));
    unsigned char *der = nullptr;
    const int len = i2d_ECDSA_SIG(s, &der);
    Bytes out(der, der + len);
    OPENSSL_free(der);
    ECDSA_SIG_free(s);
    return out;
}

Bytes FromDer(const Bytes &der) {
    const unsigned char *p = der.data();
    ECDSA_SIG *s = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size()));
    Bytes out(64);
    BN_bn2binpad(ECDSA_SIG_get0_r(s), out.data(), 32);
    BN_bn2binpad(ECDSA_SIG_get0_s(s), out.data() + 32, 32);
    ECDSA_SIG_free(s);
    return out;
}

bool OpenSslVerify(EVP_PKEY *key, const Bytes &id, const Bytes &msg, const Bytes &sig) {
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, id.data(), id.size());
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    const Bytes der = ToDer(sig);
    const bool ok = EVP_DigestVerifyInit(md, nullptr, EVP_sm3(), nullptr, key) == 1 &&
                    EVP_DigestVerify(md, der.data(), der.size(), msg.data(), msg.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return ok;
}

Bytes OpenSslSign(EVP_PKEY *key, const Bytes &id, const Bytes &msg) {
    EVP_MD_CTX *md = EVP_MD_CTX_new();
    EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new(key, nullptr);
    EVP_PKEY_CTX_set1_id(pctx, id.data(), id.size());
    EVP_MD_CTX_set_pkey_ctx(md, pctx);
    Bytes der(80);
    size_t len = der.size();
    EXPECT_EQ(EVP_DigestSignInit(md, nullptr, EVP_sm3(), nullptr, key), 1);
    EXPECT_EQ(EVP_DigestSign(md, der.data(), &len, msg.data(), msg.size()), 1);
    der.resize(len);
    EVP_MD_CTX_free(md);
    EVP_PKEY_CTX_free(pctx);
    return FromDer(der);
}

// k·P on OpenSSL's SM2 group (P null: the generator), as 04 || x || y, or
// empty for the point at infinity.
Bytes OpenSslMul(const Bytes &k, const Bytes *p) {
    EC_GROUP *g = EC_GROUP_new_by_curve_name(NID_sm2);
    EC_POINT *r = EC_POINT_new(g);
    BIGNUM *kb = BN_bin2bn(k.data(), static_cast<int>(k.size()), nullptr);
    if (p == nullptr) {
        EC_POINT_mul(g, r, kb, nullptr, nullptr, nullptr);
    } else {
        EC_POINT *pt = EC_POINT_new(g);
        EC_POINT_oct2point(g, pt, p->data(), p->size(), nullptr);
        EC_POINT_mul(g, r, nullptr, pt, kb, nullptr);
        EC_POINT_free(pt);
    }
    Bytes out;
    if (!EC_POINT_is_at_infinity(g, r)) {
        out.resize(65);
        EC_POINT_point2oct(g, r, POINT_CONVERSION_UNCOMPRESSED, out.data(), 65, nullptr);
    }
    BN_free(kb);
    EC_POINT_free(r);
    EC_GROUP_free(g);
    return out;
}

// n - j and small j, as 32 bytes.
Bytes NearN(int j) {
    Bytes n = from_hex(kN);
    int borrow = j;
    for (int i = 31; i >= 0 && borrow != 0; --i) {
        const int v = n[i] - borrow;
        n[i] = static_cast<uint8_t>(v & 0xff);
        borrow = v < 0 ? 1 : 0;
    }
    return n;
}

Bytes Small(int j) {
    Bytes b(32, 0);
    b[31] = static_cast<uint8_t>(j);
    return b;
}

}  // namespace

// GB/T 32918.5 Annex A: the signature of "message digest" with ID
// "1234567812345678" and a fixed nonce.
TEST(Sm2Sign, StandardExampleWithFixedNonce) {
    const Bytes d = from_hex("3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8");
    const Bytes k = from_hex("59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21");
    const std::string id = SM2_DEFAULT_ID, msg = "message digest";
    InEachForm([&](const Sm2Form &f) {
        Bytes pub(65), z(32);
        ASSERT_EQ(SM2_public_key(d.data(), pub.data()), SM2_SUCCESS);
        ASSERT_EQ(
            SM2_compute_z(pub.data(), reinterpret_cast<const uint8_t *>(id.data()), id.size(), z.data()),
            SM2_SUCCESS);
        const Bytes e = Digest(z, Bytes(msg.begin(), msg.end()));
        uint64_t dl[4], kl[4], dinv[4];
        zenthal::sc_from_bytes(dl, d.data());
        zenthal::sc_from_bytes(kl, k.data());
        Bytes inv(32);
        ASSERT_EQ(SM2_sign_inverse(d.data(), inv.data()), SM2_SUCCESS);
        zenthal::sc_from_bytes(dinv, inv.data());
        Bytes sig(64);
        EXPECT_EQ(zenthal::sm2_sign_with_nonce(f, dl, dinv, e.data(), kl, sig.data()), 0u);
        EXPECT_EQ(to_hex(sig),
                  "f5a03b0648d2c4630eeac513e1bb81a15944da3827d5b74143ac7eaceee720b3"
                  "b1b6aa29df212fd8763182bc0d421ca1bb9038fd1f7f42d4840b69c485bbc1aa");
        EXPECT_EQ(SM2_verify_digest(pub.data(), e.data(), sig.data()), SM2_SUCCESS);
    });
}

// Random keys, IDs and messages: each side verifies the other's signatures,
// and OpenSSL derives the same public key from our private key.
TEST(Sm2Sign, AgreesWithOpenSsl) {
    std::mt19937_64 rng(2501);
    InEachForm([&](const Sm2Form &) {
        for (int round = 0; round < 24; ++round) {
            Bytes priv(32), pub(65), sig(64);
            ASSERT_EQ(SM2_generate_key(random_bytes(rng, 64).data(), priv.data(), pub.data()), SM2_SUCCESS);
            const Bytes id = round % 3 == 0 ? Bytes{} : random_bytes(rng, rng() % 40);
            const Bytes msg = random_bytes(rng, rng() % 300);
            const Bytes entropy = random_bytes(rng, 32);
            Pkey key = OpenSslKey(priv, pub);
            ASSERT_TRUE(key) << "OpenSSL refused the key pair";
            ASSERT_EQ(EVP_PKEY_check(std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>(
                                         EVP_PKEY_CTX_new(key.get(), nullptr), EVP_PKEY_CTX_free)
                                         .get()),
                      1)
                << "OpenSSL finds the public key not that of the private key";

            ASSERT_EQ(SM2_sign(priv.data(), round % 2 ? pub.data() : nullptr, id.data(), id.size(),
                               msg.data(), msg.size(), entropy.data(), entropy.size(), sig.data()),
                      SM2_SUCCESS);
            EXPECT_TRUE(OpenSslVerify(key.get(), id, msg, sig)) << round;
            EXPECT_EQ(SM2_verify(pub.data(), id.data(), id.size(), msg.data(), msg.size(), sig.data()),
                      SM2_SUCCESS);

            const Bytes theirs = OpenSslSign(key.get(), id, msg);
            EXPECT_EQ(SM2_verify(pub.data(), id.data(), id.size(), msg.data(), msg.size(), theirs.data()),
                      SM2_SUCCESS)
                << round;
            Bytes other = msg;
            other.push_back(1);
            EXPECT_EQ(SM2_verify(pub.data(), id.data(), id.size(), other.data(), other.size(), theirs.data()),
                      SM2_ERR_SIGNATURE);
        }
    });
}

// Both multiplications against OpenSSL at random scalars and where their
// special cases lie: the smallest scalars, and those just below n, where
// the arbitrary-point one's last addition meets a doubling.
TEST(Sm2Curve, MultiplicationsAgreeWithOpenSsl) {
    std::mt19937_64 rng(2502);
    std::vector<Bytes> scalars;
    for (int j = 1; j <= 40; ++j) {
        scalars.push_back(Small(j));
        scalars.push_back(NearN(j));
    }
    for (int j = 0; j < 20; ++j) scalars.push_back(random_bytes(rng, 32));
    // A high-weight and a low-weight one.
    scalars.push_back(from_hex("7fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"));
    scalars.push_back(from_hex("8000000000000000000000000000000000000000000000000000000000000001"));
    const Bytes p = OpenSslMul(random_bytes(rng, 32), nullptr);
    InEachForm([&](const Sm2Form &f) {
        for (const Bytes &k : scalars) {
            uint64_t kl[4], x[4], y[4], px[4], py[4];
            zenthal::sc_from_bytes(kl, k.data());
            zenthal::sc_reduce(kl, kl);
            Bytes ours(65);
            ours[0] = 4;
            if (!zenthal::sc_is_zero(kl)) {
                f.base_mul(kl, x, y);
                zenthal::sc_to_bytes(ours.data() + 1, x);
                zenthal::sc_to_bytes(ours.data() + 33, y);
                EXPECT_EQ(to_hex(ours), to_hex(OpenSslMul(k, nullptr))) << "k·G, k = " << to_hex(k);
            }
            zenthal::sc_from_bytes(px, p.data() + 1);
            zenthal::sc_from_bytes(py, p.data() + 33);
            const uint64_t inf = f.point_mul(kl, px, py, x, y);
            const Bytes want = OpenSslMul(k, &p);
            EXPECT_EQ(inf != 0, want.empty()) << "k·P, k = " << to_hex(k);
            if (!want.empty()) {
                zenthal::sc_to_bytes(ours.data() + 1, x);
                zenthal::sc_to_bytes(ours.data() + 33, y);
                EXPECT_EQ(to_hex(ours), to_hex(want)) << "k·P, k = " << to_hex(k);
            }
        }
    });
}

// What must be refused: keys out of range or off the curve, signatures out
// of range or for something else, an inverse of another key, a long ID.
TEST(Sm2Sign, RefusesBadInput) {
    std::mt19937_64 rng(2503);
    Bytes priv(32), pub(65), sig(64), e = random_bytes(rng, 32), inv(32);
    ASSERT_EQ(SM2_generate_key(random_bytes(rng, 64).data(), priv.data(), pub.data()), SM2_SUCCESS);
    ASSERT_EQ(SM2_sign_digest(priv.data(), nullptr, e.data(), nullptr, 0, sig.data()), SM2_SUCCESS);
    InEachForm([&](const Sm2Form &) {
        EXPECT_EQ(SM2_verify_digest(pub.data(), e.data(), sig.data()), SM2_SUCCESS);
        for (const Bytes &bad : {Small(0), NearN(1), NearN(0), Bytes(32, 0xff)}) {
            Bytes out(64, 0x55);
            EXPECT_EQ(SM2_sign_digest(bad.data(), nullptr, e.data(), nullptr, 0, out.data()),
                      SM2_ERR_PRIVATE_KEY);
            EXPECT_EQ(out, Bytes(64, 0)) << "a refused key's signature left";
            Bytes point(65);
            EXPECT_EQ(SM2_public_key(bad.data(), point.data()), SM2_ERR_PRIVATE_KEY);
            EXPECT_EQ(SM2_sign_inverse(bad.data(), out.data()), SM2_ERR_PRIVATE_KEY);
        }
        // r and s: zero, n, above n; the signature of another digest.
        for (int half = 0; half < 2; ++half) {
            for (const Bytes &v : {Small(0), NearN(0), Bytes(32, 0xff)}) {
                Bytes s = sig;
                std::copy(v.begin(), v.end(), s.begin() + 32 * half);
                EXPECT_EQ(SM2_verify_digest(pub.data(), e.data(), s.data()), SM2_ERR_SIGNATURE);
            }
        }
        Bytes e2 = e;
        e2[5] ^= 1;
        EXPECT_EQ(SM2_verify_digest(pub.data(), e2.data(), sig.data()), SM2_ERR_SIGNATURE);
        // Keys off the curve, at infinity, compressed or with coordinates >= p.
        Bytes off = pub;
        off[64] ^= 1;
        Bytes infinity(65, 0);
        infinity[0] = 4;
        Bytes compressed = pub;
        compressed[0] = 2;
        Bytes big = pub;
        std::fill(big.begin() + 1, big.begin() + 33, 0xff);
        for (const Bytes &k : {off, infinity, compressed, big}) {
            EXPECT_EQ(SM2_check_public_key(k.data()), SM2_ERR_PUBLIC_KEY);
            EXPECT_EQ(SM2_verify_digest(k.data(), e.data(), sig.data()), SM2_ERR_PUBLIC_KEY);
        }
        // An inverse that is not this key's.
        Bytes other(32), other_pub(65);
        ASSERT_EQ(SM2_generate_key(random_bytes(rng, 64).data(), other.data(), other_pub.data()),
                  SM2_SUCCESS);
        ASSERT_EQ(SM2_sign_inverse(other.data(), inv.data()), SM2_SUCCESS);
        Bytes out(64);
        EXPECT_EQ(SM2_sign_digest(priv.data(), inv.data(), e.data(), nullptr, 0, out.data()),
                  SM2_ERR_PRIVATE_KEY);
        // An inverse of zero, or of n, would make every s zero: refused, not
        // retried for ever.
        for (const Bytes &zero : {Small(0), NearN(0)})
            EXPECT_EQ(SM2_sign_digest(priv.data(), zero.data(), e.data(), nullptr, 0, out.data()),
                      SM2_ERR_PRIVATE_KEY);
        ASSERT_EQ(SM2_sign_inverse(priv.data(), inv.data()), SM2_SUCCESS);
        EXPECT_EQ(SM2_sign_digest(priv.data(), inv.data(), e.data(), nullptr, 0, out.data()), SM2_SUCCESS);
        EXPECT_EQ(out, sig) << "the cached inverse signs as the computed one";
    });
    Bytes id(SM2_MAX_ID_LENGTH + 1, 'a'), z(32);
    EXPECT_EQ(SM2_compute_z(pub.data(), id.data(), id.size(), z.data()), SM2_ERR_ID_LENGTH);
    EXPECT_EQ(SM2_compute_z(pub.data(), id.data(), id.size() - 1, z.data()), SM2_SUCCESS);
}

// The nonce is hedged: the same key, digest and entropy sign alike, and a
// change of any one of them changes r.
TEST(Sm2Sign, NonceDependsOnKeyDigestAndEntropy) {
    std::mt19937_64 rng(2504);
    Bytes priv(32), pub(65), priv2(32), pub2(65);
    ASSERT_EQ(SM2_generate_key(random_bytes(rng, 64).data(), priv.data(), pub.data()), SM2_SUCCESS);
    ASSERT_EQ(SM2_generate_key(random_bytes(rng, 64).data(), priv2.data(), pub2.data()), SM2_SUCCESS);
    const Bytes e = random_bytes(rng, 32), entropy = random_bytes(rng, 32);
    Bytes e2 = e, entropy2 = entropy;
    e2[0] ^= 0x80;
    entropy2[31] ^= 1;
    auto sign = [](const Bytes &d, const Bytes &digest, const Bytes &ent) {
        Bytes sig(64);
        EXPECT_EQ(SM2_sign_digest(d.data(), nullptr, digest.data(), ent.data(), ent.size(), sig.data()),
                  SM2_SUCCESS);
        return Bytes(sig.begin(), sig.begin() + 32);
    };
    const Bytes r = sign(priv, e, entropy);
    EXPECT_EQ(sign(priv, e, entropy), r);
    EXPECT_NE(sign(priv, e, entropy2), r);
    EXPECT_NE(sign(priv, e, Bytes{}), r);
    EXPECT_NE(sign(priv2, e, entropy), r);
    EXPECT_NE(sign(priv, e2, entropy), r);
}
