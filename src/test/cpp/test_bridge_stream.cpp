// The streaming SM3 methods of the bridge (Sm3Native) through the recording
// JNIEnv: the state round trip, bounded chunked reads, direct buffers read in
// place, HMAC's last step, and every refusal before anything is read or
// written.
#include <gtest/gtest.h>

#include <cstring>

#include "com_tarvik_lumora_Quorvex_zenthal_Sm3Native.h"
#include "fake_jni.h"
#include "native_status.h"
#include "sm3.h"
#include "test_util.h"

namespace {

using Trace = std::vector<std::string>;

jint init(FakeJvm &vm, jbyteArray s) {
    return Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_init(vm.env(), nullptr, s);
}
jint update(FakeJvm &vm, jbyteArray s, jbyteArray in, jint off, jint len) {
    return Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_update(vm.env(), nullptr, s, in, off, len);
}
jint update_direct(FakeJvm &vm, jbyteArray s, jobject in, jint off, jint len) {
    return Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_updateDirect(vm.env(), nullptr, s, in, off, len);
}
jint finish(FakeJvm &vm, jbyteArray s, jbyteArray in, jint off, jint len, jbyteArray out, jint out_off) {
    return Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_finish(vm.env(), nullptr, s, in, off, len, out,
                                                                   out_off);
}
jint hmac_finish(FakeJvm &vm, jbyteArray inner, jbyteArray in, jint off, jint len, jbyteArray outer,
                 jbyteArray out, jint out_off) {
    return Java_com_tarvik_lumora_Quorvex_zenthal_Sm3Native_hmacFinish(vm.env(), nullptr, inner, in, off, len,
                                                                       outer, out, out_off);
}

Bytes context_bytes(const SM3_context &c) {
    const auto *p = reinterpret_cast<const uint8_t *>(&c);
    return Bytes(p, p + sizeof c);
}

Bytes initial_state() {
    SM3_context c{};
    SM3_Init(&c);
    return context_bytes(c);
}

// Nothing is ever pinned: arrays are read and written by region only.
void expect_no_elements_taken(const FakeJvm &vm) {
    EXPECT_EQ(vm.outstanding, 0);
    EXPECT_EQ(vm.trace("GetByteArrayElements"), Trace{});
    EXPECT_EQ(vm.pending_exception, "");
}

TEST(BridgeStream, InitWritesTheWholeContextOfTheEmptyMessage) {
    FakeJvm vm;
    auto s = vm.bytes("state", 104, 0xEE);
    EXPECT_EQ(init(vm, s), 1);
    EXPECT_EQ(vm.content(s), initial_state());
    EXPECT_EQ(vm.trace(), (Trace{"GetArrayLength:state", "SetByteArrayRegion:state"}));
}

// A long range at an offset goes through in chunks of at most 4 KiB and
// leaves the state an engine-fed context would have.
TEST(BridgeStream, UpdateReadsRangesInBoundedChunks) {
    std::mt19937_64 rng(10);
    const Bytes data = random_bytes(rng, 20000);
    for (jint off : {0, 1, 4095}) {
        for (jint len : {0, 1, 63, 4096, 4097, 12345}) {
            FakeJvm vm;
            auto s = vm.bytes("state", initial_state());
            auto in = vm.bytes("in", data);
            ASSERT_EQ(update(vm, s, in, off, len), 1);
            SM3_context c{};
            SM3_Init(&c);
            SM3_Update(&c, data.data() + off, static_cast<uint32_t>(len));
            EXPECT_EQ(vm.content(s), context_bytes(c)) << off << "+" << len;
            jsize next = off, total = 0;
            for (const auto &call : vm.calls) {
                if (call.fn != "GetByteArrayRegion" || call.array != "in") continue;
                EXPECT_LE(call.len, 4096);
                EXPECT_EQ(call.start, next);
                next += call.len;
                total += call.len;
            }
            EXPECT_EQ(total, len);
            EXPECT_EQ(vm.content(in), data);
            expect_no_elements_taken(vm);

            auto out = vm.bytes("out", 40, 0xEE);
            ASSERT_EQ(finish(vm, s, in, 0, 0, out, 8), 1);
            Bytes expect(8, 0xEE);
            const Bytes d = openssl_sm3(data.data() + off, static_cast<std::size_t>(len));
            expect.insert(expect.end(), d.begin(), d.end());
            EXPECT_EQ(vm.content(out), expect);
        }
    }
}

TEST(BridgeStream, FinishReadsTheStateAndLeavesItAlone) {
    std::mt19937_64 rng(11);
    const Bytes msg = random_bytes(rng, 300);
    FakeJvm vm;
    auto s = vm.bytes("state", initial_state());
    auto in = vm.bytes("in", msg);
    ASSERT_EQ(update(vm, s, in, 0, 100), 1);
    const Bytes mid = vm.content(s);
    auto out = vm.bytes("out", 32);
    ASSERT_EQ(finish(vm, s, in, 100, 200, out, 0), 1);
    EXPECT_EQ(vm.content(out), openssl_sm3(msg));
    EXPECT_EQ(vm.content(s), mid);
    // The digest may go into the state array itself: the state was read first.
    ASSERT_EQ(finish(vm, s, in, 100, 200, s, 72), 1);
    const Bytes after = vm.content(s);
    EXPECT_EQ(Bytes(after.begin() + 72, after.end()), openssl_sm3(msg));
    expect_no_elements_taken(vm);
}

TEST(BridgeStream, DirectBuffersAreHashedInPlace) {
    std::mt19937_64 rng(12);
    const Bytes data = random_bytes(rng, 9000);
    FakeJvm vm;
    auto s = vm.bytes("state", initial_state());
    auto buf = vm.buffer("buf", data);
    ASSERT_EQ(update_direct(vm, s, buf, 17, 8983), 1);
    EXPECT_EQ(vm.trace("GetByteArrayRegion"), Trace{"GetByteArrayRegion:state"});
    auto out = vm.bytes("out", 32);
    auto none = vm.bytes("none", 0);
    ASSERT_EQ(finish(vm, s, none, 0, 0, out, 0), 1);
    EXPECT_EQ(vm.content(out), openssl_sm3(data.data() + 17, 8983));
    expect_no_elements_taken(vm);
}

// HMAC's last step: inner digest, then the outer state over it.
TEST(BridgeStream, HmacFinishRunsTheOuterHashOverTheInnerDigest) {
    std::mt19937_64 rng(13);
    const Bytes key = random_bytes(rng, 64), msg = random_bytes(rng, 150);
    Bytes ipad(64), opad(64);
    for (int i = 0; i < 64; ++i) {
        ipad[i] = key[i] ^ 0x36;
        opad[i] = key[i] ^ 0x5c;
    }
    SM3_context inner{}, outer{};
    SM3_Init(&inner);
    SM3_Update(&inner, ipad.data(), 64);
    SM3_Init(&outer);
    SM3_Update(&outer, opad.data(), 64);

    FakeJvm vm;
    auto in_state = vm.bytes("inner", context_bytes(inner));
    auto out_state = vm.bytes("outer", context_bytes(outer));
    auto in = vm.bytes("in", msg);
    auto out = vm.bytes("out", 34, 0xEE);
    ASSERT_EQ(hmac_finish(vm, in_state, in, 0, 150, out_state, out, 2), 1);

    Bytes inner_msg = ipad;
    inner_msg.insert(inner_msg.end(), msg.begin(), msg.end());
    Bytes outer_msg = opad;
    const Bytes inner_digest = openssl_sm3(inner_msg);
    outer_msg.insert(outer_msg.end(), inner_digest.begin(), inner_digest.end());
    Bytes expect{0xEE, 0xEE};
    const Bytes mac = openssl_sm3(outer_msg);
    expect.insert(expect.end(), mac.begin(), mac.end());
    EXPECT_EQ(vm.content(out), expect);
    EXPECT_EQ(vm.content(in_state), context_bytes(inner));
    EXPECT_EQ(vm.content(out_state), context_bytes(outer));
    expect_no_elements_taken(vm);
}

// Every wrong argument is refused with -8 before any byte is read from or
// written to an array or buffer.
TEST(BridgeStream, RefusalsReadAndWriteNothing) {
    struct Case {
        const char *what;
        int method;  // 0 update, 1 updateDirect, 2 finish, 3 hmacFinish, 4 init
        std::size_t state_len, outer_len, in_len, out_len;
        bool null_state, null_in, null_out, heap_buffer;
        jint off, len, out_off;
    };
    const Case cases[] = {
        {"init, null state", 4, 104, 104, 10, 32, true, false, false, false, 0, 0, 0},
        {"init, short state", 4, 103, 104, 10, 32, false, false, false, false, 0, 0, 0},
        {"update, long state", 0, 105, 104, 10, 32, false, false, false, false, 0, 10, 0},
        {"update, empty state", 0, 0, 104, 10, 32, false, false, false, false, 0, 10, 0},
        {"update, null state", 0, 104, 104, 10, 32, true, false, false, false, 0, 10, 0},
        {"update, null in", 0, 104, 104, 10, 32, false, true, false, false, 0, 0, 0},
        {"update, negative off", 0, 104, 104, 10, 32, false, false, false, false, -1, 1, 0},
        {"update, negative len", 0, 104, 104, 10, 32, false, false, false, false, 0, -1, 0},
        {"update, past the end", 0, 104, 104, 10, 32, false, false, false, false, 5, 6, 0},
        {"update, off past the end", 0, 104, 104, 10, 32, false, false, false, false, 11, 0, 0},
        {"update, sum wraps", 0, 104, 104, 10, 32, false, false, false, false, 1, INT32_MAX, 0},
        {"update, most negative len", 0, 104, 104, 10, 32, false, false, false, false, 5, INT32_MIN, 0},
        {"direct, heap buffer", 1, 104, 104, 10, 32, false, false, false, true, 0, 10, 0},
        {"direct, null buffer", 1, 104, 104, 10, 32, false, true, false, false, 0, 10, 0},
        {"direct, past capacity", 1, 104, 104, 10, 32, false, false, false, false, 3, 8, 0},
        {"direct, negative off", 1, 104, 104, 10, 32, false, false, false, false, INT32_MIN, 1, 0},
        {"direct, short state", 1, 64, 104, 10, 32, false, false, false, false, 0, 10, 0},
        {"finish, null out", 2, 104, 104, 10, 32, false, false, true, false, 0, 10, 0},
        {"finish, short out", 2, 104, 104, 10, 31, false, false, false, false, 0, 10, 0},
        {"finish, out offset too far", 2, 104, 104, 10, 40, false, false, false, false, 0, 10, 9},
        {"finish, negative out offset", 2, 104, 104, 10, 40, false, false, false, false, 0, 10, -1},
        {"finish, range past the end", 2, 104, 104, 10, 32, false, false, false, false, 0, 11, 0},
        {"hmac, short outer", 3, 104, 103, 10, 32, false, false, false, false, 0, 10, 0},
        {"hmac, short inner", 3, 100, 104, 10, 32, false, false, false, false, 0, 10, 0},
        {"hmac, out offset too far", 3, 104, 104, 10, 32, false, false, false, false, 0, 10, 1},
    };
    for (const auto &c : cases) {
        FakeJvm vm;
        auto state = c.null_state ? nullptr : vm.bytes("state", c.state_len, 0x11);
        auto outer = vm.bytes("outer", c.outer_len, 0x22);
        auto out = c.null_out ? nullptr : vm.bytes("out", c.out_len, 0xEE);
        jint code = 0;
        if (c.method == 1) {
            jobject buf = c.null_in ? nullptr : vm.buffer("in", Bytes(c.in_len, 0x33), !c.heap_buffer);
            code = update_direct(vm, state, buf, c.off, c.len);
        } else {
            auto in = c.null_in ? nullptr : vm.bytes("in", c.in_len, 0x33);
            switch (c.method) {
                case 0:
                    code = update(vm, state, in, c.off, c.len);
                    break;
                case 2:
                    code = finish(vm, state, in, c.off, c.len, out, c.out_off);
                    break;
                case 3:
                    code = hmac_finish(vm, state, in, c.off, c.len, outer, out, c.out_off);
                    break;
                default:
                    code = init(vm, state);
                    break;
            }
        }
        EXPECT_EQ(code, NATIVE_ERR_ARGUMENT) << c.what;
        for (const auto &call : vm.calls) {
            EXPECT_TRUE(call.fn == "GetArrayLength" || call.fn.rfind("GetDirectBuffer", 0) == 0)
                << c.what << ": " << call.fn << ":" << call.array;
        }
        if (state != nullptr) {
            EXPECT_EQ(vm.content(state), Bytes(c.state_len, 0x11)) << c.what;
        }
        if (out != nullptr) {
            EXPECT_EQ(vm.content(out), Bytes(c.out_len, 0xEE)) << c.what;
        }
        expect_no_elements_taken(vm);
    }
}

}  // namespace
