// SM2 signatures: keys, the signer's Z, the hedged nonce, signing and
// verification, over the curve form chosen for this processor. Private
// values pass only through masks and selections: a private key out of range
// or an inverse that does not match is carried through the same work and
// reported by the result code alone.
#include "sm2.h"

#include <atomic>
#include <cstring>

#include "sm2_internal.h"
#include "sm3.h"
#include "sm3_internal.h"
#include "util/cpu.h"
#include "util/ct.h"
#include "util/wipe.h"

namespace {

using namespace zenthal;

const Sm2Form *const FORMS[] = {
#if defined(ZENTHAL_SM2_X86)
    &SM2_FORM_X86_ADX,
#endif
    &SM2_FORM_PORTABLE,
};

bool offered(const Sm2Form *f) {
#if defined(ZENTHAL_SM2_X86)
    if (f == &SM2_FORM_X86_ADX) return cpu_features().bmi2 && cpu_features().adx && cpu_features().avx2;
#endif
    return f == &SM2_FORM_PORTABLE;
}

// Found on first use; every thread that finds it unset stores the same
// answer, so a relaxed atomic is enough.
std::atomic<const Sm2Form *> g_form{nullptr};

// The curve's a, b and G, big-endian, as Z hashes them.
constexpr uint8_t kCurveBytes[128] = {
    0xff, 0xff, 0xff, 0xfe, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfc,
    0x28, 0xe9, 0xfa, 0x9e, 0x9d, 0x9f, 0x5e, 0x34, 0x4d, 0x5a, 0x9e, 0x4b, 0xcf, 0x65, 0x09, 0xa7,
    0xf3, 0x97, 0x89, 0xf5, 0x15, 0xab, 0x8f, 0x92, 0xdd, 0xbc, 0xbd, 0x41, 0x4d, 0x94, 0x0e, 0x93,
    0x32, 0xc4, 0xae, 0x2c, 0x1f, 0x19, 0x81, 0x19, 0x5f, 0x99, 0x04, 0x46, 0x6a, 0x39, 0xc9, 0x94,
    0x8f, 0xe3, 0x0b, 0xbf, 0xf2, 0x66, 0x0b, 0xe1, 0x71, 0x5a, 0x45, 0x89, 0x33, 0x4c, 0x74, 0xc7,
    0xbc, 0x37, 0x36, 0xa2, 0xf4, 0xf6, 0x77, 0x9c, 0x59, 0xbd, 0xce, 0xe3, 0x6b, 0x69, 0x21, 0x53,
    0xd0, 0xa9, 0x87, 0x7c, 0xc6, 0x2a, 0x47, 0x40, 0x02, 0xdf, 0x32, 0xe5, 0x21, 0x39, 0xf0, 0xa0,
};

constexpr uint64_t kP[4] = {0xffffffffffffffffULL, 0xffffffff00000000ULL, 0xffffffffffffffffULL,
                            0xfffffffeffffffffULL};

void z_hash(const uint8_t pub[65], const uint8_t *id, std::size_t id_len, uint8_t z[32]) {
    SM3_context c;
    const uint8_t entl[2] = {static_cast<uint8_t>((id_len * 8) >> 8), static_cast<uint8_t>(id_len * 8)};
    SM3_Init(&c);
    SM3_Update(&c, entl, 2);
    if (id_len > 0) SM3_Update(&c, id, static_cast<uint32_t>(id_len));
    SM3_Update(&c, kCurveBytes, sizeof kCurveBytes);
    SM3_Update(&c, pub + 1, 64);
    SM3_Final(&c, z, 32);
}

void message_digest(const uint8_t z[32], const uint8_t *msg, std::size_t len, uint8_t e[32]) {
    SM3_context c;
    SM3_Init(&c);
    SM3_Update(&c, z, 32);
    sm3_update(&c, msg, len);
    SM3_Final(&c, e, 32);
}

void sign_inverse(uint64_t dinv[4], const uint64_t d[4]) {
    const uint64_t one[4] = {1, 0, 0, 0};
    uint64_t t[4];
    sc_add(t, d, one);
    sc_inv(dinv, t);
    secure_wipe(t, sizeof t);
}

}  // namespace

