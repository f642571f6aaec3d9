// The one processor probe. The record is built once, under the guard of a
// function-local static, and only read afterwards.
#include "util/cpu.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#define ZENTHAL_CPU_X86 1
#elif defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#define ZENTHAL_CPU_ARM 1
#elif defined(__aarch64__) && defined(__APPLE__)
#define ZENTHAL_CPU_APPLE_ARM 1
#endif

namespace zenthal {
namespace {

constexpr bool bit(unsigned word, unsigned n) { return (word >> n & 1u) != 0; }

CpuFeatures probe() {
    CpuFeatures f{};
#if defined(ZENTHAL_CPU_X86)
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    const unsigned c1 = c;
    unsigned xcr0 = 0;
    if (bit(c1, 27)) {  // OSXSAVE: XGETBV may be used
        unsigned hi;
        __asm__("xgetbv" : "=a"(xcr0), "=d"(hi) : "c"(0));
    }
    unsigned b7 = 0, c7 = 0;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
        b7 = b;
        c7 = c;
    }
    const bool ymm = (xcr0 & 0x6u) == 0x6u;    // SSE and AVX state
    const bool zmm = (xcr0 & 0xE6u) == 0xE6u;  // and opmask, upper ZMM, ZMM16-31
    f.ssse3 = bit(c1, 9);
    f.pclmulqdq = bit(c1, 1);
    f.aesni = bit(c1, 25);
    f.bmi1 = bit(b7, 3);
    f.bmi2 = bit(b7, 8);
    f.adx = bit(b7, 19);
    f.avx = ymm && bit(c1, 28);
    f.avx2 = f.avx && bit(b7, 5);
    f.avx512f = zmm && f.avx2 && bit(b7, 16);
    f.avx512bw = f.avx512f && bit(b7, 30);
    f.avx512vl = f.avx512f && bit(b7, 31);
    f.gfni = bit(c7, 8);
    f.vaes = bit(c7, 9);
    f.vpclmulqdq = bit(c7, 10);
#elif defined(ZENTHAL_CPU_ARM)
    const unsigned long hw = getauxval(AT_HWCAP);
    f.neon = (hw & (1ul << 1)) != 0;   // HWCAP_ASIMD
    f.pmull = (hw & (1ul << 4)) != 0;  // HWCAP_PMULL
    f.sm3 = (hw & (1ul << 18)) != 0;   // HWCAP_SM3
    f.sm4 = (hw & (1ul << 19)) != 0;   // HWCAP_SM4
#elif defined(ZENTHAL_CPU_APPLE_ARM)
    // Every Apple aarch64 processor has NEON and PMULL, and none SM3 or SM4.
    f.neon = true;
    f.pmull = true;
#endif
    return f;
}

}  // namespace

const CpuFeatures &cpu_features() {
    static const CpuFeatures features = probe();
    return features;
}

}  // namespace zenthal
