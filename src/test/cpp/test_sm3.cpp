#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "sm3.h"
#include "sm3_internal.h"
#include "util/cpu.h"
#include "sm3_kdf.h"
#include "test_forms.h"
#include "test_util.h"

namespace {

Bytes sm3(const Bytes &m) {
    Bytes d(32);
    SM3_hash(d.data(), m.data(), static_cast<uint32_t>(m.size()));
    return d;
}

Bytes sm3_streamed(const Bytes &m, const std::vector<std::size_t> &cuts) {
    SM3_context ctx;
    SM3_Init(&ctx);
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
        SM3_Update(&ctx, m.data() + at, static_cast<uint32_t>(cut - at));
        at = cut;
    }
    SM3_Update(&ctx, m.data() + at, static_cast<uint32_t>(m.size() - at));
    Bytes d(32);
    SM3_Final(&ctx, d.data(), 32);
    return d;
}

// The KDF written out over OpenSSL's SM3.
Bytes openssl_kdf(const Bytes &z, std::size_t klen) {
    Bytes out;
    for (uint32_t ct = 1; out.size() < klen; ++ct) {
        Bytes m = z;
        m.push_back(static_cast<uint8_t>(ct >> 24));
        m.push_back(static_cast<uint8_t>(ct >> 16));
        m.push_back(static_cast<uint8_t>(ct >> 8));
        m.push_back(static_cast<uint8_t>(ct));
        Bytes d = openssl_sm3(m);
        out.insert(out.end(), d.begin(), d.end());
    }
    out.resize(klen);
    return out;
}

TEST(Sm3, StandardExamples) {
    EXPECT_EQ(to_hex(sm3({'a', 'b', 'c'})),
              "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0");
    Bytes abcd;
    for (int i = 0; i < 16; ++i) abcd.insert(abcd.end(), {'a', 'b', 'c', 'd'});
    EXPECT_EQ(to_hex(sm3(abcd)), "debe9ff92275b8a138604889c18e5a4d6fdb70e5387e5765293dcba39c0c5732");
    EXPECT_EQ(to_hex(sm3({})), "1ab21d8355cfa17f8e61194831e81a8f22bec8c728fefb747ed035eb5082aa2b");
}

// Every length across the one/two final block boundary and several blocks,
// then random lengths, all against OpenSSL.
TEST(Sm3, MatchesOpenSslOnEveryShortLengthAndRandomLongOnes) {
    std::mt19937_64 rng(1);
    for (std::size_t n = 0; n <= 300; ++n) {
        Bytes m = random_bytes(rng, n);
        ASSERT_EQ(sm3(m), openssl_sm3(m)) << "length " << n;
    }
    for (int i = 0; i < 2000; ++i) {
        Bytes m = random_bytes(rng, rng() % 20000);
        ASSERT_EQ(sm3(m), openssl_sm3(m)) << "length " << m.size();
    }
}

TEST(Sm3, StreamingAtAnySplitMatchesOneShot) {
    std::mt19937_64 rng(2);
    Bytes m = random_bytes(rng, 200);
    const Bytes whole = openssl_sm3(m);
    std::vector<std::size_t> bytewise;
    for (std::size_t i = 1; i < m.size(); ++i) bytewise.push_back(i);
    EXPECT_EQ(sm3_streamed(m, bytewise), whole);
    EXPECT_EQ(sm3_streamed(m, {63, 64}), whole);
    EXPECT_EQ(sm3_streamed(m, {64, 128}), whole);
    EXPECT_EQ(sm3_streamed(m, {0, 0, 200, 200}), whole);  // empty updates
    for (std::size_t cut = 0; cut <= m.size(); ++cut) {
        ASSERT_EQ(sm3_streamed(m, {cut}), whole) << "split at " << cut;
    }
    for (int i = 0; i < 1000; ++i) {
        Bytes r = random_bytes(rng, rng() % 3000);
        std::vector<std::size_t> cuts;
        for (int k = rng() % 8; k > 0; --k) cuts.push_back(r.empty() ? 0 : rng() % (r.size() + 1));
        std::sort(cuts.begin(), cuts.end());
        ASSERT_EQ(sm3_streamed(r, cuts), openssl_sm3(r));
    }
}