namespace zenthal {

// A public key's coordinates, when it is 04 || x || y with x, y < p on the
// curve. Public: may branch.
bool sm2_parse_public(const Sm2Form &f, const uint8_t pub[65], uint64_t x[4], uint64_t y[4]) {
    if (pub[0] != 0x04) return false;
    sc_from_bytes(x, pub + 1);
    sc_from_bytes(y, pub + 33);
    if (!sc_lt(x, kP) || !sc_lt(y, kP)) return false;
    return f.on_curve(x, y);
}

void sm2_write_public(uint8_t pub[65], const uint64_t x[4], const uint64_t y[4]) {
    pub[0] = 0x04;
    sc_to_bytes(pub + 1, x);
    sc_to_bytes(pub + 33, y);
}

int32_t sm2_status(uint64_t ok_mask, int32_t failure) {
    return ct_select(static_cast<uint32_t>(ok_mask), SM2_SUCCESS, failure);
}

// d from its bytes, replaced by 1 when out of range so the work that follows
// stays defined; *ok says which.
void sm2_load_private(uint64_t d[4], const uint8_t priv[32], uint64_t *ok) {
    const uint64_t one[4] = {1, 0, 0, 0};
    sc_from_bytes(d, priv);
    *ok = sm2_private_ok(d);
    for (int i = 0; i < 4; ++i) d[i] = (d[i] & *ok) | (one[i] & ~*ok);
}

const char *const SM2_FORM_NAMES[] = {"x86-adx", "portable", nullptr};

const Sm2Form &sm2_form() {
    const Sm2Form *f = g_form.load(std::memory_order_relaxed);
    if (f == nullptr) {
        for (const Sm2Form *candidate : FORMS) {
            if (offered(candidate)) {
                f = candidate;
                break;
            }
        }
        g_form.store(f, std::memory_order_relaxed);
    }
    return *f;
}

const Sm2Form *sm2_form_named(const char *name) {
    for (const Sm2Form *candidate : FORMS) {
        if (std::strcmp(candidate->name, name) == 0) return offered(candidate) ? candidate : nullptr;
    }
    return nullptr;
}

void sm2_use_form(const Sm2Form &f) { g_form.store(&f, std::memory_order_relaxed); }

void sm2_nonce_start(Sm2Nonce *g, const uint8_t d[32], const uint8_t e[32], const uint8_t *entropy,
                     std::size_t entropy_len) {
    uint8_t pad[64];
    for (int i = 0; i < 64; ++i) pad[i] = static_cast<uint8_t>((i < 32 ? d[i] : 0) ^ 0x36);
    SM3_Init(&g->inner);
    SM3_Update(&g->inner, pad, 64);
    for (int i = 0; i < 64; ++i) pad[i] ^= 0x36 ^ 0x5c;
    SM3_Init(&g->outer);
    SM3_Update(&g->outer, pad, 64);
    secure_wipe(pad, sizeof pad);
    SM3_Update(&g->inner, e, 32);
    if (entropy_len > 0) sm3_update(&g->inner, entropy, entropy_len);
    g->counter = 0;
}

void sm2_nonce_next(Sm2Nonce *g, uint64_t k[4]) {
    // Two blocks HMAC(d, e || entropy || counter), 64 bytes reduced mod n,
    // a zero (probability about 2^-256) replaced by one: [1, n - 1] with a
    // bias of about 2^-256.
    uint8_t t[64], ctr[4];
    SM3_context c;
    for (int half = 0; half < 2; ++half) {
        const uint32_t i = g->counter++;
        ctr[0] = static_cast<uint8_t>(i >> 24);
        ctr[1] = static_cast<uint8_t>(i >> 16);
        ctr[2] = static_cast<uint8_t>(i >> 8);
        ctr[3] = static_cast<uint8_t>(i);
        c = g->inner;
        SM3_Update(&c, ctr, 4);
        SM3_Final(&c, t + 32 * half, 32);
        c = g->outer;
        SM3_Update(&c, t + 32 * half, 32);
        SM3_Final(&c, t + 32 * half, 32);
    }
    sc_reduce_wide(k, t);
    k[0] |= sc_is_zero(k) & 1;
    secure_wipe(t, sizeof t);
    secure_wipe(&c, sizeof c);
}

uint64_t sm2_sign_with_nonce(const Sm2Form &f, const uint64_t d[4], const uint64_t dinv[4],
                             const uint8_t e[32], const uint64_t k[4], uint8_t sig[64]) {
    uint64_t x1[4], y1[4], ev[4], r[4], s[4], t[4];
    f.base_mul(k, x1, y1);
    // r = (e + x1) mod n; e and x1 are below 2^256 and p, so their sum is
    // below 3n.
    sc_from_bytes(ev, e);
    sc_reduce(ev, ev);
    sc_reduce(x1, x1);
    sc_add(r, ev, x1);
    sc_add(t, r, k);
    const uint64_t bad_r = sc_is_zero(r) | sc_is_zero(t);
    // s = (1 + d)^-1 (k - r·d)
    sc_mul(t, r, d);
    sc_sub(t, k, t);
    sc_mul(s, dinv, t);
    const uint64_t bad = bad_r | sc_is_zero(s);
    sc_to_bytes(sig, r);
    sc_to_bytes(sig + 32, s);
    secure_wipe(x1, sizeof x1);
    secure_wipe(y1, sizeof y1);
    secure_wipe(t, sizeof t);
    secure_wipe(s, sizeof s);
    return bad;
}

void sm2_sign_begin(Sm2Signer *s, const uint8_t priv[32], const uint8_t *inverse, const uint8_t e[32],
                    const uint8_t *entropy, std::size_t entropy_len) {
    sm2_load_private(s->d, priv, &s->ok);
    if (inverse != nullptr) {
        // Use the caller's inverse only if it is this key's: (1 + d)·inv = 1.
        const uint64_t one[4] = {1, 0, 0, 0};
        uint64_t t[4], check[4];
        sc_from_bytes(s->dinv, inverse);
        sc_reduce(s->dinv, s->dinv);
        sc_add(t, s->d, one);
        sc_mul(check, t, s->dinv);
        for (int i = 0; i < 4; ++i) check[i] ^= one[i];
        const uint64_t own = sc_is_zero(check);
        s->ok &= own;
        // Another key's inverse (zero included, which would make every s
        // zero and the retry loop endless) is replaced by 1: the signature
        // is then computed, and discarded by the result code.
        for (int i = 0; i < 4; ++i) s->dinv[i] = (s->dinv[i] & own) | (one[i] & ~own);
        secure_wipe(t, sizeof t);
        secure_wipe(check, sizeof check);
    } else {
        sign_inverse(s->dinv, s->d);
    }
    uint8_t dbytes[32];
    sc_to_bytes(dbytes, s->d);
    sm2_nonce_start(&s->nonce, dbytes, e, entropy, entropy_len);
    secure_wipe(dbytes, sizeof dbytes);
}

uint64_t sm2_sign_step(const Sm2Form &f, Sm2Signer *s, const uint8_t e[32], uint8_t sig[64]) {
    uint64_t k[4];
    sm2_nonce_next(&s->nonce, k);
    const uint64_t bad = sm2_sign_with_nonce(f, s->d, s->dinv, e, k, sig);
    secure_wipe(k, sizeof k);
    return bad;
}

int32_t sm2_sign_end(Sm2Signer *s, uint8_t sig[64]) {
    // Nothing of a refused key's signature leaves.
    const uint64_t ok = s->ok;
    for (int i = 0; i < 64; ++i) sig[i] = static_cast<uint8_t>(sig[i] & ok);
    secure_wipe(s, sizeof *s);
    return sm2_status(ok, SM2_ERR_PRIVATE_KEY);
}

int32_t sm2_sign_digest(const Sm2Form &f, const uint8_t priv[32], const uint8_t *inverse, const uint8_t e[32],
                        const uint8_t *entropy, std::size_t entropy_len, uint8_t sig[64]) {
    Sm2Signer s;
    sm2_sign_begin(&s, priv, inverse, e, entropy, entropy_len);
    // A nonce is refused with probability about 2^-255; the retry shows
    // only that.
    while (opaque64(sm2_sign_step(f, &s, e, sig)) != 0) {}
    return sm2_sign_end(&s, sig);
}

int32_t sm2_verify_digest(const Sm2Form &f, const uint8_t pub[65], const uint8_t e[32],
                          const uint8_t sig[64]) {
    uint64_t px[4], py[4], r[4], s[4], t[4], ev[4], v[4];
    if (!sm2_parse_public(f, pub, px, py)) return SM2_ERR_PUBLIC_KEY;
    sc_from_bytes(r, sig);
    sc_from_bytes(s, sig + 32);
    if (sc_is_zero(r) || sc_is_zero(s) || !sc_lt(r, SM2_N) || !sc_lt(s, SM2_N)) return SM2_ERR_SIGNATURE;
    sc_add(t, r, s);
    if (sc_is_zero(t)) return SM2_ERR_SIGNATURE;
    sc_from_bytes(ev, e);
    sc_reduce(ev, ev);
    sc_sub(v, r, ev);
    return f.verify(s, t, px, py, v) ? SM2_SUCCESS : SM2_ERR_SIGNATURE;
}

int32_t sm2_public_key(const Sm2Form &f, const uint8_t priv[32], uint8_t pub[65]) {
    uint64_t d[4], x[4], y[4], ok;
    sm2_load_private(d, priv, &ok);
    f.base_mul(d, x, y);
    for (int i = 0; i < 4; ++i) {
        x[i] &= ok;
        y[i] &= ok;
    }
    sm2_write_public(pub, x, y);
    secure_wipe(d, sizeof d);
    return sm2_status(ok, SM2_ERR_PRIVATE_KEY);
}

int32_t sm2_generate_key(const Sm2Form &f, const uint8_t random[64], uint8_t priv[32], uint8_t pub[65]) {
    // d = (random mod (n - 2)) + 1, in [1, n - 2].
    const uint64_t n_minus_2[4] = {SM2_N[0] - 2, SM2_N[1], SM2_N[2], SM2_N[3]};
    const uint64_t one[4] = {1, 0, 0, 0};
    uint64_t d[4], x[4], y[4];
    sc_reduce_bytes(d, random, 64, n_minus_2);
    sc_add(d, d, one);
    f.base_mul(d, x, y);
    sc_to_bytes(priv, d);
    sm2_write_public(pub, x, y);
    secure_wipe(d, sizeof d);
    return SM2_SUCCESS;
}

}  // namespace zenthal

