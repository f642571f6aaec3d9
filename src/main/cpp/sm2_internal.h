// The pieces of SM2 below its C interface: arithmetic modulo the group order
// n, the hedged nonce generator and the signing step, each in a given curve
// form. Internal to the library; the tests and the constant-time check call
// them directly. Scalars are four 64-bit limbs, least significant first.
#ifndef ZENTHAL_SM2_INTERNAL_H
#define ZENTHAL_SM2_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "forms/sm2_forms.h"
#include "sm3.h"

namespace zenthal {

extern const uint64_t SM2_N[4];

void sc_from_bytes(uint64_t r[4], const uint8_t b[32]);
void sc_to_bytes(uint8_t b[32], const uint64_t a[4]);
// All ones when a < b.
uint64_t sc_lt(const uint64_t a[4], const uint64_t b[4]);
uint64_t sc_is_zero(const uint64_t a[4]);
// (a + b) mod n and (a - b) mod n for a, b < n.
void sc_add(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]);
void sc_sub(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]);
// a mod n for any 256-bit a.
void sc_reduce(uint64_t r[4], const uint64_t a[4]);
// a·b mod n and a^-1 mod n (0 for 0), for a, b < n.
void sc_mul(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]);
void sc_inv(uint64_t r[4], const uint64_t a[4]);
// A modulus for sm2_mod_inverse: m, odd, and m^-1 mod 2^62.
struct Sm2Modulus {
    uint64_t m[4];
    uint64_t inverse62;
};
extern const Sm2Modulus SM2_FIELD_MODULUS, SM2_ORDER_MODULUS;
// a^-1 mod m (0 for 0), for a < m, in constant time.
void sm2_mod_inverse(uint64_t r[4], const uint64_t a[4], const Sm2Modulus &m);

// The 64 big-endian bytes at `in` modulo n.
void sc_reduce_wide(uint64_t r[4], const uint8_t in[64]);
// The `len` big-endian bytes at `in` modulo m, for any m above 2^255.
void sc_reduce_bytes(uint64_t r[4], const uint8_t *in, std::size_t len, const uint64_t m[4]);

// A public key's coordinates, when it is 04 || x || y with x, y < p on the
// curve; false otherwise. For public values: it branches.
bool sm2_parse_public(const Sm2Form &f, const uint8_t pub[65], uint64_t x[4], uint64_t y[4]);
void sm2_write_public(uint8_t pub[65], const uint64_t x[4], const uint64_t y[4]);
// d from its bytes, replaced by 1 when out of range so that the work that
// follows stays defined; *ok is all ones when it was in range.
void sm2_load_private(uint64_t d[4], const uint8_t priv[32], uint64_t *ok);
// SM2_SUCCESS when ok_mask is all ones, else `failure`, without a branch.
int32_t sm2_status(uint64_t ok_mask, int32_t failure);

// All ones when the private key d lies in [1, n - 2].
uint64_t sm2_private_ok(const uint64_t d[4]);

// The nonce generator: HMAC-SM3 keyed with d, over e, the caller's entropy
// and a counter, so it is deterministic in d and e when the entropy fails,
// and unpredictable without d whatever the entropy. Its nonces lie in
// [1, n - 1].
struct Sm2Nonce {
    SM3_context inner;  // after the key's inner pad, e and the entropy
    SM3_context outer;  // after the key's outer pad
    uint32_t counter;
};
void sm2_nonce_start(Sm2Nonce *g, const uint8_t d[32], const uint8_t e[32], const uint8_t *entropy,
                     std::size_t entropy_len);
void sm2_nonce_next(Sm2Nonce *g, uint64_t k[4]);

// One signing attempt with nonce k (0 < k < n): r || s into sig. Returns all
// ones when k must be replaced (r = 0, r + k = n or s = 0).
uint64_t sm2_sign_with_nonce(const Sm2Form &f, const uint64_t d[4], const uint64_t dinv[4],
                             const uint8_t e[32], const uint64_t k[4], uint8_t sig[64]);

// SM2_sign_digest in three steps, with its retry loop left to the caller:
// begin loads the key (replaced by 1 when out of range, or when `inverse` is
// not its own; `ok` says which) and seeds the nonce; each step draws a nonce
// and signs, returning all ones when that nonce must be replaced; end keeps
// the signature only for a good key, wipes the record and gives the result
// code.
struct Sm2Signer {
    uint64_t d[4], dinv[4];
    uint64_t ok;
    Sm2Nonce nonce;
};
void sm2_sign_begin(Sm2Signer *s, const uint8_t priv[32], const uint8_t *inverse, const uint8_t e[32],
                    const uint8_t *entropy, std::size_t entropy_len);
uint64_t sm2_sign_step(const Sm2Form &f, Sm2Signer *s, const uint8_t e[32], uint8_t sig[64]);
int32_t sm2_sign_end(Sm2Signer *s, uint8_t sig[64]);

// Encryption's step for a given k (0 < k < n) to the point (px, py): C1 ||
// C3 || C2 of the len bytes at msg into out. Returns all ones when the
// keystream was all zero and k must be replaced.
uint64_t sm2_encrypt_with_nonce(const Sm2Form &f, const uint64_t px[4], const uint64_t py[4],
                                const uint8_t *msg, std::size_t len, const uint64_t k[4], uint8_t *out);

// SM2_sign_digest and SM2_verify_digest in a given form.
int32_t sm2_sign_digest(const Sm2Form &f, const uint8_t priv[32], const uint8_t *inverse, const uint8_t e[32],
                        const uint8_t *entropy, std::size_t entropy_len, uint8_t sig[64]);
int32_t sm2_verify_digest(const Sm2Form &f, const uint8_t pub[65], const uint8_t e[32],
                          const uint8_t sig[64]);
// SM2_generate_key and SM2_public_key in a given form.
int32_t sm2_generate_key(const Sm2Form &f, const uint8_t random[64], uint8_t priv[32], uint8_t pub[65]);
int32_t sm2_public_key(const Sm2Form &f, const uint8_t priv[32], uint8_t pub[65]);

}  // namespace zenthal

#endif
