/* SM4 block cipher (GB/T 32907-2016): key schedule and the exported
 * single-block transforms. The tables and the rounds are in sm4_core.h,
 * shared with the modes. Key material held in memory of the function's own
 * (the key-schedule ring, the one-shot functions' round keys) is wiped
 * before it returns. */
#include "sm4.h"

#include <stdint.h>
#include <string.h>

#include <atomic>

#include "sm4_blocks.h"
#include "sm4_core.h"
#include "sm4_forms.h"

#if defined(ZENTHAL_SM4_X86)
#include <cpuid.h>
#endif
#if defined(ZENTHAL_SM4_ARM)
#include <sys/auxv.h>
#endif

namespace {

using zenthal::load32_be;
using zenthal::rotl32;
using zenthal::secure_wipe;
using zenthal::sm4_crypt;
using zenthal::sm4_rounds2;
using zenthal::sm4_rounds_pair;
using zenthal::store32_be;
using zenthal::sm4_tau;

/* CK: the key-schedule constants CK_0..CK_31 of GB/T 32907; byte j of CK_i,
 * counted from the most significant byte, is (4i + j) * 7 mod 256. */
static const uint32_t CK[32] = {
    0x00070E15, 0x1C232A31, 0x383F464D, 0x545B6269,
    0x70777E85, 0x8C939AA1, 0xA8AFB6BD, 0xC4CBD2D9,
    0xE0E7EEF5, 0xFC030A11, 0x181F262D, 0x343B4249,
    0x50575E65, 0x6C737A81, 0x888F969D, 0xA4ABB2B9,
    0xC0C7CED5, 0xDCE3EAF1, 0xF8FF060D, 0x141B2229,
    0x30373E45, 0x4C535A61, 0x686F767D, 0x848B9299,
    0xA0A7AEB5, 0xBCC3CAD1, 0xD8DFE6ED, 0xF4FB0209,
    0x10171E25, 0x2C333A41, 0x484F565D, 0x646B7279
};

/* FK: the system parameters FK_0..FK_3 of GB/T 32907, XORed into the four
 * key words at the start of the key schedule. */
static const uint32_t FK[4] = {0xA3B1BAC6, 0x56AA3350, 0x677D9197, 0xB27022DC};

/* T'(A) = L'(tau(A)) of the key schedule, L'(B) = B ^ (B <<< 13) ^ (B <<< 23). */
static inline uint32_t sm4_t_key(uint32_t a) {
    const uint32_t b = sm4_tau(a);
    return b ^ rotl32(b, 13) ^ rotl32(b, 23);
}

void table_set_key(const uint8_t key[16], SM4_round_keys *rk) {
    /* Ring of the last four K words: slot i mod 4 holds K_i and receives
     * K_{i+4} = rk[i]. All key bytes are read before rk[0] is written. */
    uint32_t k[4];
    k[0] = load32_be(key) ^ FK[0];
    k[1] = load32_be(key + 4) ^ FK[1];
    k[2] = load32_be(key + 8) ^ FK[2];
    k[3] = load32_be(key + 12) ^ FK[3];
    for (unsigned i = 0; i < 32; ++i) {
        const uint32_t next =
            k[i & 3] ^ sm4_t_key(k[(i + 1) & 3] ^ k[(i + 2) & 3] ^ k[(i + 3) & 3] ^ CK[i]);
        k[i & 3] = next;
        rk->rk[i] = next;
    }
    secure_wipe(k, sizeof k);
}

/* Blocks two at a time, interleaved; the last odd one alone. */
void table_blocks(const uint32_t rk[32], const uint8_t *in, uint8_t *out, std::size_t n,
                  bool decrypt) {
    for (; n >= 2; n -= 2, in += 32, out += 32) {
        uint32_t a0 = load32_be(in), a1 = load32_be(in + 4), a2 = load32_be(in + 8),
                 a3 = load32_be(in + 12);
        uint32_t b0 = load32_be(in + 16), b1 = load32_be(in + 20), b2 = load32_be(in + 24),
                 b3 = load32_be(in + 28);
        if (decrypt)
            sm4_rounds2<true>(a0, a1, a2, a3, b0, b1, b2, b3, rk);
        else
            sm4_rounds2<false>(a0, a1, a2, a3, b0, b1, b2, b3, rk);
        const uint32_t w[8] = {a0, a1, a2, a3, b0, b1, b2, b3};
        for (int j = 0; j < 8; ++j) store32_be(out + 4 * j, w[j]);
    }
    if (n == 1) {
        if (decrypt)
            sm4_crypt<true>(in, out, rk);
        else
            sm4_crypt<false>(in, out, rk);
    }
}

void table_pair(const zenthal::Sm4Lanes *lanes, uint8_t a[16], uint8_t b[16]) {
    uint32_t a0 = load32_be(a), a1 = load32_be(a + 4), a2 = load32_be(a + 8), a3 = load32_be(a + 12);
    uint32_t b0 = load32_be(b), b1 = load32_be(b + 4), b2 = load32_be(b + 8), b3 = load32_be(b + 12);
    sm4_rounds_pair<false, false, false>(a0, a1, a2, a3, b0, b1, b2, b3, lanes->a, lanes->b);
    store32_be(a, a0);
    store32_be(a + 4, a1);
    store32_be(a + 8, a2);
    store32_be(a + 12, a3);
    store32_be(b, b0);
    store32_be(b + 4, b1);
    store32_be(b + 8, b2);
    store32_be(b + 12, b3);
}

#if defined(ZENTHAL_SM4_X86)
/* CPUID leaf 1 ECX, leaf 7 EBX and ECX, and the OS's XCR0. */
struct X86Features {
    unsigned c1, b7, c7, xcr0;
};

X86Features x86_features() {
    X86Features f = {0, 0, 0, 0};
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    f.c1 = c;
    if (c & (1u << 27)) { /* OSXSAVE: XGETBV may be used */
        unsigned lo, hi;
        __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        f.xcr0 = lo;
    }
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
        f.b7 = b;
        f.c7 = c;
    }
    return f;
}