using namespace zenthal;

int32_t SM2_generate_key(const uint8_t random[64], uint8_t priv[32], uint8_t pub[65]) {
    return sm2_generate_key(sm2_form(), random, priv, pub);
}

int32_t SM2_public_key(const uint8_t priv[32], uint8_t pub[65]) {
    return sm2_public_key(sm2_form(), priv, pub);
}

int32_t SM2_check_public_key(const uint8_t pub[65]) {
    uint64_t x[4], y[4];
    return sm2_parse_public(sm2_form(), pub, x, y) ? SM2_SUCCESS : SM2_ERR_PUBLIC_KEY;
}

int32_t SM2_sign_inverse(const uint8_t priv[32], uint8_t inverse[32]) {
    uint64_t d[4], dinv[4], ok;
    sm2_load_private(d, priv, &ok);
    sign_inverse(dinv, d);
    for (int i = 0; i < 4; ++i) dinv[i] &= ok;
    sc_to_bytes(inverse, dinv);
    secure_wipe(d, sizeof d);
    secure_wipe(dinv, sizeof dinv);
    return sm2_status(ok, SM2_ERR_PRIVATE_KEY);
}

int32_t SM2_compute_z(const uint8_t pub[65], const uint8_t *id, size_t id_len, uint8_t z[32]) {
    if (id_len > SM2_MAX_ID_LENGTH) return SM2_ERR_ID_LENGTH;
    if (SM2_check_public_key(pub) != SM2_SUCCESS) return SM2_ERR_PUBLIC_KEY;
    z_hash(pub, id, id_len, z);
    return SM2_SUCCESS;
}

