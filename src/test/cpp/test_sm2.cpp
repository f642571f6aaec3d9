// SM2 in every curve form the processor runs: the standard's worked examples
// of signing and encryption through the fixed-nonce seams, and OpenSSL as
// the oracle for everything else (signatures and ciphertexts both ways with
// random keys, IDs and messages, public keys, both point multiplications at
// the scalars where their special cases lie, and the exchanged key computed
// apart on OpenSSL's curve with its X9.63 KDF over SM3).
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/obj_mac.h>
#include <openssl/param_build.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "sm2.h"
#include "sm2_internal.h"
#include "sm2_oracle.h"
#include "sm3.h"
#include "test_forms.h"
#include "test_util.h"

namespace {

using sm2_oracle::Pkey;
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
            Pkey key = sm2_oracle::key(pub.data(), priv.data());
            ASSERT_TRUE(key) << "OpenSSL refused the key pair";
            ASSERT_TRUE(sm2_oracle::pair_matches(key.get()))
                << "OpenSSL finds the public key not that of the private key";

            ASSERT_EQ(SM2_sign(priv.data(), round % 2 ? pub.data() : nullptr, id.data(), id.size(),
                               msg.data(), msg.size(), entropy.data(), entropy.size(), sig.data()),
                      SM2_SUCCESS);
            EXPECT_TRUE(sm2_oracle::verify(key.get(), id, msg, sig)) << round;
            EXPECT_EQ(SM2_verify(pub.data(), id.data(), id.size(), msg.data(), msg.size(), sig.data()),
                      SM2_SUCCESS);

