// SM3 message digest (GB/T 32905-2016).
#include "sm3.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include "forms/sm3_compress.inc"
#include "sm3_internal.h"
#include "util/byteorder.h"
#include "util/cpu.h"
#include "util/wipe.h"

using zenthal::store32_be;

static_assert(sizeof(SM3_context) == 104, "SM3_context layout is part of the interface");
static_assert(offsetof(SM3_context, bit_count_lo) == 0, "SM3_context layout");
static_assert(offsetof(SM3_context, bit_count_hi) == 4, "SM3_context layout");
static_assert(offsetof(SM3_context, block) == 8, "SM3_context layout");
static_assert(offsetof(SM3_context, state) == 72, "SM3_context layout");

namespace {

const uint32_t SM3_IV[8] = {
    0x7380166Fu, 0x4914B2B9u, 0x172442D7u, 0xDA8A0600u, 0xA96F30BCu, 0x163138AAu, 0xE38DEE4Du, 0xB0FB0E4Eu,
};

}  // namespace

namespace zenthal {

void sm3_compress_portable(uint32_t state[8], const uint8_t *blocks, std::size_t n) {
    compress_blocks(state, blocks, n);
}

}  // namespace zenthal

namespace {

using CompressFn = void (*)(uint32_t *, const uint8_t *, std::size_t);

// The compression chosen for this processor, found on first use. Every
// thread that finds it unset looks at the processor and stores the same
// answer, so a plain relaxed atomic is enough.
std::atomic<CompressFn> g_compress{nullptr};

CompressFn choose_compress() {
    const zenthal::CpuFeatures &c = zenthal::cpu_features();
    (void)c;
#if ZENTHAL_SM3_AVX512
    if (c.avx512f && c.avx512vl && c.bmi1 && c.bmi2) return zenthal::sm3_compress_avx512;
#endif
#if ZENTHAL_SM3_ARM_CE
    if (c.sm3) return zenthal::sm3_compress_arm_ce;
#endif
    return zenthal::sm3_compress_portable;
}

inline void compress(uint32_t state[8], const uint8_t *blocks, std::size_t n) {
    CompressFn f = g_compress.load(std::memory_order_relaxed);
    if (f == nullptr) {
        f = choose_compress();
        g_compress.store(f, std::memory_order_relaxed);
    }
    f(state, blocks, n);
}

}  // namespace

void SM3_Transform(const uint8_t block[64], uint32_t state[8]) { compress(state, block, 1); }

void SM3_Init(SM3_context *ctx) {
    ctx->bit_count_lo = 0;
    ctx->bit_count_hi = 0;
    std::memcpy(ctx->state, SM3_IV, sizeof SM3_IV);
}

namespace zenthal {

void sm3_update(SM3_context *ctx, const uint8_t *in, std::size_t len) {
    while (len > 0) {
        const uint32_t step = len > 0x40000000u ? 0x40000000u : static_cast<uint32_t>(len);
        SM3_Update(ctx, in, step);
        in += step;
        len -= step;
    }
}

}  // namespace zenthal

void SM3_Update(SM3_context *ctx, const uint8_t *in, uint32_t len) {
    uint32_t p = (ctx->bit_count_lo >> 3) % 64;

    // The count is brought up to date before any byte is absorbed.
    const uint32_t old_lo = ctx->bit_count_lo;
    ctx->bit_count_lo = old_lo + (len << 3);
    if (ctx->bit_count_lo < old_lo) ctx->bit_count_hi += 1;
    ctx->bit_count_hi += len >> 29;
    if (len == 0) return;

    // Top up a partial block first.
    if (p > 0) {
        uint32_t take = 64 - p;
        if (take > len) take = len;
        std::memcpy(ctx->block + p, in, take);
        in += take;
        len -= take;
        p += take;
        if (p < 64) return;
        compress(ctx->state, ctx->block, 1);
    }
    // Whole blocks straight from the input; the last of them is then copied
    // into the block, so the context ends up byte for byte as if every byte
    // had passed through it.
    const uint32_t whole = len / 64;
    if (whole > 0) {
        compress(ctx->state, in, whole);
        std::memcpy(ctx->block, in + 64 * (std::size_t)(whole - 1), 64);
        in += 64 * (std::size_t)whole;
        len -= 64 * whole;
    }
    std::memcpy(ctx->block, in, len);
}

void SM3_Final(SM3_context *ctx, uint8_t *out, uint32_t digest_len) {
    const uint32_t p = (ctx->bit_count_lo >> 3) % 64;
    ctx->block[p] = 0x80;
    if (p <= 55) {
        std::memset(ctx->block + p + 1, 0, 55 - p);
    } else {
        std::memset(ctx->block + p + 1, 0, 63 - p);
        compress(ctx->state, ctx->block, 1);
        std::memset(ctx->block, 0, 64);
    }
    store32_be(ctx->block + 56, ctx->bit_count_hi);
    store32_be(ctx->block + 60, ctx->bit_count_lo);
    compress(ctx->state, ctx->block, 1);

    const uint32_t n = digest_len <= 32 ? digest_len : 32;
    if (n == 32) {
        for (int i = 0; i < 8; ++i) store32_be(out + 4 * i, ctx->state[i]);
    } else {
        for (uint32_t i = 0; i < n; ++i) {
            out[i] = static_cast<uint8_t>(ctx->state[i / 4] >> (8 * (3 - i % 4)));
        }
    }
    zenthal::secure_wipe(ctx, sizeof *ctx);
}

void SM3_hash(uint8_t out[32], const uint8_t *in, uint32_t len) {
    SM3_context ctx;
    SM3_Init(&ctx);
    SM3_Update(&ctx, in, len);
    SM3_Final(&ctx, out, 32);
}
