// The random source against the scripted processor of fake_cpu.cpp.
#include <gtest/gtest.h>

#include <limits.h>
#include <stdint.h>

#include <algorithm>
#include <vector>

#include "fake_cpu.h"
#include "hwrand/rdrand.h"

namespace {

const uint64_t kSentinel = 0xa5a5a5a5a5a5a5a5ull;
const uint64_t kValue = 0x8877665544332211ull;
const uint64_t kFailed = 0x0f1e2d3c4b5a6978ull;
const unsigned char kGuardByte = 0xcc;

uint64_t mask(int bits) { return bits == 64 ? ~0ull : (1ull << bits) - 1; }

struct Draw {
    int rc;
    uint64_t x;  // starts as kSentinel cut to the width
};

Draw draw(int bits, int retry) {
    if (bits == 16) {
        uint16_t x = (uint16_t)kSentinel;
        const int rc = rdrand_16(&x, retry);
        return {rc, x};
    }
    if (bits == 32) {
        uint32_t x = (uint32_t)kSentinel;
        const int rc = rdrand_32(&x, retry);
        return {rc, x};
    }
    uint64_t x = kSentinel;
    const int rc = rdrand_64(&x, retry);
    return {rc, x};
}

int cache() { return __atomic_load_n(&rdrand_support_cache, __ATOMIC_RELAXED); }

// Room for any alignment of dest with guard bytes on both sides.
struct Guarded {
    std::vector<unsigned char> bytes;
    size_t base;  // index of an 8-byte boundary

    explicit Guarded(size_t n) : bytes(n + 48, kGuardByte) {
        const uintptr_t first = reinterpret_cast<uintptr_t>(bytes.data()) + 16;
        base = 16 + ((8 - (first & 7)) & 7);
    }
    unsigned char *at(unsigned align) { return bytes.data() + base + align; }
};

// The buffer cut at every 8-byte address boundary; each piece is one draw,
// and only a whole aligned word is 8 long.
struct Piece {
    size_t off;
    size_t len;
};

std::vector<Piece> pieces_of(const unsigned char *dest, uint32_t n) {
    std::vector<Piece> out;
    for (size_t off = 0; off < n;) {
        const size_t to_boundary = 8 - (reinterpret_cast<uintptr_t>(dest + off) & 7);
        const size_t len = std::min<size_t>(to_boundary, n - off);
        out.push_back({off, len});
        off += len;
    }
    return out;
}

void put_le(unsigned char *p, uint64_t w, size_t len) {
    for (size_t i = 0; i < len; ++i, w >>= 8) p[i] = (unsigned char)w;
}

class RdRandProbe : public ::testing::Test {
  protected:
    void SetUp() override { fake_cpu::reset(); }
};
using RdRandBatch = RdRandProbe;
using RdRandFill = RdRandProbe;

TEST_F(RdRandProbe, IntelWithFlagIsProbedOncePerProcess) {
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(RdRand_isSupported(), 1);
        for (int bits : {16, 32, 64}) EXPECT_EQ(draw(bits, 1).rc, DRNG_OK);
        unsigned char buf[13];
        EXPECT_EQ(rdrand_get_bytes(sizeof buf, buf), DRNG_OK);
    }
    EXPECT_EQ(cache(), DRNG_SUPPORTED);
    EXPECT_EQ(fake_cpu::cpuid_calls(0), 1);
    EXPECT_EQ(fake_cpu::cpuid_calls(1), 1);
    EXPECT_EQ(fake_cpu::cpuid_calls_total(), 2);
}

TEST_F(RdRandProbe, FeatureFlagIsBit30OfLeaf1Ecx) {
    const struct {
        uint32_t ecx;
        int supported;
    } cases[] = {{1u << 30, 1}, {0xffffffffu, 1}, {0, 0}, {~(1u << 30), 0}, {(1u << 31) | (1u << 29), 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ecx);
        fake_cpu::reset();
        fake_cpu::set_leaf1_ecx(c.ecx);
        EXPECT_EQ(RdRand_isSupported(), c.supported);
        EXPECT_EQ(cache(), c.supported ? DRNG_SUPPORTED : DRNG_NO_RDRAND);
        EXPECT_EQ(fake_cpu::cpuid_calls(1), 1);
    }
}

TEST_F(RdRandProbe, CpuidProbesOnEveryCallAndLeavesTheCache) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(RdRand_cpuid(), 1);
    EXPECT_EQ(fake_cpu::cpuid_calls(0), 3);
    EXPECT_EQ(fake_cpu::cpuid_calls(1), 3);
    EXPECT_EQ(cache(), DRNG_SUPPORT_UNPROBED);
}

