// A scripted processor for the random source's tests. fake_cpu.cpp defines
// the functions of hwrand/rdrand_cpu.h and is linked in place of the real
// rdrand_cpu.cpp. Not thread-safe; one test drives it at a time.
#ifndef ZENTHAL_TEST_FAKE_CPU_H
#define ZENTHAL_TEST_FAKE_CPU_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace fake_cpu {

// One scripted RDRAND attempt. A narrower attempt stores the low bits.
struct Attempt {
    bool delivered;
    uint64_t value;  // stored into *x whether delivered or not
};

// GenuineIntel, leaf-1 ECX = bit 30 only, empty script, counters and log
// cleared, and rdrand_support_cache back to unprobed.
void reset();

// Exactly 12 characters, in CPUID order: EBX, EDX, ECX.
void set_vendor(const char *vendor);
void set_leaf1_ecx(uint32_t ecx);

// Attempts are consumed in order, across all widths. Once the script is
// empty every attempt delivers the next value of a fixed sequence.
void script(Attempt a);
void script_value(uint64_t value);
void script_failures(int count, uint64_t value = 0);
size_t script_left();

int cpuid_calls(uint32_t leaf);
int cpuid_calls_total();
int rdrand_calls(int bits);  // 16, 32 or 64
int rdrand_calls_total();

// Values of delivering attempts in order, truncated to their width.
const std::vector<uint64_t> &delivered();

}  // namespace fake_cpu

#endif
