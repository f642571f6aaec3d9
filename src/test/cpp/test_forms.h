// What the processor offers, as the tests read it themselves, and the SM4
// forms the test build holds. A test that ran only the forms the library
// says it offers would stay green if the library's own probe hid one; so
// the tests read CPUID and XGETBV (x86-64) or HWCAP (aarch64 Linux) here,
// apart from the library's probe, and require the library to offer every
// form whose instructions this reading finds. A form may be left out only
// when this reading shows what it needs is missing.
//
// Besides the library's forms, a test build on x86-64 with SIMDe holds the
// GFNI forms built a second time over an emulation of their instructions
// (ZENTHAL_TEST_EMULATED_FORMS; see x86_emulated.h): "gfni-avx2-emulated"
// and "gfni-avx512-emulated", which need AVX2 only. The library never holds
// them; the tests reach them through this header alone.
#ifndef ZENTHAL_TEST_FORMS_H
#define ZENTHAL_TEST_FORMS_H

#include <cstring>
#include <string>
#include <vector>

#include "forms/sm4_forms.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#define ZENTHAL_TEST_HOST_X86 1
#elif defined(__aarch64__) && defined(__linux__)
#include <sys/auxv.h>
#define ZENTHAL_TEST_HOST_ARM 1
#elif defined(__aarch64__) && defined(__APPLE__)
#define ZENTHAL_TEST_HOST_APPLE_ARM 1
#endif

#if defined(ZENTHAL_TEST_EMULATED_FORMS)
namespace zenthal {
extern const Sm4Form SM4_FORM_GFNI_AVX2_EMULATED;
extern const Sm4Form SM4_FORM_GFNI_AVX512_EMULATED;
}  // namespace zenthal
#endif

namespace test_forms {

struct Host {
    // x86-64; the vector sets only where the OS saves their registers
    bool ssse3, pclmulqdq, aesni, bmi1, bmi2, adx, avx2, avx512f, avx512bw, avx512vl, gfni, vaes, vpclmulqdq;
    // aarch64
    bool neon, pmull, sm3, sm4;
};

inline Host read_host() {
    Host h{};
#if defined(ZENTHAL_TEST_HOST_X86)
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid(0, a, b, c, d);
    const unsigned top = a;
    __cpuid(1, a, b, c, d);
    const unsigned ecx1 = c;
    unsigned ebx7 = 0, ecx7 = 0;
    if (top >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        ebx7 = b;
        ecx7 = c;
    }
    auto has = [](unsigned word, int n) { return (word >> n & 1u) != 0; };
    // XCR0: which register files the OS saves on a context switch.
    unsigned xcr0 = 0, xcr0_hi = 0;
    if (has(ecx1, 27)) __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0_hi) : "c"(0));
    const bool ymm_saved = (xcr0 & 0x06u) == 0x06u;
    const bool zmm_saved = (xcr0 & 0xE6u) == 0xE6u;
    h.ssse3 = has(ecx1, 9);
    h.pclmulqdq = has(ecx1, 1);
    h.aesni = has(ecx1, 25);
    h.bmi1 = has(ebx7, 3);
    h.bmi2 = has(ebx7, 8);
    h.adx = has(ebx7, 19);
    h.avx2 = ymm_saved && has(ecx1, 28) && has(ebx7, 5);
    h.avx512f = zmm_saved && h.avx2 && has(ebx7, 16);
    h.avx512bw = h.avx512f && has(ebx7, 30);
    h.avx512vl = h.avx512f && has(ebx7, 31);
    h.gfni = has(ecx7, 8);
    h.vaes = has(ecx7, 9);
    h.vpclmulqdq = has(ecx7, 10);
#elif defined(ZENTHAL_TEST_HOST_ARM)
    const unsigned long hw = getauxval(AT_HWCAP);
    h.neon = (hw >> 1 & 1) != 0;   // ASIMD
    h.pmull = (hw >> 4 & 1) != 0;  // PMULL
    h.sm3 = (hw >> 18 & 1) != 0;
    h.sm4 = (hw >> 19 & 1) != 0;
#elif defined(ZENTHAL_TEST_HOST_APPLE_ARM)
    h.neon = true;
    h.pmull = true;
#endif
    return h;
}

inline const Host &host() {
    static const Host h = read_host();
    return h;
}

