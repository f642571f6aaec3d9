// The real processor behind rdrand_cpu.h. The library is built for any
// x86-64, so RDRAND is enabled per function rather than for the whole
// build; it only runs after CPUID has reported it.
#include "rdrand_cpu.h"

#if defined(__x86_64__) || defined(_M_X64)

#include <cpuid.h>
#include <immintrin.h>

void hwrand_cpuid(uint32_t leaf, uint32_t regs[4]) {
    unsigned int eax, ebx, ecx, edx;
    __cpuid_count(leaf, 0, eax, ebx, ecx, edx);
    regs[0] = eax;
    regs[1] = ebx;
    regs[2] = ecx;
    regs[3] = edx;
}

// The instruction clears its register when it delivers nothing, and that
// zero is stored like a value.
__attribute__((target("rdrnd"))) int hwrand_rdrand16(uint16_t *x) {
    unsigned short v;
    const int ok = _rdrand16_step(&v);
    *x = v;
    return ok;
}

__attribute__((target("rdrnd"))) int hwrand_rdrand32(uint32_t *x) {
    unsigned int v;
    const int ok = _rdrand32_step(&v);
    *x = v;
    return ok;
}

__attribute__((target("rdrnd"))) int hwrand_rdrand64(uint64_t *x) {
    unsigned long long v;
    const int ok = _rdrand64_step(&v);
    *x = v;
    return ok;
}

#else

// No x86-64: a zero vendor string never matches, so the draws below are
// never reached through the support check.
void hwrand_cpuid(uint32_t, uint32_t regs[4]) { regs[0] = regs[1] = regs[2] = regs[3] = 0; }

int hwrand_rdrand16(uint16_t *x) {
    *x = 0;
    return 0;
}

int hwrand_rdrand32(uint32_t *x) {
    *x = 0;
    return 0;
}

int hwrand_rdrand64(uint64_t *x) {
    *x = 0;
    return 0;
}

#endif
