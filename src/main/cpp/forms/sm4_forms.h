// The forms of the SM4 block transform the library may run, one record of
// functions each, and the choice among them. Internal to the library.
//
// Every form computes the same cipher; they differ in how the S-box is
// evaluated. The table form (sm4_table.h) looks it up in memory and is the
// reference and the last resort. The others compute it in vector registers
// without a memory access that depends on key or data:
//   gfni-avx512  x86-64 GFNI + AVX-512 (16 blocks per register)
//   gfni-avx2    x86-64 GFNI + AVX2 (8 blocks per register)
//   vaes-avx2    x86-64 VAES + AVX2: the S-box through 256-bit AESENCLAST
//   aesni-avx2   x86-64 AES-NI + AVX2: the S-box through AESENCLAST
//   sm4e         aarch64 SM4 instructions (SM4E, SM4EKEY)
//   neon         aarch64 NEON: TBL over the S-box held in 16 registers
// The first form the processor offers, in that order, is chosen at first use.
#ifndef ZENTHAL_SM4_FORMS_H
#define ZENTHAL_SM4_FORMS_H

#include <cstddef>
#include <cstdint>

#include "sm4.h"

namespace zenthal {

// The round keys of two lanes that run side by side, in the order of
// execution: a[i] for lane a and b[i] for lane b in round i; v[i] holds
// a[i], b[i], a[i], b[i], the same keys as one vector for the vector forms.
// Direction and key of each lane are settled when the record is built
// (sm4_lanes).
struct Sm4Lanes {
    alignas(16) uint32_t v[32][4];
    uint32_t a[32];
    uint32_t b[32];
    // The keys of v in whatever form a form's `pair` wants them, made by
    // its `prepare` when the record is built: a row of up to 32 bytes per
    // round, and one more.
    alignas(32) uint8_t prepared[33][32];
};

struct Sm4Form {
    const char *name;
    // The key schedule into `rk` (the record of SM4_set_key).
    void (*set_key)(const uint8_t key[16], SM4_round_keys *rk);
    // `n` independent blocks of `in` into `out` (equal or disjoint),
    // enciphered, or deciphered when `decrypt`, under the record `rk`.
    void (*blocks)(const uint32_t rk[32], const uint8_t *in, uint8_t *out, std::size_t n, bool decrypt);
    // One block of each lane, in place, under `lanes`: the step of a serial
    // chain (CBC encryption, the MAC), or of two chains at once (sealing,
    // opening). The form with the shortest round latency serves these.
    void (*pair)(const Sm4Lanes *lanes, uint8_t a[16], uint8_t b[16]);
    // Fills lanes->prepared; null for a form that needs nothing there.
    void (*prepare)(Sm4Lanes *lanes);
    // `n` blocks of a CBC chain under lane a of `lanes`: a = E(a ^ in_i) for
    // each block, stored to out_i when `out` is not null (out may equal in or
    // lie before it); and, when `b` is not null, a second chain under lane b
    // over the same input, b = E(b ^ in_i) (sealing's MAC). Null for a form
    // whose chains step through `pair`; call it through sm4_chain.
    void (*chain)(const Sm4Lanes *lanes, uint8_t a[16], uint8_t b[16], const uint8_t *in, uint8_t *out,
                  std::size_t n);
};

// Builds the lane record for form `f`: lane a under `ka` (deciphering if
// `deca`), lane b under `kb` (deciphering if `decb`).
void sm4_lanes(const Sm4Form &f, Sm4Lanes *out, const SM4_round_keys *ka, bool deca, const SM4_round_keys *kb,
               bool decb);

// `n` blocks of one CBC chain (b null) or two over the same input through
// form `f`, as the form's `chain` says; through `pair` where it has none.
void sm4_chain(const Sm4Form &f, const Sm4Lanes *lanes, uint8_t a[16], uint8_t b[16], const uint8_t *in,
               uint8_t *out, std::size_t n);

// The form chosen for this processor.
const Sm4Form &sm4_form();

// The form of that name when the processor offers it, else null. For the
// tests, which run every form the machine has.
const Sm4Form *sm4_form_named(const char *name);

// Makes the form of that name the one every SM4 function of the library
// runs from now on, when the processor offers it; false otherwise. For the
// tests, which rerun the whole SM4 suite in each form.
bool sm4_use_form(const char *name);

// Makes `f` the form every SM4 function runs from now on, offered or not:
// for the tests, which also run records the library does not hold (a GFNI
// form's source built again over an emulation of its instructions). The
// caller answers for the processor having what `f` runs on.
void sm4_use_form(const Sm4Form &f);

// Every form's name, the ones this processor lacks included, ending in null.
extern const char *const SM4_FORM_NAMES[];

#if defined(__x86_64__)
// The generic many-block code that the GFNI forms run, under the AES-NI
// S-box, on a processor with AES-NI and AVX2. Not a form: valgrind runs
// neither GFNI nor AVX-512, and this is how the constant-time check and the
// tests reach that code on every x86-64 host.
void sm4_body_blocks_aesni(const uint32_t rk[32], const uint8_t *in, uint8_t *out, std::size_t n,
                           bool decrypt);
#endif

// The modes of sm4_cbc.h in a given form: SM4_process_cbc,
// SM4_process_mac and SM4_process_cbc_and_mac run these with sm4_form().
int32_t sm4_cbc(const Sm4Form &f, int32_t flag, const uint8_t key[16], const uint8_t iv[16],
                const uint8_t *in, uint32_t len, uint8_t *out, uint32_t *outlen);
int32_t sm4_mac(const Sm4Form &f, const uint8_t key[16], const uint8_t iv[16], const uint8_t *in,
                uint32_t len, uint8_t mac[16]);
int32_t sm4_cbc_and_mac(const Sm4Form &f, int32_t flag, const uint8_t key[16], const uint8_t mac_key[16],
                        const uint8_t iv[16], const uint8_t *in, uint32_t len, uint8_t *out,
                        uint32_t *outlen);

extern const Sm4Form SM4_FORM_TABLE;
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZENTHAL_SM4_X86 1
extern const Sm4Form SM4_FORM_GFNI_AVX512;
extern const Sm4Form SM4_FORM_GFNI_AVX2;
extern const Sm4Form SM4_FORM_VAES_AVX2;
extern const Sm4Form SM4_FORM_AESNI_AVX2;
#endif
#if defined(__aarch64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__))
#define ZENTHAL_SM4_ARM 1
extern const Sm4Form SM4_FORM_SM4E;
extern const Sm4Form SM4_FORM_NEON;
#endif

}  // namespace zenthal

#endif
