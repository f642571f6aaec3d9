// SM4 block cipher (GB/T 32907-2016): key schedule and the exported
// single-block transforms, and the choice of form. The table form's rounds
// are in forms/sm4_table.h, shared with the modes. Key material held in memory of the function's own
// (the key-schedule ring, the one-shot functions' round keys) is wiped
// before it returns.
#include "sm4.h"

#include <stdint.h>
#include <string.h>

#include <atomic>

#include "forms/sm4_consts.h"
#include "forms/sm4_forms.h"
#include "forms/sm4_table.h"
#include "sm4_blocks.h"
#include "util/byteorder.h"
#include "util/cpu.h"
#include "util/wipe.h"

namespace {

using zenthal::load32_be;
using zenthal::secure_wipe;
using zenthal::sm4_crypt;
using zenthal::sm4_rounds2;
using zenthal::sm4_rounds_pair;
using zenthal::store32_be;

uint32_t table_tau(uint32_t a) { return zenthal::sm4_tau(a); }

void table_set_key(const uint8_t key[16], SM4_round_keys *rk) { zenthal::sm4_expand_key(key, rk, table_tau); }

// Blocks two at a time, interleaved; the last odd one alone.
void table_blocks(const uint32_t rk[32], const uint8_t *in, uint8_t *out, std::size_t n, bool decrypt) {
    for (; n >= 2; n -= 2, in += 32, out += 32) {
        uint32_t a0 = load32_be(in), a1 = load32_be(in + 4), a2 = load32_be(in + 8), a3 = load32_be(in + 12);
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

// Whether the processor offers what a form's instructions need.
bool offered(const zenthal::Sm4Form *form) {
    const zenthal::CpuFeatures &c = zenthal::cpu_features();
    (void)c;
#if defined(ZENTHAL_SM4_X86)
    if (form == &zenthal::SM4_FORM_AESNI_AVX2) return c.avx2 && c.aesni;
    if (form == &zenthal::SM4_FORM_VAES_AVX2) return c.avx2 && c.aesni && c.vaes;
    if (form == &zenthal::SM4_FORM_GFNI_AVX2) return c.avx2 && c.gfni;
    if (form == &zenthal::SM4_FORM_GFNI_AVX512) return c.gfni && c.avx512f && c.avx512bw && c.avx512vl;
#endif
#if defined(ZENTHAL_SM4_ARM)
    if (form == &zenthal::SM4_FORM_SM4E) return c.sm4;
    if (form == &zenthal::SM4_FORM_NEON) return c.neon;
#endif
    return form == &zenthal::SM4_FORM_TABLE;
}

// Best first.
const zenthal::Sm4Form *const FORMS[] = {
#if defined(ZENTHAL_SM4_X86)
    &zenthal::SM4_FORM_GFNI_AVX512, &zenthal::SM4_FORM_GFNI_AVX2,
    &zenthal::SM4_FORM_VAES_AVX2,   &zenthal::SM4_FORM_AESNI_AVX2,
#endif
#if defined(ZENTHAL_SM4_ARM)
    &zenthal::SM4_FORM_SM4E,        &zenthal::SM4_FORM_NEON,
#endif
    &zenthal::SM4_FORM_TABLE,
};

// The form chosen for this processor, found on first use. Every thread that
// finds it unset looks at the processor and stores the same answer, so a
// relaxed atomic is enough.
std::atomic<const zenthal::Sm4Form *> g_form{nullptr};

}  // namespace

namespace zenthal {

void sm4_expand_key(const uint8_t key[16], SM4_round_keys *rk, uint32_t (*tau)(uint32_t)) {
    // A ring of the last four K words: slot i mod 4 holds K_i and receives
    // K_{i+4} = rk[i], so all key bytes are read before rk[0] is written.
    uint32_t k[4];
    for (int j = 0; j < 4; ++j) k[j] = load32_be(key + 4 * j) ^ SM4_FK[j];
    for (unsigned i = 0; i < 32; ++i) {
        const uint32_t b = tau(k[(i + 1) & 3] ^ k[(i + 2) & 3] ^ k[(i + 3) & 3] ^ SM4_CK[i]);
        k[i & 3] ^= b ^ rotl32(b, 13) ^ rotl32(b, 23);
        rk->rk[i] = k[i & 3];
    }
    secure_wipe(k, sizeof k);
}

extern const Sm4Form SM4_FORM_TABLE = {"table", table_set_key, table_blocks, table_pair, nullptr, nullptr};

const char *const SM4_FORM_NAMES[] = {"gfni-avx512", "gfni-avx2", "vaes-avx2", "aesni-avx2",
                                      "sm4e",        "neon",      "table",     nullptr};

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
    if (f != nullptr) sm4_use_form(*f);
    return f != nullptr;
}

void sm4_use_form(const Sm4Form &f) { g_form.store(&f, std::memory_order_relaxed); }

void sm4_lanes(const Sm4Form &f, Sm4Lanes *out, const SM4_round_keys *ka, bool deca, const SM4_round_keys *kb,
               bool decb) {
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

void sm4_chain(const Sm4Form &f, const Sm4Lanes *lanes, uint8_t a[16], uint8_t b[16], const uint8_t *in,
               uint8_t *out, std::size_t n) {
    if (f.chain != nullptr) {
        f.chain(lanes, a, b, in, out, n);
        return;
    }
    uint8_t *const second = b != nullptr ? b : a;
    for (std::size_t i = 0; i < n; ++i) {
        xor_block(a, a, in + 16 * i);
        if (b != nullptr) xor_block(b, b, in + 16 * i);
        f.pair(lanes, a, second);
        if (out != nullptr) std::memcpy(out + 16 * i, a, 16);
    }
}

void sm4_crypt_blocks(const SM4_round_keys *rk, const uint8_t *in, uint8_t *out, std::size_t nblocks,
                      bool decrypt) {
    sm4_form().blocks(rk->rk, in, out, nblocks, decrypt);
}

}  // namespace zenthal

extern "C" {

void SM4_set_key(const uint8_t key[16], SM4_round_keys *rk) { zenthal::sm4_form().set_key(key, rk); }

// The vector forms take the block through a buffer of their own, so in and
// out may overlap in any way here too.
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

}  // extern "C"
