// The random methods of the bridge, driven through the recording JNIEnv and
// the scripted processor together.
#include <gtest/gtest.h>

#include "com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal.h"
#include "fake_cpu.h"
#include "fake_jni.h"
#include "hwrand/rdrand.h"
#include "native_status.h"
#include "test_util.h"

namespace {

using Trace = std::vector<std::string>;

jint next_bytes(FakeJvm &vm, jbyteArray bytes, jint size) {
    return Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_nextBytesNative(vm.env(), nullptr, bytes,
                                                                                    size);
}

class BridgeRandom : public ::testing::Test {
  protected:
    void SetUp() override { fake_cpu::reset(); }
    void TearDown() override { fake_cpu::reset(); }
};

TEST_F(BridgeRandom, FillsAPrefixFromAlignedWordsLowByteFirst) {
    fake_cpu::script_value(0x0807060504030201ull);
    fake_cpu::script_value(0x100F0E0D0C0B0A09ull);
    FakeJvm vm;
    auto bytes = vm.bytes("bytes", 16, 0xEE);
    EXPECT_EQ(next_bytes(vm, bytes, 11), DRNG_OK);
    EXPECT_EQ(vm.content(bytes), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(vm.trace(), Trace{"SetByteArrayRegion:bytes"});
    EXPECT_EQ(fake_cpu::rdrand_calls(64), 2);
    // The random bytes do not stay behind in freed memory.
    EXPECT_EQ(g_nothrow_freed, 1);
    EXPECT_EQ(g_nothrow_freed_dirty, 0);
}

TEST_F(BridgeRandom, SizeZeroDrawsNothingEvenWithoutRdrand) {
    fake_cpu::set_vendor("AuthenticAMD");
    FakeJvm vm;
    auto bytes = vm.bytes("bytes", 4, 0xEE);
    EXPECT_EQ(next_bytes(vm, bytes, 0), DRNG_OK);
    EXPECT_EQ(fake_cpu::rdrand_calls_total(), 0);
    EXPECT_EQ(fake_cpu::cpuid_calls_total(), 0);
    EXPECT_EQ(rdrand_support_cache, DRNG_SUPPORT_UNPROBED);
    EXPECT_EQ(vm.content(bytes), Bytes(4, 0xEE));
}

TEST_F(BridgeRandom, FailuresCopyNothing) {
    {
        fake_cpu::set_vendor("AuthenticAMD");
        FakeJvm vm;
        auto bytes = vm.bytes("bytes", 8, 0xEE);
        for (jint size : {1, 7, 8}) {
            EXPECT_EQ(next_bytes(vm, bytes, size), DRNG_NO_RDRAND) << size;
        }
        EXPECT_EQ(fake_cpu::rdrand_calls_total(), 0);
        EXPECT_EQ(vm.trace(), Trace{});
        EXPECT_EQ(vm.content(bytes), Bytes(8, 0xEE));
    }
    fake_cpu::reset();
    {
        // The first word is drawn, the second never comes: nothing reaches Java.
        fake_cpu::script_value(42);
        fake_cpu::script_failures(10);
        FakeJvm vm;
        auto bytes = vm.bytes("bytes", 16, 0xEE);
        EXPECT_EQ(next_bytes(vm, bytes, 16), DRNG_NOT_READY);
        EXPECT_EQ(fake_cpu::rdrand_calls(64), 11);
        EXPECT_EQ(vm.trace(), Trace{});
        EXPECT_EQ(vm.content(bytes), Bytes(16, 0xEE));
    }
}

TEST_F(BridgeRandom, Refusals) {
    FakeJvm vm;
    auto bytes = vm.bytes("bytes", 8, 0xEE);
    EXPECT_EQ(next_bytes(vm, nullptr, 8), NATIVE_ERR_ARGUMENT);
    EXPECT_EQ(next_bytes(vm, bytes, -1), NATIVE_ERR_ARGUMENT);
    EXPECT_EQ(next_bytes(vm, bytes, INT32_MIN), NATIVE_ERR_ARGUMENT);
    g_fail_nothrow_new = true;
    const jint code = next_bytes(vm, bytes, 8);
    g_fail_nothrow_new = false;
    EXPECT_EQ(code, NATIVE_ERR_NO_MEMORY);
    EXPECT_EQ(vm.trace(), Trace{});
    EXPECT_EQ(fake_cpu::rdrand_calls_total(), 0);
    EXPECT_EQ(vm.content(bytes), Bytes(8, 0xEE));
}

TEST_F(BridgeRandom, LongerThanTheArrayRaises) {
    FakeJvm vm;
    auto bytes = vm.bytes("bytes", 4, 0xEE);
    EXPECT_EQ(next_bytes(vm, bytes, 5), DRNG_OK);
    EXPECT_EQ(vm.pending_exception, "java/lang/ArrayIndexOutOfBoundsException");
    EXPECT_EQ(vm.content(bytes), Bytes(4, 0xEE));
}

TEST_F(BridgeRandom, SupportQueryProbesOnceAndMakesNoJniCall) {
    FakeJvm vm;
    auto query = [&] {
        return Java_com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal_isRDRANDSupported(vm.env(), nullptr);
    };
    EXPECT_EQ(query(), 1);
    EXPECT_EQ(query(), 1);
    EXPECT_EQ(fake_cpu::cpuid_calls(0), 1);
    EXPECT_EQ(fake_cpu::cpuid_calls(1), 1);
    fake_cpu::reset();
    fake_cpu::set_vendor("AuthenticAMD");
    EXPECT_EQ(query(), 0);
    EXPECT_EQ(query(), 0);
    EXPECT_EQ(fake_cpu::cpuid_calls(1), 0);
    EXPECT_EQ(vm.trace(), Trace{});
}

}  // namespace
