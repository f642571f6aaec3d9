// rdrand_get_bytes against the scripted processor. The fuzzer picks the
// destination's alignment, the length, the processor (vendor, RDRAND flag),
// the state of the support cache and a script of delivering and failing
// RDRAND attempts. An independent model of the fill predicts the result
// code, every byte of the buffer and of the eight-byte-aligned guard in front
// of it, the number of RDRAND attempts and CPUID queries, and the cache
// afterwards. The buffer ends where its allocation ends and the guard's
// first 16 bytes are poisoned, so ASan sees writes past either side.
//
// Input: [alignment (low 3 bits), processor (bits 3-4)] [length 16-bit]
//        [cache state] [script...], one script byte per step: top bit set,
//        a run of (low 4 bits) + 1 failing attempts; clear, one delivering
//        attempt.
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fake_cpu.h"
#include "hwrand/rdrand.h"
#include "fuzz_util.h"

namespace {

using fuzz::Reader;

const size_t kMaxScriptBytes = 48;
const size_t kGuard = 16;
const int kAttemptsPerDraw = 10;

struct Processor {
    const char *vendor;
    uint32_t leaf1_ecx;
    bool intel;
    bool rdrand;
};

// A near-miss vendor string and a cleared flag next to the real thing.
const Processor kProcessors[4] = {
    {"GenuineIntel", 1u << 30 | 1u << 25, true, true},
    {"AuthenticAMD", 1u << 30, false, true},
    {"GenuineIntel", ~(1u << 30), true, false},
    {"GenuineIotel", 1u << 30, false, true},
};

int cache_preset(uint8_t sel) {
    switch (sel & 7) {
        case 4:
            return DRNG_SUPPORTED;
        case 5:
            return DRNG_NO_RDRAND;
        case 6:
            return 0;
        case 7:
            return -1;
        default:
            return DRNG_SUPPORT_UNPROBED;
    }
}

uint8_t fill(size_t i) { return static_cast<uint8_t>(0xA5 ^ (i * 0x3B)); }

// What the processor and the random source should have done, replayed from
// the script. Delivered values are taken from the fake's log in order.
struct Model {
    const Processor &cpu;
    const std::vector<fake_cpu::Attempt> &script;
    const std::vector<uint64_t> &log;
    int cache;
    size_t next = 0;       // next script entry
    size_t delivered = 0;  // next log entry
    int attempts = 0;
    int cpuid_leaf0 = 0;
    int cpuid_leaf1 = 0;

    bool supported() {
        if (cache == DRNG_SUPPORT_UNPROBED) {
            ++cpuid_leaf0;
            if (cpu.intel) ++cpuid_leaf1;
            cache = cpu.intel && cpu.rdrand ? DRNG_SUPPORTED : DRNG_NO_RDRAND;
        }
        return cache == DRNG_SUPPORTED;
    }

    int draw(uint64_t *value) {
        if (!supported()) return DRNG_NO_RDRAND;
        for (int i = 0; i < kAttemptsPerDraw; ++i) {
            ++attempts;
            if (next < script.size() && !script[next].delivered) {
                *value = script[next++].value;
                continue;
            }
            if (next < script.size()) ++next;
            CHECK(delivered < log.size());
            *value = log[delivered++];
            return DRNG_OK;
        }
        return DRNG_NOT_READY;
    }
};

void store_low_bytes(uint8_t *p, uint64_t word, size_t len) {
    for (size_t i = 0; i < len; ++i, word >>= 8) p[i] = static_cast<uint8_t>(word);
}

// Head up to the first eight-byte boundary (or all of a shorter request)
// from one draw, whole words from one draw each, tail from one more draw;
// the first failing draw ends the fill. A failed middle word holds what the
// last failing attempt left.
int model_fill(Model &m, uintptr_t address, size_t n, uint8_t *expected) {
    size_t head = address % 8 ? 8 - address % 8 : 0;
    if (head > n) head = n;
    const size_t words = (n - head) / 8;
    const size_t tail = (n - head) % 8;
    uint64_t v = 0;
    int rc;
    if (head > 0) {
        if ((rc = m.draw(&v)) != DRNG_OK) return rc;
        store_low_bytes(expected, v, head);
    }
    for (size_t i = 0; i < words; ++i) {
        rc = m.draw(&v);
        if (rc == DRNG_NO_RDRAND) return rc;
        std::memcpy(expected + head + 8 * i, &v, 8);
        if (rc != DRNG_OK) return rc;
    }
    if (tail > 0) {
        if ((rc = m.draw(&v)) != DRNG_OK) return rc;
        store_low_bytes(expected + head + 8 * words, v, tail);
    }
    return DRNG_OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader r{data, size};
    const uint8_t b0 = r.u8();
    const size_t offset = b0 & 7u;
    const Processor &cpu = kProcessors[(b0 >> 3) & 3u];
    const size_t n = r.u16() & 0x3FFu;
    const int cache = cache_preset(r.u8());

    fake_cpu::reset();
    fake_cpu::set_vendor(cpu.vendor);
    fake_cpu::set_leaf1_ecx(cpu.leaf1_ecx);
    rdrand_support_cache = cache;

    std::vector<fake_cpu::Attempt> script;
    for (size_t i = 0; i < kMaxScriptBytes && r.n > 0; ++i) {
        const uint8_t s = r.u8();
        if (s & 0x80u) {
            const uint64_t value = 0x9E3779B97F4A7C15ull * (s + 1u + i);
            for (unsigned k = 0; k <= (s & 0x0Fu); ++k) script.push_back({false, value});
        } else {
            script.push_back({true, 0xD1B54A32D192ED03ull * (s + 1u + i)});
        }
    }
    for (const auto &a : script) fake_cpu::script(a);

    // Guard, then the n bytes up to the allocation's end.
    const size_t total = kGuard + offset + n;
    uint8_t *const base = new uint8_t[total];
    for (size_t i = 0; i < total; ++i) base[i] = fill(i);
    uint8_t *const dest = base + kGuard + offset;
    ASAN_POISON_MEMORY_REGION(base, kGuard);
    const int rc = rdrand_get_bytes(static_cast<uint32_t>(n), dest);
    ASAN_UNPOISON_MEMORY_REGION(base, kGuard);

    std::vector<uint8_t> expected(total);
    for (size_t i = 0; i < total; ++i) expected[i] = fill(i);
    Model m{cpu, script, fake_cpu::delivered(), cache};
    const int want = model_fill(m, reinterpret_cast<uintptr_t>(dest), n, expected.data() + kGuard + offset);

    CHECK(rc == want);
    CHECK(std::memcmp(base, expected.data(), total) == 0);
    CHECK(m.delivered == fake_cpu::delivered().size());
    CHECK(fake_cpu::script_left() == script.size() - m.next);
    CHECK(fake_cpu::rdrand_calls(64) == m.attempts);
    CHECK(fake_cpu::rdrand_calls(16) == 0 && fake_cpu::rdrand_calls(32) == 0);
    CHECK(fake_cpu::cpuid_calls(0) == m.cpuid_leaf0);
    CHECK(fake_cpu::cpuid_calls(1) == m.cpuid_leaf1);
    CHECK(fake_cpu::cpuid_calls_total() == m.cpuid_leaf0 + m.cpuid_leaf1);
    CHECK(rdrand_support_cache == m.cache);

    delete[] base;
    return 0;
}
