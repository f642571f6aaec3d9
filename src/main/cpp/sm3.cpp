// SM3 message digest (GB/T 32905-2016).
#include "sm3.h"

#include <atomic>
#include <cstddef>
#include <cstring>

#include "byteorder.h"
#include "sm3_internal.h"

#if ZENTHAL_SM3_AVX512
#include <cpuid.h>
#endif

using zenthal::opaque32;
using zenthal::rotl32;
using zenthal::store32_be;

static_assert(sizeof(SM3_context) == 104, "SM3_context layout is part of the interface");
static_assert(offsetof(SM3_context, bit_count_lo) == 0, "SM3_context layout");
static_assert(offsetof(SM3_context, bit_count_hi) == 4, "SM3_context layout");
static_assert(offsetof(SM3_context, block) == 8, "SM3_context layout");
static_assert(offsetof(SM3_context, state) == 72, "SM3_context layout");

namespace {

const uint32_t SM3_IV[8] = {
    0x7380166Fu, 0x4914B2B9u, 0x172442D7u, 0xDA8A0600u,
    0xA96F30BCu, 0x163138AAu, 0xE38DEE4Du, 0xB0FB0E4Eu,
};

// Tj <<< (j mod 32) for every round: 0x79CC4519 for rounds 0-15,
// 0x7A879D8A for rounds 16-63.
constexpr uint32_t round_constant(unsigned j) {
    const uint32_t t = j < 16 ? 0x79CC4519u : 0x7A879D8Au;
    const unsigned n = j % 32;
    return n == 0 ? t : (t << n) | (t >> (32 - n));
}

struct RoundConstants {
    uint32_t k[64];
};

constexpr RoundConstants make_round_constants() {
    RoundConstants rc{};
    for (unsigned j = 0; j < 64; ++j) rc.k[j] = round_constant(j);
    return rc;
}

constexpr RoundConstants SM3_K = make_round_constants();

inline uint32_t P0(uint32_t x) { return x ^ (rotl32(x, 9) ^ rotl32(x, 17)); }

// FF1 and GG1 are written so that the operand that arrives last (A in FF,
// E in GG) passes through as few operations as possible: (y | z), (y & z)
// and (y ^ z) come from older words and are ready before it.
inline uint32_t FF0(uint32_t x, uint32_t y, uint32_t z) { return x ^ (y ^ z); }
inline uint32_t FF1(uint32_t x, uint32_t y, uint32_t z) { return (x & (y | z)) | (y & z); }
inline uint32_t GG0(uint32_t x, uint32_t y, uint32_t z) { return x ^ (y ^ z); }
inline uint32_t GG1(uint32_t x, uint32_t y, uint32_t z) { return ((y ^ z) & x) ^ z; }

// Four message words side by side. The expansion runs on these so that it
// overlaps the rounds on the vector unit instead of competing with them for
// the integer one.
typedef uint32_t Vec4 __attribute__((vector_size(16)));

// Lanes picked from two vectors (indices 0-3 the first, 4-7 the second).
// Both compilers have the builtin; GCC before 12 knows it by another name.
#if defined(__clang__) || __GNUC__ >= 12
#define SM3_SHUFFLE(a, b, i0, i1, i2, i3) __builtin_shufflevector(a, b, i0, i1, i2, i3)
#else
#define SM3_SHUFFLE(a, b, i0, i1, i2, i3) __builtin_shuffle(a, b, Vec4{i0, i1, i2, i3})
#endif

inline Vec4 vrotl(Vec4 x, int n) { return (x << n) | (x >> (32 - n)); }
inline Vec4 vP1(Vec4 x) { return x ^ vrotl(x, 15) ^ vrotl(x, 23); }

inline void store4(uint32_t *p, Vec4 x) { std::memcpy(p, &x, 16); }

inline Vec4 load4(const uint32_t *p) {
    Vec4 x;
    std::memcpy(&x, p, 16);
    return x;
}

// Each 32-bit lane from big-endian to native order.
inline Vec4 bswap4(Vec4 x) {
    if (!zenthal::host_is_little_endian()) return x;
    x = (x << 16) | (x >> 16);
    return ((x & 0x00FF00FFu) << 8) | ((x >> 8) & 0x00FF00FFu);
}

// W[j .. j+3], with w = W + j and w3 = W[j-4 .. j-1] (the earlier words
// are read back from W). Lane 3 needs W[j] <<< 15 inside P1, which this
// very step produces: it is left out at first (0 in that lane) and, P1
// being linear, P1(W[j] <<< 15) is XORed in afterwards.
inline Vec4 expand4(const uint32_t *w, Vec4 w3) {
    const Vec4 zero = {0, 0, 0, 0};
    const Vec4 m3 = SM3_SHUFFLE(w3, zero, 1, 2, 3, 4);
    const Vec4 r = vP1(load4(w - 16) ^ load4(w - 9) ^ vrotl(m3, 15)) ^ vrotl(load4(w - 13), 7) ^
                   load4(w - 6);
    const Vec4 first = SM3_SHUFFLE(zero, r, 0, 1, 2, 4);
    return r ^ vP1(vrotl(first, 15));
}

// Compresses `n` consecutive 64-byte blocks into `state`. Written once and
// inlined into each dispatch target, so every instruction set the processor
// offers is used on the same source.
inline __attribute__((always_inline)) void compress_blocks(uint32_t state[8], const uint8_t *p,
                                                           std::size_t n) {
    // The 68 expanded words W, and W'[j] = W[j] ^ W[j+4] for the 64 rounds;
    // the rounds read both as operands of their additions.
    alignas(16) uint32_t W[68];
    alignas(16) uint32_t Wp[64];

    // The chaining value stays in registers from block to block; the copy
    // for the feed-forward goes through memory, written long before it is
    // read back, so no store-to-load forwarding lies on the critical path.
    uint32_t A = state[0], B = state[1], C = state[2], D = state[3];
    uint32_t E = state[4], F = state[5], G = state[6], H = state[7];
    uint32_t V[8];

    for (; n > 0; --n, p += 64) {
        V[0] = A, V[1] = B, V[2] = C, V[3] = D, V[4] = E, V[5] = F, V[6] = G, V[7] = H;
        // The last four words expanded so far; the earlier ones are read back.
        Vec4 last;
        for (int k = 0; k < 4; ++k) {
            std::memcpy(&last, p + 16 * k, 16);
            last = bswap4(last);
            store4(W + 4 * k, last);
        }
        for (int k = 0; k < 12; k += 4) store4(Wp + k, load4(W + k) ^ load4(W + k + 4));

        // One round without moving the eight words: the caller rotates their
        // roles instead, so D and H receive the new A and E, and B and F are
        // rotated in place to become the new C and G.
        //
        // The critical path runs E -> GG -> TT2 -> P0 -> E, and the round is
        // written in that order, so that the processor, which favours the
        // oldest ready instruction, serves it first and fits the rest of the
        // round around it. The barriers keep the additions in the order
        // written, each adding the late operand last: (A <<< 12) + Tj is
        // formed before E arrives, and H + W[j] and D + W'[j] before the
        // Boolean functions of the new words are ready.
#define SM3_ROUND(A, B, C, D, E, F, G, H, j, FF, GG)                             \
    do {                                                                         \
        const uint32_t a12 = rotl32(A, 12);                                      \
        const uint32_t ss1 = rotl32(opaque32(a12 + SM3_K.k[j]) + E, 7);          \
        const uint32_t tt2 = opaque32(GG(E, F, G) + opaque32(H + W[j])) + ss1;   \
        H = P0(tt2);                                                             \
        const uint32_t ss2 = ss1 ^ a12;                                          \
        D = opaque32(FF(A, B, C) + opaque32(D + Wp[j])) + ss2;                   \
        B = rotl32(B, 9);                                                        \
        F = rotl32(F, 19);                                                       \
    } while (0)

    // Four rounds bring the words back to their roles. Each pass also
    // expands the four words that the rounds twelve later need, so that the
    // vector unit works on the message while the integer unit runs rounds.
#define SM3_ROUND4(j, FF, GG)                                                    \
    SM3_ROUND(A, B, C, D, E, F, G, H, (j) + 0, FF, GG);                           \
    SM3_ROUND(D, A, B, C, H, E, F, G, (j) + 1, FF, GG);                           \
    SM3_ROUND(C, D, A, B, G, H, E, F, (j) + 2, FF, GG);                           \
    SM3_ROUND(B, C, D, A, F, G, H, E, (j) + 3, FF, GG)
#define SM3_EXPAND4(j)                                                           \
    do {                                                                         \
        last = expand4(W + (j) + 16, last);                                      \
        store4(W + (j) + 16, last);                                              \
        store4(Wp + (j) + 12, load4(W + (j) + 12) ^ last);                       \
    } while (0)

        // Left as loops of four rounds: unrolled whole, the compilers move
        // message words from the vector registers into the integer ones
        // instead of loading them, which costs more than the loop does.
        unsigned j = 0;
        for (; j < 16; j += 4) {
            SM3_EXPAND4(j);
            SM3_ROUND4(j, FF0, GG0);
        }
        for (; j < 52; j += 4) {
            SM3_EXPAND4(j);
            SM3_ROUND4(j, FF1, GG1);
        }
        for (; j < 64; j += 4) {
            SM3_ROUND4(j, FF1, GG1);
        }
#undef SM3_EXPAND4
#undef SM3_ROUND4
#undef SM3_ROUND

        A ^= V[0], B ^= V[1], C ^= V[2], D ^= V[3];
        E ^= V[4], F ^= V[5], G ^= V[6], H ^= V[7];
    }
    state[0] = A, state[1] = B, state[2] = C, state[3] = D;
    state[4] = E, state[5] = F, state[6] = G, state[7] = H;
    // The message schedule holds the last block's words (for HMAC, the key
    // XOR the pad when the key block is absorbed) and V a chaining value;
    // neither may stay behind on the stack.
    zenthal::secure_wipe(W, sizeof W);
    zenthal::secure_wipe(Wp, sizeof Wp);
    zenthal::secure_wipe(V, sizeof V);
}

#undef SM3_SHUFFLE

}  // namespace

