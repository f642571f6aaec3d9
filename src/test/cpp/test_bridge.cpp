// The bridge's JNI discipline, proven through the recording fake JNIEnv.
#include <gtest/gtest.h>

#include "com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal.h"
#include "fake_jni.h"
#include "native_status.h"
#include "sm3_kdf.h"
#include "sm4_cbc.h"
#include "test_util.h"

namespace {

using Trace = std::vector<std::string>;

jint hash_native(FakeJvm &vm, jbyteArray hash, jbyteArray data, jint len) {
    return Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_sm3HashNative(vm.env(), nullptr, hash,
                                                                                  data, len);
}

jint kdf_native(FakeJvm &vm, jbyteArray out, jint klen, jbyteArray z, jint zlen) {
    return Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_sm3KDFNative(vm.env(), nullptr, out, klen,
                                                                                 z, zlen);
}

// Every call must leave nothing taken and no secret behind. Inputs are
// taken asking whether the VM copied them, and a copy is zeroed before it is
// given back without copying back (JNI_ABORT); outputLen is given back with
// mode 0. Every scratch array is zeroed whole before it is freed.
void expect_clean(const FakeJvm &vm) {
    EXPECT_EQ(vm.outstanding, 0);
    for (const auto &c : vm.calls) {
        if (c.fn == "GetByteArrayElements") {
            EXPECT_FALSE(c.is_copy_null) << c.fn << ":" << c.array;
        }
        if (c.fn == "ReleaseByteArrayElements") {
            EXPECT_EQ(c.mode, JNI_ABORT) << c.fn;
            EXPECT_TRUE(vm.pin || c.copy_zeroed) << c.fn << ":" << c.array;
        }
        if (c.fn == "ReleaseIntArrayElements") {
            EXPECT_EQ(c.mode, 0) << c.fn;
        }
    }
    EXPECT_EQ(g_nothrow_freed_dirty, 0);
}

TEST(BridgeDigest, HashTakesDataOnceAndCopiesTheDigest) {
    FakeJvm vm;
    auto hash = vm.bytes("hash", 32, 0xEE);
    auto data = vm.bytes("data", {'a', 'b', 'c', 'x', 'y'});
    EXPECT_EQ(hash_native(vm, hash, data, 3), 1);
    EXPECT_EQ(to_hex(vm.content(hash)), "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0");
    EXPECT_EQ(vm.trace(), (Trace{"GetArrayLength:hash", "GetArrayLength:data", "GetByteArrayElements:data",
                                 "SetByteArrayRegion:hash", "ReleaseByteArrayElements:data"}));
    EXPECT_EQ(vm.content(data), (Bytes{'a', 'b', 'c', 'x', 'y'}));
    expect_clean(vm);
}

// The VM hands out copies; releasing the input copy must not restore the
// old bytes over a result written into the same array.
TEST(BridgeDigest, OutputIntoItsOwnInputKeepsTheResult) {
    FakeJvm vm;
    auto both = vm.bytes("both", {'a', 'b', 'c', 'x'});
    vm.array(both).bytes.resize(32, 0);
    const Bytes before = vm.content(both);
    EXPECT_EQ(hash_native(vm, both, both, 32), 1);
    EXPECT_EQ(vm.content(both), openssl_sm3(before));

    FakeJvm vm2;
    auto key = vm2.bytes("key", {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(kdf_native(vm2, key, 8, key, 8), 1);
    Bytes expect(8);
    const uint8_t z[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SM3_KDF(expect.data(), 8, z, 8);
    EXPECT_EQ(vm2.content(key), expect);
}

TEST(BridgeDigest, HashOfEmptyPrefix) {
    FakeJvm vm;
    auto hash = vm.bytes("hash", 32);
    auto data = vm.bytes("data", 0);
    EXPECT_EQ(hash_native(vm, hash, data, 0), 1);
    EXPECT_EQ(vm.content(hash), openssl_sm3(Bytes{}));
}

TEST(BridgeDigest, HashRefusals) {
    struct Case {
        const char *what;
        std::size_t hash_len;
        bool null_hash, null_data;
        jint len;
        jint code;
        Trace trace;
    };
    const Case cases[] = {
        {"short hash", 31, false, false, 3, NATIVE_ERR_HASH_LENGTH, {"GetArrayLength:hash"}},
        {"long hash", 33, false, false, 3, NATIVE_ERR_HASH_LENGTH, {"GetArrayLength:hash"}},
        {"null hash", 32, true, false, 3, NATIVE_ERR_ARGUMENT, {}},
        {"null data", 32, false, true, 3, NATIVE_ERR_ARGUMENT, {}},
        {"negative length", 32, false, false, -1, NATIVE_ERR_ARGUMENT, {"GetArrayLength:hash"}},
        {"length past data",
         32,
         false,
         false,
         6,
         NATIVE_ERR_ARGUMENT,
         {"GetArrayLength:hash", "GetArrayLength:data"}},
        {"most negative length", 32, false, false, INT32_MIN, NATIVE_ERR_ARGUMENT, {"GetArrayLength:hash"}},
    };
    for (const auto &c : cases) {
        FakeJvm vm;
        auto hash = c.null_hash ? nullptr : vm.bytes("hash", c.hash_len, 0xEE);
        auto data = c.null_data ? nullptr : vm.bytes("data", 5, 1);
        EXPECT_EQ(hash_native(vm, hash, data, c.len), c.code) << c.what;
        EXPECT_EQ(vm.trace(), c.trace) << c.what;
        if (hash != nullptr) {
            EXPECT_EQ(vm.content(hash), Bytes(c.hash_len, 0xEE)) << c.what;
        }
    }
}

TEST(BridgeDigest, HashWhenTheVmRefusesElements) {
    FakeJvm vm;
    vm.refuse_take_at = 0;
    auto hash = vm.bytes("hash", 32, 0xEE);
    auto data = vm.bytes("data", 5, 1);
    EXPECT_EQ(hash_native(vm, hash, data, 5), NATIVE_ERR_NO_MEMORY);
    EXPECT_EQ(vm.trace("SetByteArrayRegion"), Trace{});
    EXPECT_EQ(vm.trace("ReleaseByteArrayElements"), Trace{});
    EXPECT_EQ(vm.pending_exception, "java/lang/OutOfMemoryError");
    EXPECT_EQ(vm.content(hash), Bytes(32, 0xEE));
}

TEST(BridgeDigest, KdfWritesKeyLenBytesAndKeepsTheRest) {
    FakeJvm vm;
    auto out = vm.bytes("derivedKey", 64, 0xEE);
    auto z = vm.bytes("z", {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(kdf_native(vm, out, 40, z, 4), 1);
    Bytes expect(40);
    const uint8_t zz[4] = {1, 2, 3, 4};
    SM3_KDF(expect.data(), 40, zz, 4);
    expect.resize(64, 0xEE);
    EXPECT_EQ(vm.content(out), expect);
    EXPECT_EQ(vm.trace(), (Trace{"GetArrayLength:z", "GetByteArrayElements:z",
                                 "SetByteArrayRegion:derivedKey", "ReleaseByteArrayElements:z"}));
    expect_clean(vm);
}

TEST(BridgeDigest, KdfOfZeroLengthLeavesTheKeyAlone) {
    FakeJvm vm;
    auto out = vm.bytes("derivedKey", 8, 0xEE);
    auto z = vm.bytes("z", 3, 7);
    EXPECT_EQ(kdf_native(vm, out, 0, z, 3), 1);
    EXPECT_EQ(vm.content(out), Bytes(8, 0xEE));
    expect_clean(vm);
}

TEST(BridgeDigest, KdfPastTheKeyArrayRaisesAndStillReleases) {
    FakeJvm vm;
    auto out = vm.bytes("derivedKey", 16, 0xEE);
    auto z = vm.bytes("z", 3, 7);
    EXPECT_EQ(kdf_native(vm, out, 17, z, 3), 1);
    EXPECT_EQ(vm.pending_exception, "java/lang/ArrayIndexOutOfBoundsException");
    EXPECT_EQ(vm.content(out), Bytes(16, 0xEE));
    EXPECT_EQ(vm.trace("ReleaseByteArrayElements"), Trace{"ReleaseByteArrayElements:z"});
    expect_clean(vm);
}

TEST(BridgeDigest, KdfRefusals) {
    struct Case {
        const char *what;
        bool null_out, null_z;
        jint klen, zlen;
        Trace trace;
    };
    const Case cases[] = {
        {"null key", true, false, 8, 3, {}},
        {"null z", false, true, 8, 3, {}},
        {"negative keyLen", false, false, -1, 3, {}},
        {"most negative keyLen", false, false, INT32_MIN, 3, {}},
        {"negative zLen", false, false, 8, -1, {}},
        {"zLen past z", false, false, 8, 4, {"GetArrayLength:z"}},
    };
    for (const auto &c : cases) {
        FakeJvm vm;
        auto out = c.null_out ? nullptr : vm.bytes("derivedKey", 8, 0xEE);
        auto z = c.null_z ? nullptr : vm.bytes("z", 3, 7);
        EXPECT_EQ(kdf_native(vm, out, c.klen, z, c.zlen), NATIVE_ERR_ARGUMENT) << c.what;
        EXPECT_EQ(vm.trace(), c.trace) << c.what;
    }
}

TEST(BridgeDigest, KdfOutOfMemoryReleasesZ) {
    {
        FakeJvm vm;
        auto out = vm.bytes("derivedKey", 8, 0xEE);
        auto z = vm.bytes("z", 3, 7);
        g_fail_nothrow_new = true;
        const jint code = kdf_native(vm, out, 8, z, 3);
        g_fail_nothrow_new = false;
        EXPECT_EQ(code, NATIVE_ERR_NO_MEMORY);
        EXPECT_EQ(vm.trace(),
                  (Trace{"GetArrayLength:z", "GetByteArrayElements:z", "ReleaseByteArrayElements:z"}));
        EXPECT_EQ(vm.content(out), Bytes(8, 0xEE));
        expect_clean(vm);
    }
    {
        FakeJvm vm;
        vm.refuse_take_at = 0;
        auto out = vm.bytes("derivedKey", 8, 0xEE);
        auto z = vm.bytes("z", 3, 7);
        EXPECT_EQ(kdf_native(vm, out, 8, z, 3), NATIVE_ERR_NO_MEMORY);
        EXPECT_EQ(vm.trace(), (Trace{"GetArrayLength:z", "GetByteArrayElements:z"}));
        expect_clean(vm);
    }
}

// ---- cipher methods -------------------------------------------------------

struct CipherCall {
    FakeJvm vm;
    jbyteArray key, mac_key, iv, input, output;
    jintArray output_len;
    Bytes k = Bytes(16, 0x11), mk = Bytes(16, 0x22), v = Bytes(16, 0x33);

    CipherCall(const Bytes &in, jint cap, std::size_t out_size, std::size_t key_len = 16,
               std::size_t mac_len = 16, std::size_t iv_len = 16) {
        key = vm.bytes("key", Bytes(key_len, 0x11));
        mac_key = vm.bytes("macKey", Bytes(mac_len, 0x22));
        iv = vm.bytes("iv", Bytes(iv_len, 0x33));
        input = vm.bytes("input", in);
        output = vm.bytes("output", out_size, 0xEE);
        output_len = vm.ints("outputLen", {cap});
    }

    jint seal() {
        return Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_sm4CbcEncryptWithMacNative(
            vm.env(), nullptr, key, mac_key, iv, input, 12345, output, output_len);
    }
    jint open() {
        return Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_sm4CbcDecryptWithMacNative(
            vm.env(), nullptr, key, mac_key, iv, input, 12345, output, output_len);
    }
    jint cap() { return vm.array(output_len).ints[0]; }
    Bytes out() { return vm.content(output); }
};

Bytes engine_seal(const Bytes &plain) {
    Bytes out(plain.size() + 32);
    uint32_t n = static_cast<uint32_t>(out.size());
    const Bytes k(16, 0x11), mk(16, 0x22), v(16, 0x33);
    EXPECT_EQ(SM4_process_cbc_and_mac(1, k.data(), mk.data(), v.data(), plain.data(),
                                      static_cast<uint32_t>(plain.size()), out.data(), &n),
              SM4_SUCCESS);
    out.resize(n);
    return out;
}

const Trace kFiveTakesAndReleases = {
    "GetArrayLength:key",         "GetArrayLength:macKey",         "GetArrayLength:iv",
    "GetArrayLength:outputLen",   "GetIntArrayRegion:outputLen",   "GetArrayLength:input",
    "GetByteArrayElements:key",   "GetByteArrayElements:macKey",   "GetByteArrayElements:iv",
    "GetByteArrayElements:input", "GetIntArrayElements:outputLen",
};
const Trace kReleases = {
    "ReleaseByteArrayElements:key",   "ReleaseByteArrayElements:macKey",   "ReleaseByteArrayElements:iv",
    "ReleaseByteArrayElements:input", "ReleaseIntArrayElements:outputLen",
};

Trace concat(Trace a, const Trace &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(BridgeCipher, SealAndOpenFollowTheFrame) {
    std::mt19937_64 rng(7);
    const Bytes plain = random_bytes(rng, 37);
    const Bytes sealed = engine_seal(plain);
    ASSERT_EQ(sealed.size(), 64u);

    CipherCall s(plain, 100, 70);
    EXPECT_EQ(s.seal(), 1);
    EXPECT_EQ(s.cap(), 64);
    Bytes got = s.out();
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 64), sealed);
    EXPECT_EQ(Bytes(got.begin() + 64, got.end()), Bytes(6, 0xEE));
    const Trace copies = {"SetIntArrayRegion:outputLen", "SetByteArrayRegion:output"};
    EXPECT_EQ(s.vm.trace(), concat(concat(kFiveTakesAndReleases, copies), kReleases));
    expect_clean(s.vm);

    CipherCall o(sealed, 37, 40);
    EXPECT_EQ(o.open(), 1);
    EXPECT_EQ(o.cap(), 37);
    got = o.out();
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 37), plain);
    EXPECT_EQ(o.vm.trace(), concat(concat(kFiveTakesAndReleases, copies), kReleases));
    expect_clean(o.vm);
}

TEST(BridgeCipher, KeyLengthsAreCheckedInOrderBeforeAnythingIsTaken) {
    for (std::size_t bad : {0u, 15u, 17u}) {
        CipherCall a({1, 2, 3}, 64, 64, bad, 16, 16);
        EXPECT_EQ(a.seal(), NATIVE_ERR_KEY_IV_LENGTH);
        EXPECT_EQ(a.vm.trace(), Trace{"GetArrayLength:key"});
        CipherCall b({1, 2, 3}, 64, 64, 16, bad, 16);
        EXPECT_EQ(b.open(), NATIVE_ERR_KEY_IV_LENGTH);
        EXPECT_EQ(b.vm.trace(), (Trace{"GetArrayLength:key", "GetArrayLength:macKey"}));
        CipherCall c({1, 2, 3}, 64, 64, 16, 16, bad);
        EXPECT_EQ(c.seal(), NATIVE_ERR_KEY_IV_LENGTH);
        EXPECT_EQ(c.vm.trace(), (Trace{"GetArrayLength:key", "GetArrayLength:macKey", "GetArrayLength:iv"}));
        EXPECT_EQ(c.out(), Bytes(64, 0xEE));
        EXPECT_EQ(c.cap(), 64);
    }
}

TEST(BridgeCipher, RefusalsBeforeAnythingIsTaken) {
    for (int which = 0; which < 6; ++which) {
        CipherCall c({1, 2, 3}, 64, 64);
        jbyteArray *arrays[] = {&c.key, &c.mac_key, &c.iv, &c.input, &c.output};
        if (which < 5)
            *arrays[which] = nullptr;
        else
            c.output_len = nullptr;
        EXPECT_EQ(c.seal(), NATIVE_ERR_ARGUMENT) << which;
        EXPECT_EQ(c.vm.trace(), Trace{}) << which;
    }
    for (jint cap : {-1, -16, INT32_MIN}) {
        CipherCall c({1, 2, 3}, cap, 64);
        EXPECT_EQ(c.open(), NATIVE_ERR_ARGUMENT);
        EXPECT_EQ(c.vm.trace("GetByteArrayElements"), Trace{});
        EXPECT_EQ(c.vm.trace("GetIntArrayElements"), Trace{});
        EXPECT_EQ(c.cap(), cap);
    }
    CipherCall empty({1, 2, 3}, 64, 64);
    empty.output_len = empty.vm.ints("outputLen", {});
    EXPECT_EQ(empty.seal(), NATIVE_ERR_ARGUMENT);
    EXPECT_EQ(empty.vm.trace("GetIntArrayRegion"), Trace{});
    EXPECT_EQ(empty.vm.trace("GetByteArrayElements"), Trace{});
}

TEST(BridgeCipher, CapacityChecksAndFailuresCopyNothing) {
    struct Case {
        const char *what;
        bool seal;
        std::size_t in_len;
        jint cap;
        jint code;
        bool engine_called;
    };
    const Case cases[] = {
        {"seal 16 below the pre-check", true, 16, 31, SM4_ERR_OUTPUT_TOO_SMALL, false},
        {"seal 16 room for ciphertext only", true, 16, 32, SM4_ERR_OUTPUT_TOO_SMALL, true},
        {"seal 16 exact", true, 16, 48, 1, true},
        {"seal 17 exact", true, 17, 48, 1, true},
        {"seal empty", true, 0, 32, 1, true},
        {"open 40 bytes, capacity below 8", false, 40, 7, SM4_ERR_OUTPUT_TOO_SMALL, false},
        {"open 40 bytes, capacity 8", false, 40, 8, SM4_ERR_INPUT_LENGTH, true},
        {"open 16 bytes", false, 16, 100, SM4_ERR_INPUT_LENGTH, true},
        {"open 0 bytes", false, 0, 0, SM4_ERR_INPUT_LENGTH, true},
    };
    for (const auto &c : cases) {
        CipherCall call(Bytes(c.in_len, 0x42), c.cap, 64);
        EXPECT_EQ(c.seal ? call.seal() : call.open(), c.code) << c.what;
        if (c.code == 1) {
            EXPECT_EQ(call.cap(), 48 - (c.in_len == 0 ? 16 : 0)) << c.what;
            continue;
        }
        EXPECT_EQ(call.cap(), c.cap) << c.what;
        EXPECT_EQ(call.out(), Bytes(64, 0xEE)) << c.what;
        EXPECT_EQ(call.vm.trace(), concat(kFiveTakesAndReleases, kReleases)) << c.what;
        expect_clean(call.vm);
    }
}

// The scratch array is sized by what the call can produce, not by the
// declared capacity: a roomy capacity costs nothing, and a tight one is
// still all the engine may write.
TEST(BridgeCipher, ScratchIsWhatTheCallCanProduceAtMostTheCapacity) {
    const Bytes plain(16, 0x61);
    const Bytes sealed = engine_seal(plain);
    struct Case {
        const char *what;
        bool seal;
        const Bytes &in;
        jint cap;
        jint code;
        std::size_t scratch;
    };
    const Case cases[] = {
        {"seal, capacity 1 MiB", true, plain, 1 << 20, 1, 48},
        {"seal, capacity INT32_MAX", true, plain, INT32_MAX, 1, 48},
        {"seal, capacity one short", true, plain, 47, SM4_ERR_OUTPUT_TOO_SMALL, 47},
        {"seal, exact capacity", true, plain, 48, 1, 48},
        {"open, capacity 1 MiB", false, sealed, 1 << 20, 1, 48},
        {"open, capacity INT32_MAX", false, sealed, INT32_MAX, 1, 48},
        {"open, capacity of the plaintext", false, sealed, 16, 1, 16},
        {"open, capacity one short", false, sealed, 15, SM4_ERR_OUTPUT_TOO_SMALL, 15},
        {"open a malformed envelope, capacity 1 MiB", false, Bytes(40, 1), 1 << 20, SM4_ERR_INPUT_LENGTH, 40},
    };
    for (const Case &c : cases) {
        CipherCall call(c.in, c.cap, 64);
        EXPECT_EQ(c.seal ? call.seal() : call.open(), c.code) << c.what;
        EXPECT_EQ(g_nothrow_largest, c.scratch) << c.what;
        if (c.code == 1) {
            const Bytes want = c.seal ? sealed : plain;
            EXPECT_EQ(call.cap(), static_cast<jint>(want.size())) << c.what;
            const Bytes got = call.out();
            EXPECT_EQ(Bytes(got.begin(), got.begin() + static_cast<long>(want.size())), want) << c.what;
        } else {
            EXPECT_EQ(call.cap(), c.cap) << c.what;
            EXPECT_EQ(call.out(), Bytes(64, 0xEE)) << c.what;
        }
        expect_clean(call.vm);
    }
}

TEST(BridgeCipher, TamperedEnvelopesCopyNothing) {
    const Bytes plain(20, 0x61);
    Bytes sealed = engine_seal(plain);
    Bytes bad_mac = sealed;
    bad_mac.back() ^= 1;
    CipherCall m(bad_mac, 64, 64);
    EXPECT_EQ(m.open(), SM4_ERR_MAC_MISMATCH);
    EXPECT_EQ(m.out(), Bytes(64, 0xEE));
    EXPECT_EQ(m.cap(), 64);
    expect_clean(m.vm);
}

TEST(BridgeCipher, ShortOutputRaisesAfterTheLengthWasSet) {
    CipherCall c(Bytes(16, 1), 48, 47);
    EXPECT_EQ(c.seal(), 1);
    EXPECT_EQ(c.vm.pending_exception, "java/lang/ArrayIndexOutOfBoundsException");
    EXPECT_EQ(c.cap(), 48);
    EXPECT_EQ(c.out(), Bytes(47, 0xEE));
    expect_clean(c.vm);
}

TEST(BridgeCipher, EveryRefusedTakeReleasesWhatWasTaken) {
    const Trace takes = {"GetByteArrayElements:key", "GetByteArrayElements:macKey", "GetByteArrayElements:iv",
                         "GetByteArrayElements:input", "GetIntArrayElements:outputLen"};
    for (int refuse = 0; refuse < 5; ++refuse) {
        CipherCall c(Bytes(16, 1), 64, 64);
        c.vm.refuse_take_at = refuse;
        EXPECT_EQ(c.seal(), NATIVE_ERR_NO_MEMORY) << refuse;
        Trace released;
        for (int i = 0; i < refuse; ++i) released.push_back(kReleases[static_cast<std::size_t>(i)]);
        EXPECT_EQ(c.vm.trace("ReleaseByteArrayElements"),
                  Trace(released.begin(), released.begin() + std::min(refuse, 4)));
        EXPECT_EQ(c.vm.trace("ReleaseIntArrayElements"), Trace{});
        EXPECT_EQ(c.vm.trace("SetByteArrayRegion"), Trace{});
        EXPECT_EQ(c.out(), Bytes(64, 0xEE));
        expect_clean(c.vm);
    }
    CipherCall c(Bytes(16, 1), 64, 64);
    g_fail_nothrow_new = true;
    const jint code = c.seal();
    g_fail_nothrow_new = false;
    EXPECT_EQ(code, NATIVE_ERR_NO_MEMORY);
    EXPECT_EQ(c.vm.trace(), concat(kFiveTakesAndReleases, kReleases));
    EXPECT_EQ(c.cap(), 64);
    expect_clean(c.vm);
}

// Secrets do not outlive a call: copies the VM handed out come back zeroed,
// scratch arrays are zeroed before they are freed (expect_clean checks
// both), and a VM that pins hands the caller's own arrays, which must come
// back untouched.
TEST(BridgeCipher, CopiesAreZeroedAndPinnedArraysLeftAlone) {
    std::mt19937_64 rng(11);
    const Bytes plain = random_bytes(rng, 45);
    const Bytes sealed = engine_seal(plain);
    Bytes bad_pad = sealed;
    bad_pad[sealed.size() - 17] ^= 0x40;  // last byte of the last ciphertext block
    for (bool pin : {false, true}) {
        struct Run {
            const char *what;
            const Bytes &in;
            bool seal;
            jint code;
        };
        const Run runs[] = {{"seal", plain, true, 1},
                            {"open", sealed, false, 1},
                            {"open bad padding", bad_pad, false, SM4_ERR_BAD_PADDING}};
        for (const Run &r : runs) {
            CipherCall c(r.in, 64, 64);
            c.vm.pin = pin;
            EXPECT_EQ(r.seal ? c.seal() : c.open(), r.code) << r.what << " pin " << pin;
            EXPECT_EQ(c.vm.content(c.key), c.k) << r.what << " pin " << pin;
            EXPECT_EQ(c.vm.content(c.mac_key), c.mk) << r.what << " pin " << pin;
            EXPECT_EQ(c.vm.content(c.iv), c.v) << r.what << " pin " << pin;
            EXPECT_EQ(c.vm.content(c.input), r.in) << r.what << " pin " << pin;
            EXPECT_EQ(c.vm.trace("ReleaseByteArrayElements").size(), 4u) << r.what;
            EXPECT_EQ(g_nothrow_freed, 1) << r.what;
            expect_clean(c.vm);
        }

        FakeJvm vm;
        vm.pin = pin;
        auto out = vm.bytes("derivedKey", 40, 0xEE);
        auto z = vm.bytes("z", {9, 8, 7, 6, 5});
        EXPECT_EQ(kdf_native(vm, out, 40, z, 5), 1);
        EXPECT_EQ(vm.content(z), (Bytes{9, 8, 7, 6, 5})) << "pin " << pin;
        EXPECT_EQ(g_nothrow_freed, 1);
        expect_clean(vm);
    }
}

}  // namespace
