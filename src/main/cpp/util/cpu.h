// What the processor offers, probed once for the whole library: CPUID and
// XGETBV on x86-64, the kernel's HWCAP on aarch64 Linux. The SM2, SM3, SM4
// and GHASH choices read this record; the random source keeps its own probe
// behind its test seam. Internal to the library.
//
// An instruction set counts as offered only when the operating system also
// saves the registers it uses (XCR0), so a form chosen here never faults.
#ifndef ZENTHAL_UTIL_CPU_H
#define ZENTHAL_UTIL_CPU_H

namespace zenthal {

struct CpuFeatures {
    // x86-64
    bool ssse3;
    bool pclmulqdq;
    bool aesni;
    bool bmi1;
    bool bmi2;
    bool adx;
    bool avx;      // AVX with the YMM state saved
    bool avx2;     // AVX2 with the YMM state saved
    bool avx512f;  // AVX512F with the opmask and ZMM state saved
    bool avx512bw;
    bool avx512vl;
    bool gfni;
    bool vaes;
    bool vpclmulqdq;
    // aarch64
    bool neon;
    bool pmull;
    bool sm3;
    bool sm4;
};

// The record for this processor, read on first use and the same for every
// caller after.
const CpuFeatures &cpu_features();

}  // namespace zenthal

#endif
