// The processor seam of the random source: the only place that executes
// CPUID and RDRAND. The product links rdrand_cpu.cpp; the tests link a
// scripted processor with the same functions instead. Not exported.
#ifndef ZENTHAL_RDRAND_CPU_H
#define ZENTHAL_RDRAND_CPU_H

#include <stdint.h>

// Executes CPUID with EAX = leaf, ECX = 0; regs receives EAX, EBX, ECX, EDX.
void hwrand_cpuid(uint32_t leaf, uint32_t regs[4]);

// One RDRAND attempt into *x (stored whether or not it delivered);
// returns 1 when the carry flag reported a value, else 0.
int hwrand_rdrand16(uint16_t *x);
int hwrand_rdrand32(uint32_t *x);
int hwrand_rdrand64(uint64_t *x);

#endif
