// The random source on the processor it runs on. Which half of these tests
// runs depends on the machine, as the tests read it themselves (CPUID, apart
// from the library's probe); the other half skips.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "hwrand/rdrand.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <cpuid.h>
#endif

namespace {

const uint64_t kSentinel = 0xa5a5a5a5a5a5a5a5ull;

// Read straight from the processor, bypassing the library.
int intel_with_rdrand() {
#if defined(__x86_64__) || defined(_M_X64)
    unsigned int eax, ebx, ecx, edx;
    __cpuid_count(0, 0, eax, ebx, ecx, edx);
    char vendor[12];
    memcpy(vendor, &ebx, 4);
    memcpy(vendor + 4, &edx, 4);
    memcpy(vendor + 8, &ecx, 4);
    if (memcmp(vendor, "GenuineIntel", 12) != 0) return 0;
    __cpuid_count(1, 0, eax, ebx, ecx, edx);
    return (ecx >> 30) & 1;
#else
    return 0;
#endif
}

TEST(RdRandReal, SupportAgreesWithTheProcessor) {
    const int expected = intel_with_rdrand();
    EXPECT_EQ(RdRand_cpuid(), expected);
    EXPECT_EQ(RdRand_isSupported(), expected);
    EXPECT_EQ(RdRand_isSupported(), expected);
    EXPECT_EQ(__atomic_load_n(&rdrand_support_cache, __ATOMIC_RELAXED),
              expected ? DRNG_SUPPORTED : DRNG_NO_RDRAND);
}

TEST(RdRandReal, DrawsSucceedWhenSupported) {
    if (!intel_with_rdrand())
        GTEST_SKIP() << "RDRAND not usable here (not GenuineIntel, or no feature flag)";
    ASSERT_TRUE(RdRand_isSupported());

    uint16_t x16;
    uint32_t x32;
    uint64_t x64;
    EXPECT_EQ(rdrand_16(&x16, 1), DRNG_OK);
    EXPECT_EQ(rdrand_32(&x32, 1), DRNG_OK);
    EXPECT_EQ(rdrand_64(&x64, 1), DRNG_OK);

    uint64_t w64[16];
    uint32_t w32[16];
    EXPECT_EQ(rdrand_get_n_64(16, w64), DRNG_OK);
    EXPECT_EQ(rdrand_get_n_32(16, w32), DRNG_OK);
    EXPECT_NE(std::count(w64, w64 + 16, w64[0]), 16);

    // Two fills of a few KB at an odd offset: neither constant, nor equal.
    std::vector<unsigned char> a(4096 + 1), b(4096 + 1);
    ASSERT_EQ(rdrand_get_bytes(4096, a.data() + 1), DRNG_OK);
    ASSERT_EQ(rdrand_get_bytes(4096, b.data() + 1), DRNG_OK);
    EXPECT_NE(std::count(a.begin() + 1, a.end(), a[1]), 4096);
    EXPECT_NE(a, b);
}

TEST(RdRandReal, NothingIsWrittenWhenUnsupported) {
    if (intel_with_rdrand())
        GTEST_SKIP() << "RDRAND is usable here; the refusal path needs a processor without it";
    ASSERT_FALSE(RdRand_isSupported());

    uint16_t x16 = (uint16_t)kSentinel;
    uint32_t x32 = (uint32_t)kSentinel;
    uint64_t x64 = kSentinel;
    EXPECT_EQ(rdrand_16(&x16, 1), DRNG_NO_RDRAND);
    EXPECT_EQ(rdrand_32(&x32, 0), DRNG_NO_RDRAND);
    EXPECT_EQ(rdrand_64(&x64, 1), DRNG_NO_RDRAND);
    EXPECT_EQ(x16, (uint16_t)kSentinel);
    EXPECT_EQ(x32, (uint32_t)kSentinel);
    EXPECT_EQ(x64, kSentinel);

    uint64_t w64[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
    uint32_t w32[4] = {7, 7, 7, 7};
    EXPECT_EQ(rdrand_get_n_64(4, w64), DRNG_NO_RDRAND);
    EXPECT_EQ(rdrand_get_n_32(4, w32), DRNG_NO_RDRAND);
    EXPECT_EQ(std::count(w64, w64 + 4, kSentinel), 4);
    EXPECT_EQ(std::count(w32, w32 + 4, 7u), 4);

    std::vector<unsigned char> buf(64 + 8, 0x5c);
    for (uint32_t n : {1u, 7u, 8u, 64u}) EXPECT_EQ(rdrand_get_bytes(n, buf.data() + 3), DRNG_NO_RDRAND) << n;
    EXPECT_EQ(rdrand_get_bytes(0, buf.data()), DRNG_OK);
    EXPECT_EQ(std::count(buf.begin(), buf.end(), 0x5c), (long)buf.size());
}

}  // namespace
