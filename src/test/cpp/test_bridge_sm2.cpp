// The SM2 methods of the bridge (Sm2Native) through the recording JNIEnv:
// arrays read and written by exact regions only, outputs written only on
// success and equal to the engine's own, and every refusal made before
// anything is read or written.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "com_tarvik_lumora_Quorvex_zenthal_Sm2Native.h"
#include "fake_jni.h"
#include "native_status.h"
#include "sm2.h"
#include "test_util.h"

namespace {

using Trace = std::vector<std::string>;

// Nothing is ever pinned: arrays are read and written by region only.
void expect_regions_only(const FakeJvm &vm) {
    EXPECT_EQ(vm.outstanding, 0);
    EXPECT_EQ(vm.trace("GetByteArrayElements"), Trace{});
    EXPECT_EQ(vm.pending_exception, "");
}

struct Key {
    Bytes priv = Bytes(32), pub = Bytes(65);
};

Key make_key(std::mt19937_64 &rng) {
    Key k;
    const Bytes seed = random_bytes(rng, 64);
    EXPECT_EQ(SM2_generate_key(seed.data(), k.priv.data(), k.pub.data()), SM2_SUCCESS);
    return k;
}

TEST(BridgeSm2, ValidCallsCopyExactRegionsAndWriteTheEnginesResults) {
    std::mt19937_64 rng(0x5A2B);
    const Bytes seed = random_bytes(rng, 64);
    Key want;
    ASSERT_EQ(SM2_generate_key(seed.data(), want.priv.data(), want.pub.data()), SM2_SUCCESS);
    {
        FakeJvm vm;
        auto r = vm.bytes("random", seed), priv = vm.bytes("priv", 32, 0xEE), pub = vm.bytes("pub", 65, 0xEE);
        EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_generateKey(vm.env(), nullptr, r, priv, pub), 1);
        EXPECT_EQ(vm.content(priv), want.priv);
        EXPECT_EQ(vm.content(pub), want.pub);
        EXPECT_EQ(vm.trace("GetByteArrayRegion"), Trace{"GetByteArrayRegion:random"});
        EXPECT_EQ(vm.trace("SetByteArrayRegion"), (Trace{"SetByteArrayRegion:priv", "SetByteArrayRegion:pub"}));
        expect_regions_only(vm);
    }
    {
        // The ID is read from its range only, at its offset.
        const Bytes id = random_bytes(rng, 40);
        Bytes z(32);
        ASSERT_EQ(SM2_compute_z(want.pub.data(), id.data() + 7, 20, z.data()), SM2_SUCCESS);
        FakeJvm vm;
        auto pub = vm.bytes("pub", want.pub), ident = vm.bytes("id", id), out = vm.bytes("z", 32, 0xEE);
        EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_computeZ(vm.env(), nullptr, pub, ident, 7, 20, out),
                  1);
        EXPECT_EQ(vm.content(out), z);
        for (const auto &c : vm.calls) {
            if (c.fn == "GetByteArrayRegion" && c.array == "id") {
                EXPECT_EQ(c.start, 7);
                EXPECT_EQ(c.len, 20);
            }
        }
        expect_regions_only(vm);
    }
    {
        // Entropy at an offset; with and without the inverse, the engine's signature.
        const Bytes e = random_bytes(rng, 32), entropy = random_bytes(rng, 50);
        Bytes inverse(32), sig(64);
        ASSERT_EQ(SM2_sign_inverse(want.priv.data(), inverse.data()), SM2_SUCCESS);
        ASSERT_EQ(SM2_sign_digest(want.priv.data(), inverse.data(), e.data(), entropy.data() + 5, 33, sig.data()),
                  SM2_SUCCESS);
        for (bool with_inverse : {true, false}) {
            FakeJvm vm;
            auto priv = vm.bytes("priv", want.priv), inv = with_inverse ? vm.bytes("inverse", inverse) : nullptr;
            auto digest = vm.bytes("e", e), ent = vm.bytes("entropy", entropy), out = vm.bytes("sig", 64, 0xEE);
            EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_signDigest(vm.env(), nullptr, priv, inv, digest,
                                                                                   ent, 5, 33, out),
                      1);
            EXPECT_EQ(vm.content(out), sig);
            EXPECT_EQ(vm.content(priv), want.priv);
            expect_regions_only(vm);
            FakeJvm vm2;
            auto p = vm2.bytes("pub", want.pub), d2 = vm2.bytes("e", e), s2 = vm2.bytes("sig", sig);
            EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_verifyDigest(vm2.env(), nullptr, p, d2, s2), 1);
        }
    }
}