bool x86_offers(const zenthal::Sm4Form *form) {
    const X86Features f = x86_features();
    const bool avx2 = (f.xcr0 & 0x6u) == 0x6u && (f.c1 & (1u << 28)) && (f.b7 & (1u << 5));
    const bool gfni = (f.c7 & (1u << 8)) != 0;
    if (form == &zenthal::SM4_FORM_AESNI_AVX2) return avx2 && (f.c1 & (1u << 25));
    if (form == &zenthal::SM4_FORM_VAES_AVX2) return avx2 && (f.c1 & (1u << 25)) && (f.c7 & (1u << 9));
    if (form == &zenthal::SM4_FORM_GFNI_AVX2) return avx2 && gfni;
    /* AVX512F, AVX512BW, AVX512VL, and the OS saving the opmask and upper
     * ZMM state (XCR0 bits 5-7). */
    const unsigned avx512 = (1u << 16) | (1u << 30) | (1u << 31);
    if (form == &zenthal::SM4_FORM_GFNI_AVX512)
        return avx2 && gfni && (f.b7 & avx512) == avx512 && (f.xcr0 & 0xE0u) == 0xE0u;
    return false;
}
#endif

#if defined(ZENTHAL_SM4_ARM)
bool arm_offers(const zenthal::Sm4Form *form) {
    const unsigned long hw = getauxval(AT_HWCAP);
    if (form == &zenthal::SM4_FORM_SM4E) return (hw & (1ul << 19)) != 0; /* HWCAP_SM4 */
    if (form == &zenthal::SM4_FORM_NEON) return (hw & (1ul << 1)) != 0;  /* HWCAP_ASIMD */
    return false;
}
#endif

/* Best first. */
const zenthal::Sm4Form *const FORMS[] = {
#if defined(ZENTHAL_SM4_X86)
    &zenthal::SM4_FORM_GFNI_AVX512, &zenthal::SM4_FORM_GFNI_AVX2, &zenthal::SM4_FORM_VAES_AVX2,
    &zenthal::SM4_FORM_AESNI_AVX2,
#endif
#if defined(ZENTHAL_SM4_ARM)
    &zenthal::SM4_FORM_SM4E, &zenthal::SM4_FORM_NEON,
#endif
    &zenthal::SM4_FORM_TABLE,
};