class RdRandForeignVendor : public ::testing::TestWithParam<const char *> {
  protected:
    void SetUp() override { fake_cpu::reset(); }
};

TEST_P(RdRandForeignVendor, NoRdrandWhateverTheFeatureFlags) {
    fake_cpu::set_vendor(GetParam());
    fake_cpu::set_leaf1_ecx(0xffffffffu);

    EXPECT_EQ(RdRand_cpuid(), 0);
    EXPECT_EQ(RdRand_isSupported(), 0);
    EXPECT_EQ(cache(), DRNG_NO_RDRAND);

    for (int bits : {16, 32, 64}) {
        const Draw d = draw(bits, 1);
        EXPECT_EQ(d.rc, DRNG_NO_RDRAND);
        EXPECT_EQ(d.x, kSentinel & mask(bits)) << bits;
    }
    uint64_t w64[3] = {kSentinel, kSentinel, kSentinel};
    uint32_t w32[3] = {1, 2, 3};
    EXPECT_EQ(rdrand_get_n_64(3, w64), DRNG_NO_RDRAND);
    EXPECT_EQ(rdrand_get_n_32(3, w32), DRNG_NO_RDRAND);
    EXPECT_EQ(w64[0], kSentinel);
    EXPECT_EQ(w32[0], 1u);

    for (unsigned align = 0; align < 8; ++align) {
        for (uint32_t n = 0; n <= 20; ++n) {
            Guarded buf(n);
            const std::vector<unsigned char> before = buf.bytes;
            EXPECT_EQ(rdrand_get_bytes(n, buf.at(align)), n ? DRNG_NO_RDRAND : DRNG_OK);
            EXPECT_EQ(buf.bytes, before) << "align " << align << " n " << n;
        }
    }

    EXPECT_EQ(fake_cpu::rdrand_calls_total(), 0);
    EXPECT_EQ(fake_cpu::cpuid_calls(0), 2);  // RdRand_cpuid, then the one cached probe
    EXPECT_EQ(fake_cpu::cpuid_calls(1), 0);
}

// Each register's piece wrong in turn, pieces in the wrong registers, and
// real vendors; the last two would pass a check that mixes up EDX and ECX
// or tests the pieces in any register.
INSTANTIATE_TEST_SUITE_P(Vendors, RdRandForeignVendor,
                         ::testing::Values("AuthenticAMD", "HygonGenuine", "CentaurHauls", "  Shanghai  ",
                                           "genuineIntel", "GenuinEIntel", "GenuineIntex", "GenuntelineI",
                                           "ineIGenuntel"));

struct CacheCase {
    int value;
    int supported;
};

class RdRandSettledCache : public ::testing::TestWithParam<CacheCase> {
  protected:
    void SetUp() override { fake_cpu::reset(); }
};

TEST_P(RdRandSettledCache, IsTrustedWithoutProbing) {
    const CacheCase c = GetParam();
    // The processor would answer the opposite, so a probe would show.
    if (c.supported) fake_cpu::set_vendor("AuthenticAMD");
    rdrand_support_cache = c.value;

    EXPECT_EQ(RdRand_isSupported(), c.supported);
    for (int bits : {16, 32, 64}) {
        const Draw d = draw(bits, 1);
        EXPECT_EQ(d.rc, c.supported ? DRNG_OK : DRNG_NO_RDRAND);
        if (!c.supported) {
            EXPECT_EQ(d.x, kSentinel & mask(bits));
        }
    }
    EXPECT_EQ(fake_cpu::cpuid_calls_total(), 0);
    EXPECT_EQ(fake_cpu::rdrand_calls_total(), c.supported ? 3 : 0);
    EXPECT_EQ(cache(), c.value);
}

INSTANTIATE_TEST_SUITE_P(Values, RdRandSettledCache,
                         ::testing::Values(CacheCase{DRNG_SUPPORTED, 1}, CacheCase{DRNG_NO_RDRAND, 0},
                                           CacheCase{0, 0}, CacheCase{1, 0}, CacheCase{7, 0},
                                           CacheCase{-1, 0}, CacheCase{INT_MIN, 0}, CacheCase{INT_MAX, 0}));

class RdRandWord : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override { fake_cpu::reset(); }
};

TEST_P(RdRandWord, SucceedsAtAttemptK) {
    const int bits = GetParam();
    for (int k = 1; k <= 10; ++k) {
        SCOPED_TRACE(k);
        fake_cpu::reset();
        fake_cpu::script_failures(k - 1, kFailed);
        fake_cpu::script_value(kValue);
        const Draw d = draw(bits, 1);
        EXPECT_EQ(d.rc, DRNG_OK);
        EXPECT_EQ(d.x, kValue & mask(bits));
        EXPECT_EQ(fake_cpu::rdrand_calls(bits), k);
        EXPECT_EQ(fake_cpu::rdrand_calls_total(), k);
    }
}

