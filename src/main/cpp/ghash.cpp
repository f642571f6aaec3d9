// The portable GHASH and the choice among the forms.
//
// The portable form multiplies bit by bit: for each of the 128 bits of X,
// add V to the product under a mask made from that bit, then multiply V by x
// (a right shift in GCM's bit order, folding the bit that drops off back in
// as the reduction polynomial 0xE1 || 0^120, again under a mask). No table,
// no branch and no address depends on X or H.
#include "ghash.h"

#include <atomic>

#include "util/byteorder.h"
#include "util/ct.h"
#include "util/cpu.h"

namespace zenthal {

void ghash_portable(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks) {
    const uint64_t h0 = load64_be(h), h1 = load64_be(h + 8);
    uint64_t x0 = load64_be(x), x1 = load64_be(x + 8);
    for (std::size_t b = 0; b < nblocks; ++b) {
        x0 ^= load64_be(in + 16 * b);
        x1 ^= load64_be(in + 16 * b + 8);
        uint64_t z0 = 0, z1 = 0, v0 = h0, v1 = h1;
        for (int i = 0; i < 128; ++i) {
            const uint64_t word = i < 64 ? x0 : x1;  // i is public
            const uint64_t m = ct_mask64((word >> (63 - (i & 63))) & 1);
            z0 ^= v0 & m;
            z1 ^= v1 & m;
            const uint64_t carry = ct_mask64(v1 & 1);
            v1 = (v1 >> 1) | (v0 << 63);
            v0 = (v0 >> 1) ^ (carry & 0xE100000000000000ull);
        }
        x0 = z0;
        x1 = z1;
    }
    store64_be(x, x0);
    store64_be(x + 8, x1);
}

GhashFn ghash_vclmul_form() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    const CpuFeatures &c = cpu_features();
    if (c.avx2 && c.pclmulqdq && c.ssse3 && c.vpclmulqdq) return ghash_vclmul;
#endif
    return nullptr;
}

GhashFn ghash_clmul_form() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    const CpuFeatures &c = cpu_features();
    if (c.pclmulqdq && c.ssse3) return ghash_clmul;
#endif
    return nullptr;
}

GhashFn ghash_pmull_form() {
#if defined(__aarch64__) && (defined(__GNUC__) || defined(__clang__))
    if (cpu_features().pmull) return ghash_pmull;
#endif
    return nullptr;
}

namespace {

// Every thread that finds the choice unset looks at the processor and stores
// the same answer, so a relaxed atomic is enough.
std::atomic<GhashFn> g_ghash{nullptr};

GhashFn choose() {
    if (GhashFn f = ghash_vclmul_form()) return f;
    if (GhashFn f = ghash_clmul_form()) return f;
    if (GhashFn f = ghash_pmull_form()) return f;
    return ghash_portable;
}

}  // namespace

void ghash_blocks(uint8_t x[16], const uint8_t h[16], const uint8_t *in, std::size_t nblocks) {
    GhashFn f = g_ghash.load(std::memory_order_relaxed);
    if (f == nullptr) {
        f = choose();
        g_ghash.store(f, std::memory_order_relaxed);
    }
    f(x, h, in, nblocks);
}

}  // namespace zenthal