namespace zenthal {

void sm3_compress_portable(uint32_t state[8], const uint8_t *blocks, std::size_t n) {
    compress_blocks(state, blocks, n);
}

#if ZENTHAL_SM3_AVX512
// The same code where AVX-512VL and BMI2 are offered: the expansion's
// rotations become single instructions (vprold) instead of two shifts and an
// OR, and the rounds use three-operand rotations (rorx) and and-not. The
// message expansion then no longer slows the rounds down.
__attribute__((target("bmi,bmi2,avx,avx2,avx512f,avx512vl"))) void sm3_compress_avx512(
    uint32_t state[8], const uint8_t *blocks, std::size_t n) {
    compress_blocks(state, blocks, n);
}

bool sm3_avx512_usable() {
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    if (!(ecx & (1u << 27))) return false;  // OSXSAVE: XGETBV may be used
    // The OS must save the AVX and AVX-512 registers (XCR0 bits 1, 2, 5-7).
    unsigned xcr0_lo, xcr0_hi;
    __asm__("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
    if ((xcr0_lo & 0xE6u) != 0xE6u) return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    // BMI1, AVX2, BMI2, AVX512F, AVX512VL
    const unsigned need = (1u << 3) | (1u << 5) | (1u << 8) | (1u << 16) | (1u << 31);
    return (ebx & need) == need;
}
#endif

}  // namespace zenthal

namespace {

using CompressFn = void (*)(uint32_t *, const uint8_t *, std::size_t);

// The compression chosen for this processor, found on first use. Every
// thread that finds it unset looks at the processor and stores the same
// answer, so a plain relaxed atomic is enough.
std::atomic<CompressFn> g_compress{nullptr};

CompressFn choose_compress() {
#if ZENTHAL_SM3_AVX512
    if (zenthal::sm3_avx512_usable()) return zenthal::sm3_compress_avx512;
#endif
#if ZENTHAL_SM3_ARM_CE
    if (zenthal::sm3_arm_ce_usable()) return zenthal::sm3_compress_arm_ce;
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
