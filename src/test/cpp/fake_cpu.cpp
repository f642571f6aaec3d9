#include "fake_cpu.h"

#include <deque>

#include "hwrand/rdrand.h"
#include "hwrand/rdrand_cpu.h"

namespace fake_cpu {
namespace {

struct State {
    uint32_t vendor[3];  // EBX, EDX, ECX
    uint32_t leaf1_ecx;
    std::deque<Attempt> script;
    uint64_t sequence;
    int cpuid_leaf0;
    int cpuid_leaf1;
    int cpuid_other;
    int rdrand16;
    int rdrand32;
    int rdrand64;
    std::vector<uint64_t> delivered;
};

State &state() {
    static State s;
    return s;
}

uint32_t load32_le(const char *p) {
    const unsigned char *b = reinterpret_cast<const unsigned char *>(p);
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

// splitmix64: distinct, byte-varied values so misplaced bytes show.
uint64_t next_sequence_value(uint64_t &s) {
    uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

int attempt(uint64_t mask, uint64_t *stored) {
    State &s = state();
    Attempt a;
    if (s.script.empty()) {
        a = {true, next_sequence_value(s.sequence)};
    } else {
        a = s.script.front();
        s.script.pop_front();
    }
    *stored = a.value & mask;
    if (a.delivered) s.delivered.push_back(*stored);
    return a.delivered ? 1 : 0;
}

}  // namespace

void reset() {
    state() = State();
    set_vendor("GenuineIntel");
    set_leaf1_ecx(1u << 30);
    rdrand_support_cache = DRNG_SUPPORT_UNPROBED;
}

void set_vendor(const char *vendor) {
    State &s = state();
    s.vendor[0] = load32_le(vendor);
    s.vendor[1] = load32_le(vendor + 4);
    s.vendor[2] = load32_le(vendor + 8);
}

void set_leaf1_ecx(uint32_t ecx) { state().leaf1_ecx = ecx; }

void script(Attempt a) { state().script.push_back(a); }
void script_value(uint64_t value) { script({true, value}); }

void script_failures(int count, uint64_t value) {
    for (int i = 0; i < count; ++i) script({false, value});
}

size_t script_left() { return state().script.size(); }

int cpuid_calls(uint32_t leaf) {
    return leaf == 0 ? state().cpuid_leaf0 : leaf == 1 ? state().cpuid_leaf1 : state().cpuid_other;
}

int cpuid_calls_total() { return state().cpuid_leaf0 + state().cpuid_leaf1 + state().cpuid_other; }

int rdrand_calls(int bits) {
    return bits == 16 ? state().rdrand16 : bits == 32 ? state().rdrand32 : state().rdrand64;
}

int rdrand_calls_total() { return state().rdrand16 + state().rdrand32 + state().rdrand64; }

const std::vector<uint64_t> &delivered() { return state().delivered; }

}  // namespace fake_cpu

void hwrand_cpuid(uint32_t leaf, uint32_t regs[4]) {
    fake_cpu::State &s = fake_cpu::state();
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
    if (leaf == 0) {
        ++s.cpuid_leaf0;
        // EAX (highest leaf) stays 0: the probe must not consult it.
        regs[1] = s.vendor[0];
        regs[3] = s.vendor[1];
        regs[2] = s.vendor[2];
    } else if (leaf == 1) {
        ++s.cpuid_leaf1;
        regs[2] = s.leaf1_ecx;
    } else {
        ++s.cpuid_other;
    }
}

int hwrand_rdrand16(uint16_t *x) {
    ++fake_cpu::state().rdrand16;
    uint64_t v;
    const int ok = fake_cpu::attempt(0xffffu, &v);
    *x = (uint16_t)v;
    return ok;
}

int hwrand_rdrand32(uint32_t *x) {
    ++fake_cpu::state().rdrand32;
    uint64_t v;
    const int ok = fake_cpu::attempt(0xffffffffu, &v);
    *x = (uint32_t)v;
    return ok;
}

int hwrand_rdrand64(uint64_t *x) {
    ++fake_cpu::state().rdrand64;
    return fake_cpu::attempt(~0ull, x);
}