// Every argument refused before anything is read: no region copy in or out.
TEST(BridgeSm2, RefusalsReadAndWriteNothing) {
    std::mt19937_64 rng(0x5A2C);
    const Key k = make_key(rng);
    struct Case {
        const char *what;
        int method;  // 0 generateKey, 1 publicKey, 2 checkPublicKey, 3 signInverse, 4 computeZ, 5 signDigest, 6 verify
        std::size_t a_len, b_len, c_len, d_len;
        bool null_a, null_b, null_c, null_d;
        jint off, len;
        jint expect;
    };
    const jint arg = NATIVE_ERR_ARGUMENT;
    const Case cases[] = {
        {"generateKey, short random", 0, 63, 32, 65, 0, false, false, false, false, 0, 0, arg},
        {"generateKey, null priv", 0, 64, 32, 65, 0, false, true, false, false, 0, 0, arg},
        {"generateKey, long pub", 0, 64, 32, 66, 0, false, false, false, false, 0, 0, arg},
        {"publicKey, null priv", 1, 32, 65, 0, 0, true, false, false, false, 0, 0, arg},
        {"publicKey, short pub", 1, 32, 64, 0, 0, false, false, false, false, 0, 0, arg},
        {"checkPublicKey, long pub", 2, 66, 0, 0, 0, false, false, false, false, 0, 0, arg},
        {"checkPublicKey, null pub", 2, 65, 0, 0, 0, true, false, false, false, 0, 0, arg},
        {"signInverse, short inverse", 3, 32, 31, 0, 0, false, false, false, false, 0, 0, arg},
        {"computeZ, null id", 4, 65, 10, 32, 0, false, true, false, false, 0, 0, arg},
        {"computeZ, negative offset", 4, 65, 10, 32, 0, false, false, false, false, -1, 1, arg},
        {"computeZ, sum wraps", 4, 65, 10, 32, 0, false, false, false, false, 1, INT32_MAX, arg},
        {"computeZ, short z", 4, 65, 10, 31, 0, false, false, false, false, 0, 10, arg},
        {"computeZ, ID too long", 4, 65, 8192, 32, 0, false, false, false, false, 0, 8192, SM2_ERR_ID_LENGTH},
        {"signDigest, null entropy", 5, 32, 32, 32, 64, false, false, false, true, 0, 0, arg},
        {"signDigest, entropy past the end", 5, 32, 32, 32, 64, false, false, false, false, 4120, 13, arg},
        {"signDigest, entropy beyond the chunk", 5, 32, 32, 32, 64, false, false, false, false, 0, 4097, arg},
        {"signDigest, short inverse", 5, 32, 31, 32, 64, false, false, false, false, 0, 32, arg},
        {"signDigest, most negative length", 5, 32, 32, 32, 64, false, false, false, false, 0, INT32_MIN, arg},
        {"verifyDigest, short signature", 6, 65, 32, 63, 0, false, false, false, false, 0, 0, arg},
        {"verifyDigest, null digest", 6, 65, 32, 64, 0, false, true, false, false, 0, 0, arg},
    };
    for (const auto &c : cases) {
        FakeJvm vm;
        auto a = c.null_a ? nullptr : vm.bytes("a", c.a_len, 0x11);
        auto b = c.null_b ? nullptr : vm.bytes("b", c.b_len, 0x22);
        auto cc = c.null_c ? nullptr : vm.bytes("c", c.c_len, 0x33);
        // Entropy of 4132 bytes: more than one call takes, so its length alone can be refused.
        auto d = c.null_d ? nullptr : vm.bytes("d", 4132, 0x44);
        JNIEnv *env = vm.env();
        jint code = 0;
        switch (c.method) {
            case 0:
                code = Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_generateKey(env, nullptr, a, b, cc);
                break;
            case 1:
                code = Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_publicKey(env, nullptr, a, b);
                break;
            case 2:
                code = Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_checkPublicKey(env, nullptr, a);
                break;
            case 3:
                code = Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_signInverse(env, nullptr, a, b);
                break;
            case 4:
                code = Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_computeZ(env, nullptr, a, b, c.off, c.len, cc);
                break;
            case 5: {
                auto sig = vm.bytes("sig", c.d_len, 0x55);
                code = Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_signDigest(env, nullptr, a, b, cc, d, c.off,
                                                                                   c.len, sig);
                break;
            }
            default:
                code = Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_verifyDigest(env, nullptr, a, b, cc);
        }
        EXPECT_EQ(code, c.expect) << c.what;
        EXPECT_EQ(vm.trace("GetByteArrayRegion"), Trace{}) << c.what;
        EXPECT_EQ(vm.trace("SetByteArrayRegion"), Trace{}) << c.what;
        expect_regions_only(vm);
    }

    // The engine's own refusals read the inputs and write no output.
    FakeJvm vm;
    auto zero = vm.bytes("priv", 32, 0), pub = vm.bytes("pub", 65, 0xEE), inv = vm.bytes("inverse", 32, 0xEE);
    EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_publicKey(vm.env(), nullptr, zero, pub),
              SM2_ERR_PRIVATE_KEY);
    EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_signInverse(vm.env(), nullptr, zero, inv),
              SM2_ERR_PRIVATE_KEY);
    Bytes off_curve = k.pub;
    off_curve[64] ^= 1;
    auto bad = vm.bytes("bad", off_curve), id = vm.bytes("id", 3, 0x61), z = vm.bytes("z", 32, 0xEE);
    EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_computeZ(vm.env(), nullptr, bad, id, 0, 3, z),
              SM2_ERR_PUBLIC_KEY);
    EXPECT_EQ(vm.trace("SetByteArrayRegion"), Trace{});
    expect_regions_only(vm);
}

