// SM3 message digest (GB/T 32905-2016).
#include "sm3.h"

#include <cstddef>
#include <cstring>

#include "byteorder.h"

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

inline uint32_t P0(uint32_t x) { return x ^ rotl32(x, 9) ^ rotl32(x, 17); }

inline uint32_t FF0(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t FF1(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | ((x | y) & z); }
inline uint32_t GG0(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t GG1(uint32_t x, uint32_t y, uint32_t z) { return ((y ^ z) & x) ^ z; }

// Four message words side by side. The expansion runs on these so that it
// overlaps the rounds on the integer unit instead of competing with them.
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

// Each 32-bit lane from big-endian to native order.
inline Vec4 bswap4(Vec4 x) {
    if (!zenthal::host_is_little_endian()) return x;
    x = (x << 16) | (x >> 16);
    return ((x & 0x00FF00FFu) << 8) | ((x >> 8) & 0x00FF00FFu);
}

inline Vec4 load4(const uint32_t *p) {
    Vec4 x;
    std::memcpy(&x, p, 16);
    return x;
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

#undef SM3_SHUFFLE

}  // namespace

void SM3_Transform(const uint8_t block[64], uint32_t state[8]) {
    // The 68 expanded words, stored where the rounds read them as operands
    // of their additions.
    alignas(16) uint32_t W[68];

    // The last four words expanded so far; the earlier ones are read back.
    Vec4 last;
    for (int k = 0; k < 4; ++k) {
        std::memcpy(&last, block + 16 * k, 16);
        last = bswap4(last);
        store4(W + 4 * k, last);
    }

    uint32_t A = state[0], B = state[1], C = state[2], D = state[3];
    uint32_t E = state[4], F = state[5], G = state[6], H = state[7];

    // One round without moving the eight words: the caller rotates their
    // roles instead, so D and H receive the new A and E, and B and F are
    // rotated in place to become the new C and G.
#define SM3_ROUND(A, B, C, D, E, F, G, H, j, FF, GG)                   \
    do {                                                               \
        const uint32_t a12 = rotl32(A, 12);                            \
        const uint32_t ss1 = rotl32(a12 + E + SM3_K.k[j], 7);          \
        const uint32_t ss2 = ss1 ^ a12;                                \
        const uint32_t tt1 = FF(A, B, C) + D + ss2 + (W[j] ^ W[(j) + 4]); \
        const uint32_t tt2 = GG(E, F, G) + H + ss1 + W[j];             \
        B = rotl32(B, 9);                                              \
        D = tt1;                                                       \
        F = rotl32(F, 19);                                             \
        H = P0(tt2);                                                   \
    } while (0)

    // Four rounds bring the words back to their roles. Each pass also
    // expands the four words that the rounds twelve later need, so that the
    // vector unit works on the message while the integer unit runs rounds.
#define SM3_ROUND4(j, FF, GG)                                          \
    SM3_ROUND(A, B, C, D, E, F, G, H, (j) + 0, FF, GG);                 \
    SM3_ROUND(D, A, B, C, H, E, F, G, (j) + 1, FF, GG);                 \
    SM3_ROUND(C, D, A, B, G, H, E, F, (j) + 2, FF, GG);                 \
    SM3_ROUND(B, C, D, A, F, G, H, E, (j) + 3, FF, GG)
#define SM3_EXPAND4(j)                                                 \
    do {                                                               \
        last = expand4(W + (j) + 16, last);                            \
        store4(W + (j) + 16, last);                                    \
    } while (0)

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

    state[0] ^= A;
    state[1] ^= B;
    state[2] ^= C;
    state[3] ^= D;
    state[4] ^= E;
    state[5] ^= F;
    state[6] ^= G;
    state[7] ^= H;
}

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

    // Whole runs are copied into the block rather than byte by byte; the
    // context ends up exactly as if every byte had passed through it.
    while (len > 0) {
        uint32_t take = 64 - p;
        if (take > len) take = len;
        std::memcpy(ctx->block + p, in, take);
        in += take;
        len -= take;
        p += take;
        if (p == 64) {
            SM3_Transform(ctx->block, ctx->state);
            p = 0;
        }
    }
}

void SM3_Final(SM3_context *ctx, uint8_t *out, uint32_t digest_len) {
    const uint32_t p = (ctx->bit_count_lo >> 3) % 64;
    ctx->block[p] = 0x80;
    if (p <= 55) {
        std::memset(ctx->block + p + 1, 0, 55 - p);
    } else {
        std::memset(ctx->block + p + 1, 0, 63 - p);
        SM3_Transform(ctx->block, ctx->state);
        std::memset(ctx->block, 0, 64);
    }
    store32_be(ctx->block + 56, ctx->bit_count_hi);
    store32_be(ctx->block + 60, ctx->bit_count_lo);
    SM3_Transform(ctx->block, ctx->state);

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