int32_t SM2_sign_digest(const uint8_t priv[32], const uint8_t *inverse, const uint8_t e[32],
                        const uint8_t *entropy, size_t entropy_len, uint8_t sig[64]) {
    return sm2_sign_digest(sm2_form(), priv, inverse, e, entropy, entropy_len, sig);
}

int32_t SM2_verify_digest(const uint8_t pub[65], const uint8_t e[32], const uint8_t sig[64]) {
    return sm2_verify_digest(sm2_form(), pub, e, sig);
}

int32_t SM2_sign(const uint8_t priv[32], const uint8_t *pub, const uint8_t *id, size_t id_len,
                 const uint8_t *msg, size_t msg_len, const uint8_t *entropy, size_t entropy_len,
                 uint8_t sig[64]) {
    uint8_t own[65], z[32], e[32];
    if (pub == nullptr) {
        const int32_t rc = SM2_public_key(priv, own);
        if (rc != SM2_SUCCESS) return rc;
        pub = own;
    }
    const int32_t rc = SM2_compute_z(pub, id, id_len, z);
    if (rc != SM2_SUCCESS) return rc;
    message_digest(z, msg, msg_len, e);
    return SM2_sign_digest(priv, nullptr, e, entropy, entropy_len, sig);
}

int32_t SM2_verify(const uint8_t pub[65], const uint8_t *id, size_t id_len, const uint8_t *msg,
                   size_t msg_len, const uint8_t sig[64]) {
    uint8_t z[32], e[32];
    const int32_t rc = SM2_compute_z(pub, id, id_len, z);
    if (rc != SM2_SUCCESS) return rc;
    message_digest(z, msg, msg_len, e);
    return SM2_verify_digest(pub, e, sig);
}