// What the GHASH and SM3 forms need, by this reading.
inline bool host_runs_ghash_vclmul() {
    const Host &h = host();
    return h.vpclmulqdq && h.avx2 && h.pclmulqdq && h.ssse3;
}
inline bool host_runs_ghash_clmul() { return host().pclmulqdq && host().ssse3; }
inline bool host_runs_ghash_pmull() { return host().pmull; }
inline bool host_runs_sm3_avx512() {
    const Host &h = host();
    return h.avx512f && h.avx512vl && h.bmi1 && h.bmi2;
}
inline bool host_runs_sm3_arm_ce() { return host().sm3; }

// Every SM4 form name the test build knows: the library's, then the emulated.
inline std::vector<const char *> sm4_form_names() {
    std::vector<const char *> names;
    for (const char *const *n = zenthal::SM4_FORM_NAMES; *n != nullptr; ++n) names.push_back(*n);
#if defined(ZENTHAL_TEST_EMULATED_FORMS)
    names.push_back("gfni-avx2-emulated");
    names.push_back("gfni-avx512-emulated");
#endif
    return names;
}

// Whether this processor has what the SM4 form `name` runs on; `known` is
// false for a name the test build does not know.
inline bool host_runs_sm4(const char *name, bool *known) {
    const Host &h = host();
    const std::string n = name;
    *known = true;
    if (n == "gfni-avx512") return h.gfni && h.avx512f && h.avx512bw && h.avx512vl;
    if (n == "gfni-avx2") return h.gfni && h.avx2;
    if (n == "vaes-avx2") return h.vaes && h.aesni && h.avx2;
    if (n == "aesni-avx2") return h.aesni && h.avx2;
    if (n == "sm4e") return h.sm4;
    if (n == "neon") return h.neon;
    if (n == "table") return true;
#if defined(ZENTHAL_TEST_EMULATED_FORMS)
    if (n == "gfni-avx2-emulated" || n == "gfni-avx512-emulated") return h.avx2;
#endif
    *known = false;
    return false;
}

// Whether this processor has what the SM2 form `name` runs on; `known` is
// false for a name the test build does not know.
inline bool host_runs_sm2(const char *name, bool *known) {
    const std::string n = name;
    *known = true;
    if (n == "x86-adx") return host().bmi2 && host().adx && host().avx2;
    if (n == "portable") return true;
    *known = false;
    return false;
}

enum class Found {
    runs,        // `form` is set
    host_lacks,  // this processor lacks what the form needs: the one way to leave it out
    unknown,     // no form of that name: an error
    disagrees,   // the library offers it and the processor lacks it, or the other way round: an error
};

struct Lookup {
    Found found;
    const zenthal::Sm4Form *form;
    std::string why;  // for every outcome but `runs`
};

// The SM4 form `name` of the test build, judged against this reading.
inline Lookup find_sm4(const char *name) {
    bool known = false;
    const bool host_has = host_runs_sm4(name, &known);
    if (!known) return {Found::unknown, nullptr, std::string("no SM4 form is named ") + name};
#if defined(ZENTHAL_TEST_EMULATED_FORMS)
    const zenthal::Sm4Form *emulated = nullptr;
    if (std::strcmp(name, "gfni-avx2-emulated") == 0) emulated = &zenthal::SM4_FORM_GFNI_AVX2_EMULATED;
    if (std::strcmp(name, "gfni-avx512-emulated") == 0) emulated = &zenthal::SM4_FORM_GFNI_AVX512_EMULATED;
    if (emulated != nullptr) {
        if (!host_has) return {Found::host_lacks, nullptr, std::string("this processor lacks the SM4 form ") + name +
                                                               " (the emulated forms need AVX2)"};
        return {Found::runs, emulated, ""};
    }
#endif
    const zenthal::Sm4Form *offered = zenthal::sm4_form_named(name);
    if (host_has && offered == nullptr)
        return {Found::disagrees, nullptr,
                std::string("the processor has the instructions of SM4 form ") + name +
                    ", but the library does not offer it: its processor probe hides them"};
    if (!host_has && offered != nullptr)
        return {Found::disagrees, nullptr,
                std::string("the library offers SM4 form ") + name + " on a processor without its instructions"};
    if (!host_has) return {Found::host_lacks, nullptr, std::string("this processor lacks the SM4 form ") + name};
    return {Found::runs, offered, ""};
}

}  // namespace test_forms

#endif