            const Bytes theirs = sm2_oracle::sign(key.get(), id, msg);
            ASSERT_EQ(theirs.size(), 64u);
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

// The division-step inversion modulo p and n against OpenSSL's, at 0, at
// both ends of the range, at every power of two, and at random values.
TEST(Sm2Inverse, AgreesWithOpenSsl) {
    std::mt19937_64 rng(2601);
    BN_CTX *ctx = BN_CTX_new();
    for (const zenthal::Sm2Modulus *mod : {&zenthal::SM2_FIELD_MODULUS, &zenthal::SM2_ORDER_MODULUS}) {
        Bytes mb(32);
        zenthal::sc_to_bytes(mb.data(), mod->m);
        BIGNUM *m = BN_bin2bn(mb.data(), 32, nullptr), *a = BN_new(), *want = BN_new();
        std::vector<Bytes> values;
        for (int j = 0; j < 40; ++j) {
            values.push_back(Small(j));
            BN_sub(a, m, BN_value_one());
            BN_sub_word(a, static_cast<BN_ULONG>(j));
            Bytes v(32);
            BN_bn2binpad(a, v.data(), 32);
            values.push_back(v);
        }
        for (int k = 0; k < 256; ++k) {
            BN_zero(a);
            BN_set_bit(a, k);
            BN_mod(a, a, m, ctx);
            Bytes v(32);
            BN_bn2binpad(a, v.data(), 32);
            values.push_back(v);
        }
        for (int j = 0; j < 300; ++j) {
            Bytes v = random_bytes(rng, 32);
            BIGNUM *r = BN_bin2bn(v.data(), 32, nullptr);
            BN_mod(r, r, m, ctx);
            BN_bn2binpad(r, v.data(), 32);
            BN_free(r);
            values.push_back(v);
        }
        for (const Bytes &v : values) {
            uint64_t x[4], inv[4];
            zenthal::sc_from_bytes(x, v.data());
            zenthal::sm2_mod_inverse(inv, x, *mod);
            Bytes ours(32), theirs(32, 0);
            zenthal::sc_to_bytes(ours.data(), inv);
            BN_bin2bn(v.data(), 32, a);
            if (!BN_is_zero(a)) {
                ASSERT_NE(BN_mod_inverse(want, a, m, ctx), nullptr);
                BN_bn2binpad(want, theirs.data(), 32);
            }
            EXPECT_EQ(to_hex(ours), to_hex(theirs)) << "a = " << to_hex(v);
        }
        BN_free(m);
        BN_free(a);
        BN_free(want);
    }
    BN_CTX_free(ctx);
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

// --- encryption and the key exchange ---

namespace {

// The SM3 KDF as OpenSSL's X9.63 KDF over SM3, which it is.
Bytes OpenSslKdf(const Bytes &z, size_t len) {
    EVP_KDF *kdf = EVP_KDF_fetch(nullptr, "X963KDF", nullptr);
    EVP_KDF_CTX *c = EVP_KDF_CTX_new(kdf);
    OSSL_PARAM p[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char *>("SM3"), 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<uint8_t *>(z.data()), z.size()),
        OSSL_PARAM_construct_end()};
    Bytes out(len);
    EXPECT_EQ(EVP_KDF_derive(c, out.data(), len, p), 1);
    EVP_KDF_CTX_free(c);
    EVP_KDF_free(kdf);
    return out;
}

struct Party {
    Bytes priv = Bytes(32), pub = Bytes(65), eph = Bytes(32), eph_pub = Bytes(65), z = Bytes(32);
};

Party NewParty(std::mt19937_64 &rng, const Bytes &id) {
    Party p;
    EXPECT_EQ(SM2_generate_key(random_bytes(rng, 64).data(), p.priv.data(), p.pub.data()), SM2_SUCCESS);
    EXPECT_EQ(SM2_generate_key(random_bytes(rng, 64).data(), p.eph.data(), p.eph_pub.data()), SM2_SUCCESS);
    EXPECT_EQ(SM2_compute_z(p.pub.data(), id.data(), id.size(), p.z.data()), SM2_SUCCESS);
    return p;
}

struct Exchanged {
    int32_t rc;
    Bytes key, confirm_b, confirm_a;
};

Exchanged Exchange(bool responder, const Party &own, const Party &peer, size_t klen) {
    Exchanged r{0, Bytes(klen), Bytes(32), Bytes(32)};
    r.rc = SM2_key_exchange(responder, own.priv.data(), own.pub.data(), own.eph.data(), own.eph_pub.data(),
                            own.z.data(), peer.pub.data(), peer.eph_pub.data(), peer.z.data(), r.key.data(),
                            klen, r.confirm_b.data(), r.confirm_a.data());
    return r;
}

// The initiator's key computed apart with OpenSSL's curve and KDF:
// t = d + x̄1·r, V = t·(P_B + x̄2·R_B).
Bytes ReferenceKey(const Party &a, const Party &b, size_t klen) {
    EC_GROUP *g = EC_GROUP_new_by_curve_name(NID_sm2);
    BN_CTX *ctx = BN_CTX_new();
    auto bn = [](const uint8_t *p, int n) { return BN_bin2bn(p, n, nullptr); };
    auto bar = [&](const Bytes &pub) {
        Bytes x(pub.begin() + 17, pub.begin() + 33);  // the low 128 bits of x
        x[0] = static_cast<uint8_t>(x[0] | 0x80);
        return bn(x.data(), 16);
    };
    BIGNUM *order = BN_dup(EC_GROUP_get0_order(g)), *t = BN_new();
    BIGNUM *x1 = bar(a.eph_pub), *x2 = bar(b.eph_pub), *d = bn(a.priv.data(), 32), *r = bn(a.eph.data(), 32);
    BN_mod_mul(t, x1, r, order, ctx);
    BN_mod_add(t, t, d, order, ctx);
    EC_POINT *pb = EC_POINT_new(g), *rb = EC_POINT_new(g), *q = EC_POINT_new(g), *v = EC_POINT_new(g);
    EC_POINT_oct2point(g, pb, b.pub.data(), 65, ctx);
    EC_POINT_oct2point(g, rb, b.eph_pub.data(), 65, ctx);
    EC_POINT_mul(g, q, nullptr, rb, x2, ctx);
    EC_POINT_add(g, q, q, pb, ctx);
    EC_POINT_mul(g, v, nullptr, q, t, ctx);
    Bytes vb(65);
    EC_POINT_point2oct(g, v, POINT_CONVERSION_UNCOMPRESSED, vb.data(), 65, ctx);
    Bytes z(vb.begin() + 1, vb.end());
    z.insert(z.end(), a.z.begin(), a.z.end());
    z.insert(z.end(), b.z.begin(), b.z.end());
    for (BIGNUM *x : {order, t, x1, x2, d, r}) BN_free(x);
    for (EC_POINT *x : {pb, rb, q, v}) EC_POINT_free(x);
    BN_CTX_free(ctx);
    EC_GROUP_free(g);
    return OpenSslKdf(z, klen);
}

}  // namespace

// GB/T 32918.5 Annex C: "encryption standard" to the key of Annex A with a
// fixed k.
TEST(Sm2Encrypt, StandardExampleWithFixedNonce) {
    const Bytes d = from_hex("3945208F7B2144B13F36E38AC6D39F95889393692860B51A42FB81EF4DF7C5B8");
    const Bytes k = from_hex("59276E27D506861A16680F3AD9C02DCCEF3CC1FA3CDBE4CE6D54B80DEAC1BC21");
    const std::string msg = "encryption standard";
    InEachForm([&](const Sm2Form &f) {
        Bytes pub(65), out(97 + msg.size()), back(msg.size());
        ASSERT_EQ(SM2_public_key(d.data(), pub.data()), SM2_SUCCESS);
        uint64_t px[4], py[4], kl[4];
        zenthal::sc_from_bytes(px, pub.data() + 1);
        zenthal::sc_from_bytes(py, pub.data() + 33);
        zenthal::sc_from_bytes(kl, k.data());
        EXPECT_EQ(zenthal::sm2_encrypt_with_nonce(f, px, py, reinterpret_cast<const uint8_t *>(msg.data()),
                                                  msg.size(), kl, out.data()),
                  0u);
        EXPECT_EQ(to_hex(out),
                  "04"
                  "04ebfc718e8d1798620432268e77feb6415e2ede0e073c0f4f640ecd2e149a73"
                  "e858f9d81e5430a57b36daab8f950a3c64e6ee6a63094d99283aff767e124df0"
                  "59983c18f809e262923c53aec295d30383b54e39d609d160afcb1908d0bd8766"
                  "21886ca989ca9c7d58087307ca93092d651efa");
        size_t n = back.size();
        EXPECT_EQ(SM2_decrypt(d.data(), out.data(), out.size(), back.data(), &n), SM2_SUCCESS);
        EXPECT_EQ(std::string(back.begin(), back.end()), msg);
    });
}

// Random keys and lengths: each side decrypts the other's ciphertexts
// (OpenSSL's in GM/T 0009 DER), and what must be refused is refused with
// nothing of the message left in the output.
TEST(Sm2Encrypt, AgreesWithOpenSslAndRefusesBadInput) {
    std::mt19937_64 rng(2601);
    InEachForm([&](const Sm2Form &) {
        for (size_t len : {1, 31, 32, 33, 1000}) {
            Bytes priv(32), pub(65);
            ASSERT_EQ(SM2_generate_key(random_bytes(rng, 64).data(), priv.data(), pub.data()), SM2_SUCCESS);
            Pkey key = sm2_oracle::key(pub.data(), priv.data());
            const Bytes msg = random_bytes(rng, len), entropy = random_bytes(rng, 32);
            Bytes c(len + SM2_CIPHERTEXT_OVERHEAD + 3);
            size_t n = c.size();
            ASSERT_EQ(SM2_encrypt(pub.data(), msg.data(), len, entropy.data(), 32, c.data(), &n),
                      SM2_SUCCESS);
            ASSERT_EQ(n, len + SM2_CIPHERTEXT_OVERHEAD);
            c.resize(n);
            EXPECT_EQ(sm2_oracle::crypt(key.get(), false, sm2_oracle::to_gm_der(c)), msg) << len;

            const Bytes theirs = sm2_oracle::from_gm_der(sm2_oracle::crypt(key.get(), true, msg));
            ASSERT_EQ(theirs.size(), len + SM2_CIPHERTEXT_OVERHEAD);
            Bytes m(len);
            n = len;
            ASSERT_EQ(SM2_decrypt(priv.data(), theirs.data(), theirs.size(), m.data(), &n), SM2_SUCCESS);
            EXPECT_EQ(m, msg);

            // Every byte of C3 flipped, C1 off the curve, one byte of C2 more
            // or less: refused, and the output holds no message.
            for (size_t at = 65; at < 97 + 1; ++at) {
                Bytes bad = c;
                bad[at < 97 ? at : bad.size() - 1] ^= 0x01;
                Bytes out(len, 0x55);
                n = len;
                EXPECT_EQ(SM2_decrypt(priv.data(), bad.data(), bad.size(), out.data(), &n), SM2_ERR_DECRYPT);
                EXPECT_EQ(out, Bytes(len, 0)) << at;
                EXPECT_EQ(n, len);
            }
            Bytes off = c;
            off[64] ^= 1;
            n = len;
            EXPECT_EQ(SM2_decrypt(priv.data(), off.data(), off.size(), m.data(), &n), SM2_ERR_DECRYPT);
            Bytes longer = c;
            longer.push_back(0);
            Bytes out(len + 1);
            n = out.size();
            EXPECT_EQ(SM2_decrypt(priv.data(), longer.data(), longer.size(), out.data(), &n),
                      SM2_ERR_DECRYPT);
            n = len - 1;
            EXPECT_EQ(SM2_decrypt(priv.data(), c.data(), c.size(), m.data(), &n), SM2_ERR_OUTPUT_TOO_SMALL);
            EXPECT_EQ(n, len - 1);
        }
    });
    Bytes priv(32), pub(65), c(200), m(10);
    ASSERT_EQ(SM2_generate_key(random_bytes(rng, 64).data(), priv.data(), pub.data()), SM2_SUCCESS);
    size_t n = c.size();
    // The empty message has no keystream to be all zero: refused, as
    // OpenSSL refuses it.
    EXPECT_EQ(SM2_encrypt(pub.data(), m.data(), 0, nullptr, 0, c.data(), &n), SM2_ERR_INPUT_LENGTH);
    EXPECT_EQ(SM2_decrypt(priv.data(), c.data(), SM2_CIPHERTEXT_OVERHEAD, m.data(), &n),
              SM2_ERR_INPUT_LENGTH);
    n = 10 + SM2_CIPHERTEXT_OVERHEAD - 1;
    EXPECT_EQ(SM2_encrypt(pub.data(), m.data(), 10, nullptr, 0, c.data(), &n), SM2_ERR_OUTPUT_TOO_SMALL);
}

// Both roles derive the key OpenSSL's curve and KDF give, and each side's
// confirmation values match the other's; two initiators do not agree.
TEST(Sm2Exchange, BothRolesAgreeWithAReference) {
    std::mt19937_64 rng(2602);
    InEachForm([&](const Sm2Form &) {
        for (size_t klen : {16, 48}) {
            const Party a = NewParty(rng, random_bytes(rng, 16)), b = NewParty(rng, Bytes{});
            const Exchanged ka = Exchange(false, a, b, klen), kb = Exchange(true, b, a, klen);
            ASSERT_EQ(ka.rc, SM2_SUCCESS);
            ASSERT_EQ(kb.rc, SM2_SUCCESS);
            EXPECT_EQ(to_hex(ka.key), to_hex(ReferenceKey(a, b, klen)));
            EXPECT_EQ(ka.key, kb.key);
            EXPECT_EQ(ka.confirm_b, kb.confirm_b);
            EXPECT_EQ(ka.confirm_a, kb.confirm_a);
            EXPECT_NE(ka.confirm_a, ka.confirm_b);
            const Exchanged both = Exchange(false, b, a, klen);
            EXPECT_NE(both.key, ka.key);
            EXPECT_NE(both.confirm_b, ka.confirm_b);
            // A peer point off the curve, an own key out of range.
            Party bad = b;
            bad.eph_pub[40] ^= 1;
            EXPECT_EQ(Exchange(false, a, bad, klen).rc, SM2_ERR_PUBLIC_KEY);
            Party zero = a;
            zero.eph = Small(0);
            const Exchanged refused = Exchange(false, zero, b, klen);
            EXPECT_EQ(refused.rc, SM2_ERR_PRIVATE_KEY);
            EXPECT_EQ(refused.key, Bytes(klen, 0));
        }
    });
}