// Encryption, decryption and the exchange: the engine's results written at
// their offsets and nowhere else; every refusal, the bridge's or the
// engine's, writes nothing, and the bridge's read nothing either.
TEST(BridgeSm2, EncryptionAndExchangeWriteOnlyTheEnginesResults) {
    std::mt19937_64 rng(0x5A2D);
    const Key k = make_key(rng), eph = make_key(rng), peer = make_key(rng), peer_eph = make_key(rng);
    const Bytes msg = random_bytes(rng, 40), entropy = random_bytes(rng, 40);
    Bytes ct(30 + 97);
    std::size_t ct_len = ct.size();
    ASSERT_EQ(SM2_encrypt(k.pub.data(), msg.data() + 3, 30, entropy.data() + 4, 32, ct.data(), &ct_len), SM2_SUCCESS);
    {
        FakeJvm vm;
        auto pub = vm.bytes("pub", k.pub), in = vm.bytes("in", msg), ent = vm.bytes("entropy", entropy);
        auto out = vm.bytes("out", 140, 0xEE);
        EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_encrypt(vm.env(), nullptr, pub, in, 3, 30, ent, 4,
                                                                            32, out, 5),
                  127);
        Bytes want(140, 0xEE);
        std::copy(ct.begin(), ct.end(), want.begin() + 5);
        EXPECT_EQ(vm.content(out), want);
        for (const auto &c : vm.calls) {
            if (c.fn == "GetByteArrayRegion" && c.array == "in") {
                EXPECT_TRUE(c.start == 3 && c.len == 30);
            }
            if (c.fn == "SetByteArrayRegion") {
                EXPECT_TRUE(c.array == "out" && c.start == 5 && c.len == 127);
            }
        }
        expect_regions_only(vm);
    }
    {
        FakeJvm vm;
        Bytes padded(ct.size() + 2, 0x77);
        std::copy(ct.begin(), ct.end(), padded.begin() + 2);
        auto priv = vm.bytes("priv", k.priv), in = vm.bytes("in", padded), out = vm.bytes("out", 31, 0xEE);
        EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_decrypt(vm.env(), nullptr, priv, in, 2, 127, out, 1),
                  30);
        Bytes want(31, 0xEE);
        std::copy(msg.begin() + 3, msg.begin() + 33, want.begin() + 1);
        EXPECT_EQ(vm.content(out), want);
        expect_regions_only(vm);
    }
    Bytes z = random_bytes(rng, 32), peer_z = random_bytes(rng, 32), key(20), cb(32), ca(32);
    ASSERT_EQ(SM2_key_exchange(1, k.priv.data(), k.pub.data(), eph.priv.data(), eph.pub.data(), z.data(),
                               peer.pub.data(), peer_eph.pub.data(), peer_z.data(), key.data(), 20, cb.data(),
                               ca.data()),
              SM2_SUCCESS);
    {
        FakeJvm vm;
        auto a = vm.bytes("priv", k.priv), b = vm.bytes("pub", k.pub), c = vm.bytes("eph", eph.priv);
        auto d = vm.bytes("ephPub", eph.pub), e = vm.bytes("z", z), f = vm.bytes("peer", peer.pub);
        auto g = vm.bytes("peerEph", peer_eph.pub), h = vm.bytes("peerZ", peer_z), out = vm.bytes("key", 24, 0xEE);
        auto outb = vm.bytes("cb", 32, 0xEE);
        EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_keyExchange(vm.env(), nullptr, JNI_TRUE, a, b, c, d,
                                                                                e, f, g, h, out, 20, outb, nullptr),
                  1);
        Bytes want(24, 0xEE);
        std::copy(key.begin(), key.end(), want.begin());
        EXPECT_EQ(vm.content(out), want);
        EXPECT_EQ(vm.content(outb), cb);
        expect_regions_only(vm);
    }

    // The bridge's refusals: nothing read, nothing written. method 0
    // encrypt(off, len, entLen, outSize, outOff), 1 decrypt(len, outSize,
    // outOff), 2 keyExchange(z size, keyLen, confirm size).
    struct Case {
        const char *what;
        int method;
        jint p, q, r, s, t;
        bool short_key;
        jint expect;
    };
    const jint arg = NATIVE_ERR_ARGUMENT;
    const Case cases[] = {
        {"encrypt, short public key", 0, 0, 30, 32, 200, 0, true, arg},
        {"encrypt, range wraps", 0, 1, INT32_MAX, 32, 200, 0, false, arg},
        {"encrypt, entropy beyond the chunk", 0, 0, 30, 4097, 200, 0, false, arg},
        {"encrypt, output offset past the end", 0, 0, 30, 32, 200, 201, false, arg},
        {"encrypt, negative output offset", 0, 0, 30, 32, 200, -1, false, arg},
        {"encrypt, empty message", 0, 0, 0, 32, 200, 0, false, SM2_ERR_INPUT_LENGTH},
        {"encrypt, output one byte short", 0, 0, 30, 32, 127, 1, false, SM2_ERR_OUTPUT_TOO_SMALL},
        {"decrypt, short private key", 1, 127, 100, 0, 0, 0, true, arg},
        {"decrypt, length past the end", 1, 128, 100, 0, 0, 0, false, arg},
        {"decrypt, 97 bytes", 1, 97, 100, 0, 0, 0, false, SM2_ERR_INPUT_LENGTH},
        {"decrypt, output one byte short", 1, 127, 30, 1, 0, 0, false, SM2_ERR_OUTPUT_TOO_SMALL},
        {"keyExchange, short Z", 2, 31, 20, 32, 0, 0, false, arg},
        {"keyExchange, key longer than its array", 2, 32, 25, 32, 0, 0, false, arg},
        {"keyExchange, negative key length", 2, 32, -1, 32, 0, 0, false, arg},
        {"keyExchange, long confirmation", 2, 32, 20, 33, 0, 0, false, arg},
        {"keyExchange, short private key", 2, 32, 20, 32, 0, 0, true, arg},
    };
    for (const auto &c : cases) {
        FakeJvm vm;
        JNIEnv *env = vm.env();
        jint code = 0;
        if (c.method == 0) {
            auto pub = vm.bytes("pub", c.short_key ? 64 : 65, 0x11), in = vm.bytes("in", 40, 0x22);
            auto ent = vm.bytes("entropy", 4200, 0x33), out = vm.bytes("out", static_cast<std::size_t>(c.s), 0x44);
            code = Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_encrypt(env, nullptr, pub, in, c.p, c.q, ent, 0, c.r,
                                                                             out, c.t);
        } else if (c.method == 1) {
            auto priv = vm.bytes("priv", c.short_key ? 31 : 32, 0x11), in = vm.bytes("in", 127, 0x22);
            auto out = vm.bytes("out", static_cast<std::size_t>(c.q), 0x44);
            code = Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_decrypt(env, nullptr, priv, in, 0, c.p, out, c.r);
        } else {
            auto a = vm.bytes("priv", c.short_key ? 31 : 32, 0x11), b = vm.bytes("pub", 65, 0x11);
            auto e = vm.bytes("z", static_cast<std::size_t>(c.p), 0x22), key = vm.bytes("key", 24, 0x44);
            auto cbo = vm.bytes("cb", static_cast<std::size_t>(c.r), 0x44);
            code = Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_keyExchange(env, nullptr, JNI_FALSE, a, b, a, b, e,
                                                                                 b, b, e, key, c.q, cbo, nullptr);
        }
        EXPECT_EQ(code, c.expect) << c.what;
        EXPECT_EQ(vm.trace("GetByteArrayRegion"), Trace{}) << c.what;
        EXPECT_EQ(vm.trace("SetByteArrayRegion"), Trace{}) << c.what;
        expect_regions_only(vm);
    }

    // The engine's refusals: a changed C3, a peer point off the curve.
    FakeJvm vm;
    Bytes bad_ct = ct, off_curve = peer_eph.pub;
    bad_ct[70] ^= 1;
    off_curve[64] ^= 1;
    auto priv = vm.bytes("priv", k.priv), in = vm.bytes("in", bad_ct), out = vm.bytes("out", 30, 0xEE);
    EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_decrypt(vm.env(), nullptr, priv, in, 0, 127, out, 0),
              SM2_ERR_DECRYPT);
    auto a = vm.bytes("priv2", k.priv), b = vm.bytes("pub", k.pub), c = vm.bytes("eph", eph.priv);
    auto d = vm.bytes("ephPub", eph.pub), e = vm.bytes("z", z), f = vm.bytes("peer", peer.pub);
    auto g = vm.bytes("peerEph", off_curve), key_out = vm.bytes("key", 20, 0xEE);
    EXPECT_EQ(Java_com_tarvik_lumora_Quorvex_zenthal_Sm2Native_keyExchange(vm.env(), nullptr, JNI_FALSE, a, b, c, d, e,
                                                                            f, g, e, key_out, 20, nullptr, nullptr),
              SM2_ERR_PUBLIC_KEY);
    EXPECT_EQ(vm.trace("SetByteArrayRegion"), Trace{});
    expect_regions_only(vm);
}

}  // namespace