// Whole blocks are compressed straight from the input, yet the context must
// end up byte for byte as when every byte passes through its block, the way
// one-byte updates feed it.
TEST(Sm3, ContextMatchesByteAtATimeFeedingAfterAnyUpdates) {
    std::mt19937_64 rng(5);
    for (int i = 0; i < 300; ++i) {
        Bytes m = random_bytes(rng, rng() % 700);
        SM3_context fast, slow;
        std::memset(&fast, 0, sizeof fast);
        std::memset(&slow, 0, sizeof slow);
        SM3_Init(&fast);
        SM3_Init(&slow);
        std::size_t at = 0;
        while (at < m.size()) {
            const std::size_t n = std::min<std::size_t>(m.size() - at, rng() % 200);
            SM3_Update(&fast, m.data() + at, static_cast<uint32_t>(n));
            at += n;
        }
        for (uint8_t b : m) SM3_Update(&slow, &b, 1);
        ASSERT_EQ(std::memcmp(&fast, &slow, sizeof fast), 0) << "length " << m.size();
    }
}

// Each form of the compression the library may pick, wherever the tests'
// own reading of the processor finds its instructions: padded messages
// hashed through it agree with OpenSSL. The library's probe, which makes
// the choice, must see the same instructions.
TEST(Sm3, EveryCompressionFormMatchesOpenSsl) {
    using Compress = void (*)(uint32_t *, const uint8_t *, std::size_t);
    std::vector<std::pair<const char *, Compress>> forms = {{"portable", zenthal::sm3_compress_portable}};
    const zenthal::CpuFeatures &c = zenthal::cpu_features();
    (void)c;
#if ZENTHAL_SM3_AVX512
    ASSERT_EQ(c.avx512f && c.avx512vl && c.bmi1 && c.bmi2, test_forms::host_runs_sm3_avx512())
        << "the library's probe and the processor disagree on SM3's AVX-512 form";
    if (test_forms::host_runs_sm3_avx512()) forms.push_back({"avx512", zenthal::sm3_compress_avx512});
#endif
#if ZENTHAL_SM3_ARM_CE
    ASSERT_EQ(c.sm3, test_forms::host_runs_sm3_arm_ce())
        << "the library's probe and the processor disagree on SM3's instructions";
    if (test_forms::host_runs_sm3_arm_ce()) forms.push_back({"arm-ce", zenthal::sm3_compress_arm_ce});
#endif
    std::mt19937_64 rng(6);
    for (const auto &form : forms) {
        for (int i = 0; i < 300; ++i) {
            const Bytes m = random_bytes(rng, rng() % 1000);
            Bytes padded = m;
            padded.push_back(0x80);
            while (padded.size() % 64 != 56) padded.push_back(0);
            const uint64_t bits = static_cast<uint64_t>(m.size()) * 8;
            for (int k = 7; k >= 0; --k) padded.push_back(static_cast<uint8_t>(bits >> (8 * k)));
            uint32_t state[8] = {0x7380166F, 0x4914B2B9, 0x172442D7, 0xDA8A0600,
                                 0xA96F30BC, 0x163138AA, 0xE38DEE4D, 0xB0FB0E4E};
            // In runs of random length, so that state is carried both inside
            // one call and from call to call.
            for (std::size_t at = 0; at < padded.size();) {
                const std::size_t n = std::min<std::size_t>((padded.size() - at) / 64, 1 + rng() % 4);
                form.second(state, padded.data() + at, n);
                at += 64 * n;
            }
            Bytes d(32);
            for (int w = 0; w < 8; ++w)
                for (int k = 0; k < 4; ++k) d[4 * w + k] = static_cast<uint8_t>(state[w] >> (24 - 8 * k));
            ASSERT_EQ(d, openssl_sm3(m)) << form.first << ", length " << m.size();
        }
    }
}

TEST(Sm3, UpdateWithZeroLengthDoesNotReadInput) {
    SM3_context ctx;
    SM3_Init(&ctx);
    SM3_Update(&ctx, nullptr, 0);
    Bytes d(32);
    SM3_Final(&ctx, d.data(), 32);
    EXPECT_EQ(d, openssl_sm3(Bytes{}));
}

TEST(Sm3, BitCountCarriesIntoHighWord) {
    SM3_context ctx = {};
    SM3_Init(&ctx);
    ctx.bit_count_lo = 0xFFFFFFF8u;
    const uint8_t two[2] = {1, 2};
    SM3_Update(&ctx, two, 2);
    EXPECT_EQ(ctx.bit_count_lo, 8u);
    EXPECT_EQ(ctx.bit_count_hi, 1u);
}