bool offered(const zenthal::Sm4Form *form) {
#if defined(ZENTHAL_SM4_X86)
    if (form != &zenthal::SM4_FORM_TABLE) return x86_offers(form);
#endif
#if defined(ZENTHAL_SM4_ARM)
    if (form != &zenthal::SM4_FORM_TABLE) return arm_offers(form);
#endif
    return true;
}

/* The form chosen for this processor, found on first use. Every thread that
 * finds it unset looks at the processor and stores the same answer, so a
 * relaxed atomic is enough. */
std::atomic<const zenthal::Sm4Form *> g_form{nullptr};

} // namespace

namespace zenthal {

extern const Sm4Form SM4_FORM_TABLE = {"table", table_set_key, table_blocks, table_pair, nullptr};

const char *const SM4_FORM_NAMES[] = {"gfni-avx512", "gfni-avx2", "vaes-avx2", "aesni-avx2",
                                      "sm4e", "neon", "table", nullptr};

const Sm4Form &sm4_form() {
    const Sm4Form *f = g_form.load(std::memory_order_relaxed);
    if (f == nullptr) {
        for (const Sm4Form *candidate : FORMS) {
            if (offered(candidate)) {
                f = candidate;
                break;
            }
        }
        g_form.store(f, std::memory_order_relaxed);
    }
    return *f;
}

const Sm4Form *sm4_form_named(const char *name) {
    for (const Sm4Form *candidate : FORMS) {
        if (strcmp(candidate->name, name) == 0) return offered(candidate) ? candidate : nullptr;
    }
    return nullptr;
}

bool sm4_use_form(const char *name) {
    const Sm4Form *f = sm4_form_named(name);
    if (f != nullptr) g_form.store(f, std::memory_order_relaxed);
    return f != nullptr;
}

void sm4_lanes(const Sm4Form &f, Sm4Lanes *out, const SM4_round_keys *ka, bool deca,
               const SM4_round_keys *kb, bool decb) {
    for (unsigned i = 0; i < 32; ++i) {
        const uint32_t a = ka->rk[deca ? 31 - i : i], b = kb->rk[decb ? 31 - i : i];
        out->a[i] = a;
        out->b[i] = b;
        out->v[i][0] = a;
        out->v[i][1] = b;
        out->v[i][2] = a;
        out->v[i][3] = b;
    }
    if (f.prepare != nullptr) f.prepare(out);
}

void sm4_crypt_blocks(const SM4_round_keys *rk, const uint8_t *in, uint8_t *out, std::size_t nblocks,
                      bool decrypt) {
    sm4_form().blocks(rk->rk, in, out, nblocks, decrypt);
}

} // namespace zenthal

extern "C" {

void SM4_set_key(const uint8_t key[16], SM4_round_keys *rk) { zenthal::sm4_form().set_key(key, rk); }

/* The vector forms take the block through a buffer of their own, so in and
 * out may overlap in any way here too. */
void SM4_encrypt(const uint8_t in[16], uint8_t out[16], const SM4_round_keys *rk) {
    zenthal::sm4_form().blocks(rk->rk, in, out, 1, false);
}

void SM4_decrypt(const uint8_t in[16], uint8_t out[16], const SM4_round_keys *rk) {
    zenthal::sm4_form().blocks(rk->rk, in, out, 1, true);
}

void SM4_encrypt_block(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]) {
    SM4_round_keys rk;
    SM4_set_key(key, &rk);
    SM4_encrypt(in, out, &rk);
    secure_wipe(&rk, sizeof rk);
}

void SM4_decrypt_block(const uint8_t key[16], const uint8_t in[16], uint8_t out[16]) {
    SM4_round_keys rk;
    SM4_set_key(key, &rk);
    SM4_decrypt(in, out, &rk);
    secure_wipe(&rk, sizeof rk);
}

} // extern "C"