TEST_P(RdRandWord, TenFailuresLeaveTheLastAttemptsOutput) {
    const int bits = GetParam();
    fake_cpu::script_failures(9, kValue);
    fake_cpu::script({false, kFailed});
    fake_cpu::script_value(kValue);
    Draw d = draw(bits, 1);
    EXPECT_EQ(d.rc, DRNG_NOT_READY);
    EXPECT_EQ(d.x, kFailed & mask(bits));
    EXPECT_EQ(fake_cpu::rdrand_calls(bits), 10);
    EXPECT_EQ(fake_cpu::script_left(), 1u);

    // What the instruction itself leaves after failing.
    fake_cpu::reset();
    fake_cpu::script_failures(10);
    d = draw(bits, 1);
    EXPECT_EQ(d.rc, DRNG_NOT_READY);
    EXPECT_EQ(d.x, 0u);
}

TEST_P(RdRandWord, RetryZeroMakesOneAttemptAnyOtherValueTen) {
    const int bits = GetParam();
    for (int retry : {0, 1, 2, -1, -5, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(retry);
        fake_cpu::reset();
        fake_cpu::script_failures(11, kFailed);
        const Draw d = draw(bits, retry);
        EXPECT_EQ(d.rc, DRNG_NOT_READY);
        EXPECT_EQ(d.x, kFailed & mask(bits));
        EXPECT_EQ(fake_cpu::rdrand_calls(bits), retry ? 10 : 1);
    }
    fake_cpu::reset();
    EXPECT_EQ(draw(bits, 0).rc, DRNG_OK);
    EXPECT_EQ(fake_cpu::rdrand_calls(bits), 1);
}

INSTANTIATE_TEST_SUITE_P(Widths, RdRandWord, ::testing::Values(16, 32, 64));

TEST_F(RdRandBatch, ZeroCountTouchesNeitherDestNorCache) {
    fake_cpu::set_vendor("AuthenticAMD");
    uint64_t w64 = kSentinel;
    uint32_t w32 = (uint32_t)kSentinel;
    Guarded buf(0);
    const std::vector<unsigned char> before = buf.bytes;

    EXPECT_EQ(rdrand_get_n_64(0, &w64), DRNG_OK);
    EXPECT_EQ(rdrand_get_n_32(0, &w32), DRNG_OK);
    for (unsigned align = 0; align < 8; ++align) EXPECT_EQ(rdrand_get_bytes(0, buf.at(align)), DRNG_OK);

    EXPECT_EQ(w64, kSentinel);
    EXPECT_EQ(w32, (uint32_t)kSentinel);
    EXPECT_EQ(buf.bytes, before);
    EXPECT_EQ(cache(), DRNG_SUPPORT_UNPROBED);
    EXPECT_EQ(fake_cpu::cpuid_calls_total(), 0);
    EXPECT_EQ(fake_cpu::rdrand_calls_total(), 0);
}

// Every word needs all ten attempts; word i then fails outright
// (i == n: the whole batch succeeds).
TEST_F(RdRandBatch, StopsAtTheFailingWord) {
    const uint32_t n = 6;
    for (int bits : {32, 64}) {
        for (uint32_t i = 0; i <= n; ++i) {
            SCOPED_TRACE(::testing::Message() << bits << " bits, failing word " << i);
            fake_cpu::reset();
            for (uint32_t j = 0; j < i; ++j) {
                fake_cpu::script_failures(9, kFailed);
                fake_cpu::script_value(0x0101010101010101ull * (j + 1));
            }
            if (i < n) {
                fake_cpu::script_failures(9);
                fake_cpu::script({false, kFailed});
            }
            uint64_t words[n];
            int rc;
            if (bits == 64) {
                std::fill(words, words + n, kSentinel);
                rc = rdrand_get_n_64(n, words);
            } else {
                uint32_t w32[n];
                std::fill(w32, w32 + n, (uint32_t)kSentinel);
                rc = rdrand_get_n_32(n, w32);
                std::copy(w32, w32 + n, words);
            }
            EXPECT_EQ(rc, i < n ? DRNG_NOT_READY : DRNG_OK);
            for (uint32_t j = 0; j < n; ++j) {
                const uint64_t want = j < i ? 0x0101010101010101ull * (j + 1) : j == i ? kFailed : kSentinel;
                EXPECT_EQ(words[j], want & mask(bits)) << "word " << j;
            }
            EXPECT_EQ(fake_cpu::rdrand_calls(bits), 10 * (int)std::min(i + 1, n));
        }
    }
}

TEST_F(RdRandFill, EveryAlignmentAndLength) {
    std::vector<uint32_t> lengths;
    for (uint32_t n = 0; n <= 80; ++n) lengths.push_back(n);
    for (uint32_t n : {255u, 256u, 1000u, 4099u, 65541u}) lengths.push_back(n);

    for (unsigned align = 0; align < 8; ++align) {
        for (uint32_t n : lengths) {
            SCOPED_TRACE(::testing::Message() << "align " << align << " n " << n);
            fake_cpu::reset();
            Guarded buf(n);
            std::vector<unsigned char> want = buf.bytes;
            unsigned char *dest = buf.at(align);

            ASSERT_EQ(rdrand_get_bytes(n, dest), DRNG_OK);

            const std::vector<Piece> pieces = pieces_of(dest, n);
            const std::vector<uint64_t> &words = fake_cpu::delivered();
            ASSERT_EQ(words.size(), pieces.size());
            EXPECT_EQ(fake_cpu::rdrand_calls(64), (int)pieces.size());
            EXPECT_EQ(fake_cpu::rdrand_calls_total(), (int)pieces.size());
            for (size_t j = 0; j < pieces.size(); ++j)
                put_le(&want[buf.base + align + pieces[j].off], words[j], pieces[j].len);
            EXPECT_EQ(buf.bytes, want);
        }
    }
}

TEST_F(RdRandFill, KnownSplits) {
    const uint64_t head = 0x1817161514131211ull;
    const uint64_t middle = 0x2827262524232221ull;
    const uint64_t tail = 0x3837363534333231ull;
    const struct {
        unsigned align;
        uint32_t n;
        std::vector<unsigned char> bytes;
    } cases[] = {
        {0, 5, {0x11, 0x12, 0x13, 0x14, 0x15}},
        {3, 5, {0x11, 0x12, 0x13, 0x14, 0x15}},
        {3, 20, {0x11, 0x12, 0x13, 0x14, 0x15, 0x21, 0x22, 0x23, 0x24, 0x25,
                 0x26, 0x27, 0x28, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37}},
        {3, 2, {0x11, 0x12}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << "align " << c.align << " n " << c.n);
        fake_cpu::reset();
        for (uint64_t w : {head, middle, tail}) fake_cpu::script_value(w);
        Guarded buf(c.n);
        std::vector<unsigned char> want = buf.bytes;
        std::copy(c.bytes.begin(), c.bytes.end(), want.begin() + buf.base + c.align);

        EXPECT_EQ(rdrand_get_bytes(c.n, buf.at(c.align)), DRNG_OK);
        EXPECT_EQ(buf.bytes, want);
        EXPECT_EQ(fake_cpu::rdrand_calls(64), c.n == 20 ? 3 : 1);
    }
}

// Draw d fails on all ten attempts: earlier pieces are written, a failing
// middle word holds the failed output, and nothing after it is touched.
TEST_F(RdRandFill, FailingDrawEndsTheFill) {
    for (unsigned align : {0u, 3u, 7u}) {
        for (uint32_t n : {2u, 13u, 44u, 64u}) {
            Guarded probe(n);
            const size_t draws = pieces_of(probe.at(align), n).size();
            for (size_t d = 0; d < draws; ++d) {
                SCOPED_TRACE(::testing::Message() << "align " << align << " n " << n << " draw " << d);
                fake_cpu::reset();
                for (size_t j = 0; j < d; ++j) fake_cpu::script_value(0x0101010101010101ull * (j + 1));
                fake_cpu::script_failures(9);
                fake_cpu::script({false, kFailed});
                Guarded buf(n);
                std::vector<unsigned char> want = buf.bytes;
                unsigned char *dest = buf.at(align);
                const std::vector<Piece> pieces = pieces_of(dest, n);

                EXPECT_EQ(rdrand_get_bytes(n, dest), DRNG_NOT_READY);

                for (size_t j = 0; j < d; ++j)
                    put_le(&want[buf.base + align + pieces[j].off], 0x0101010101010101ull * (j + 1),
                           pieces[j].len);
                if (pieces[d].len == 8) put_le(&want[buf.base + align + pieces[d].off], kFailed, 8);
                EXPECT_EQ(buf.bytes, want);
                EXPECT_EQ(fake_cpu::rdrand_calls(64), (int)d + 10);
            }
        }
    }
}

}  // namespace