TEST(Sm3, FinalWritesOnlyTheRequestedPrefixAndWipesTheContext) {
    const Bytes msg = {'a', 'b', 'c'};
    const Bytes full = openssl_sm3(msg);
    for (uint32_t want : {0u, 1u, 20u, 31u, 32u, 33u, 64u, 0xFFFFFFFFu}) {
        // The context sits inside a larger buffer so that a write past it shows.
        alignas(8) uint8_t room[sizeof(SM3_context) + 16];
        std::memset(room, 0xA5, sizeof room);
        auto *ctx = reinterpret_cast<SM3_context *>(room);
        SM3_Init(ctx);
        SM3_Update(ctx, msg.data(), 3);
        uint8_t out[48];
        std::memset(out, 0xEE, sizeof out);
        SM3_Final(ctx, out, want);
        const uint32_t n = want < 32 ? want : 32;
        EXPECT_EQ(Bytes(out, out + n), Bytes(full.begin(), full.begin() + n)) << want;
        for (std::size_t i = n; i < sizeof out; ++i) ASSERT_EQ(out[i], 0xEE) << want << " at " << i;
        for (std::size_t i = 0; i < sizeof(SM3_context); ++i) ASSERT_EQ(room[i], 0) << i;
        for (std::size_t i = sizeof(SM3_context); i < sizeof room; ++i) ASSERT_EQ(room[i], 0xA5);
    }
}

TEST(Sm3, TransformLeavesItsBlockUnchanged) {
    std::mt19937_64 rng(3);
    Bytes block = random_bytes(rng, 64);
    const Bytes before = block;
    uint32_t state[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SM3_Transform(block.data(), state);
    EXPECT_EQ(block, before);
}

// In every way the processor runs the KDF: one block at a time and in each
// eight-lane form, whose groups of eight meet the single blocks at every
// length up to 200 and at random long ones.
TEST(Sm3Kdf, MatchesKdfOverOpenSslSm3) {
    std::vector<std::pair<const char *, zenthal::Sm3LanesFn>> forms = {{"one block at a time", nullptr}};
#if ZENTHAL_SM3_X86_LANES
    if (test_forms::host().avx2) forms.push_back({"avx2 lanes", zenthal::sm3_compress_lanes_avx2});
    if (test_forms::host().avx512f && test_forms::host().avx512vl)
        forms.push_back({"avx512 lanes", zenthal::sm3_compress_lanes_avx512});
#endif
    for (const auto &form : forms) {
        SCOPED_TRACE(form.first);
        std::mt19937_64 rng(4);
        for (std::size_t klen = 0; klen <= 200; ++klen) {
            Bytes z = random_bytes(rng, rng() % 140);
            Bytes out(klen + 8, 0x5C);
            zenthal::sm3_kdf_with(form.second, out.data(), static_cast<uint32_t>(klen), z.data(),
                                  static_cast<uint32_t>(z.size()));
            ASSERT_EQ(Bytes(out.begin(), out.begin() + klen), openssl_kdf(z, klen)) << klen;
            for (std::size_t i = klen; i < out.size(); ++i) ASSERT_EQ(out[i], 0x5C) << klen;
        }
        for (int i = 0; i < 50; ++i) {
            Bytes z = random_bytes(rng, rng() % 300);
            const std::size_t klen = rng() % 5000;
            Bytes out(klen);
            zenthal::sm3_kdf_with(form.second, out.data(), static_cast<uint32_t>(klen), z.data(),
                                  static_cast<uint32_t>(z.size()));
            ASSERT_EQ(out, openssl_kdf(z, klen));
        }
    }
    // SM3_KDF itself, in whichever way it chose.
    Bytes z(64, 7), out(1000);
    SM3_KDF(out.data(), 1000, z.data(), 64);
    EXPECT_EQ(out, openssl_kdf(z, 1000));
}

TEST(Sm3Kdf, EdgeLengths) {
    // klen 0 writes nothing and does not read z.
    uint8_t out[4] = {9, 9, 9, 9};
    SM3_KDF(out, 0, nullptr, 1000);
    EXPECT_EQ(out[0], 9);
    // Empty Z: each block is the digest of the counter alone.
    Bytes k(33);
    SM3_KDF(k.data(), 33, nullptr, 0);
    EXPECT_EQ(Bytes(k.begin(), k.begin() + 32), openssl_sm3(Bytes{0, 0, 0, 1}));
    EXPECT_EQ(k[32], openssl_sm3(Bytes{0, 0, 0, 2})[0]);
}

}  // namespace
