// SM2 public-key encryption (C1 || C3 || C2) and the key exchange with its
// confirmation values, over the curve form chosen for this processor. As in
// signing, private values (d, k, r, t, the shared points, the keystream and
// the plaintext) pass only through masks and selections: the work is the
// same whatever they hold, and failures show in the result code alone.
#include <cstring>
#include <initializer_list>

#include "sm2.h"
#include "sm2_internal.h"
#include "sm3.h"
#include "sm3_internal.h"
#include "sm3_kdf.h"
#include "util/ct.h"
#include "util/wipe.h"

namespace {

using namespace zenthal;

// x2 || y2 (or xV || yV), the start of the KDF's input.
void point_bytes(uint8_t out[64], const uint64_t x[4], const uint64_t y[4]) {
    sc_to_bytes(out, x);
    sc_to_bytes(out + 32, y);
}

// All ones when the n bytes at p are all zero.
uint64_t all_zero(const uint8_t *p, std::size_t n) {
    uint32_t acc = 0;
    for (std::size_t i = 0; i < n; ++i) acc |= p[i];
    return ct_mask64(ct_mask_zero(acc) & 1);
}

// C3 = SM3(x2 || m || y2).
void check_hash(const uint8_t xy[64], const uint8_t *m, std::size_t len, uint8_t out[32]) {
    SM3_context c;
    SM3_Init(&c);
    SM3_Update(&c, xy, 32);
    sm3_update(&c, m, len);
    SM3_Update(&c, xy + 32, 32);
    SM3_Final(&c, out, 32);
    secure_wipe(&c, sizeof c);
}

// x̄ = 2^127 + (x mod 2^127).
void x_bar(uint64_t r[4], const uint64_t x[4]) {
    r[0] = x[0];
    r[1] = x[1] | (1ULL << 63);
    r[2] = 0;
    r[3] = 0;
}

}  // namespace

namespace zenthal {

uint64_t sm2_encrypt_with_nonce(const Sm2Form &f, const uint64_t px[4], const uint64_t py[4],
                                const uint8_t *msg, std::size_t len, const uint64_t k[4], uint8_t *out) {
    uint64_t x[4], y[4];
    uint8_t xy[64];
    f.base_mul(k, x, y);
    sm2_write_public(out, x, y);
    f.point_mul(k, px, py, x, y);
    point_bytes(xy, x, y);
    // C2 = M xor KDF(x2 || y2, len), keystream first into its place.
    uint8_t *c2 = out + SM2_CIPHERTEXT_OVERHEAD;
    SM3_KDF(c2, static_cast<uint32_t>(len), xy, 64);
    const uint64_t zero = all_zero(c2, len);
    check_hash(xy, msg, len, out + 65);
    for (std::size_t i = 0; i < len; ++i) c2[i] ^= msg[i];
    secure_wipe(x, sizeof x);
    secure_wipe(y, sizeof y);
    secure_wipe(xy, sizeof xy);
    return zero;
}

}  // namespace zenthal

int32_t SM2_encrypt(const uint8_t pub[65], const uint8_t *msg, size_t len, const uint8_t *entropy,
                    size_t entropy_len, uint8_t *out, size_t *outlen) {
    const Sm2Form &f = sm2_form();
    uint64_t px[4], py[4];
    if (!sm2_parse_public(f, pub, px, py)) return SM2_ERR_PUBLIC_KEY;
    if (len == 0 || len > 0xffffffffu) return SM2_ERR_INPUT_LENGTH;
    if (*outlen < len + SM2_CIPHERTEXT_OVERHEAD) return SM2_ERR_OUTPUT_TOO_SMALL;
    // k from HMAC-SM3 keyed with SM3(entropy), over SM3(key || message).
    uint8_t seed[32], digest[32];
    SM3_context c;
    SM3_Init(&c);
    sm3_update(&c, entropy, entropy_len);
    SM3_Final(&c, seed, 32);
    SM3_Init(&c);
    SM3_Update(&c, pub, 65);
    sm3_update(&c, msg, len);
    SM3_Final(&c, digest, 32);
    Sm2Nonce g;
    sm2_nonce_start(&g, seed, digest, nullptr, 0);
    uint64_t k[4];
    // A keystream of zeros (probability 2^-8len) takes another k; the retry
    // shows only that the first k was not used.
    do {
        sm2_nonce_next(&g, k);
    } while (opaque64(sm2_encrypt_with_nonce(f, px, py, msg, len, k, out)) != 0);
    *outlen = len + SM2_CIPHERTEXT_OVERHEAD;
    secure_wipe(k, sizeof k);
    secure_wipe(&g, sizeof g);
    secure_wipe(seed, sizeof seed);
    secure_wipe(&c, sizeof c);
    return SM2_SUCCESS;
}

int32_t SM2_decrypt(const uint8_t priv[32], const uint8_t *in, size_t len, uint8_t *out, size_t *outlen) {
    const Sm2Form &f = sm2_form();
    if (len <= SM2_CIPHERTEXT_OVERHEAD || len - SM2_CIPHERTEXT_OVERHEAD > 0xffffffffu)
        return SM2_ERR_INPUT_LENGTH;
    const std::size_t mlen = len - SM2_CIPHERTEXT_OVERHEAD;
    if (*outlen < mlen) return SM2_ERR_OUTPUT_TOO_SMALL;
    uint64_t cx[4], cy[4];
    // C1 is public: a point off the curve is refused before d is touched,
    // the output cleared as after any refusal.
    if (!sm2_parse_public(f, in, cx, cy)) {
        std::memset(out, 0, mlen);
        return SM2_ERR_DECRYPT;
    }
    uint64_t d[4], ok, x[4], y[4];
    uint8_t xy[64], u[32];
    sm2_load_private(d, priv, &ok);
    const uint64_t key_ok = ok;
    // C1 is on the curve and the group's order is prime: d·C1 is never at
    // infinity.
    f.point_mul(d, cx, cy, x, y);
    point_bytes(xy, x, y);
    SM3_KDF(out, static_cast<uint32_t>(mlen), xy, 64);
    ok &= ~all_zero(out, mlen);
    const uint8_t *c2 = in + SM2_CIPHERTEXT_OVERHEAD;
    for (std::size_t i = 0; i < mlen; ++i) out[i] ^= c2[i];
    check_hash(xy, out, mlen, u);
    ok &= ct_mask64(ct_equal(u, in + 65, 32) & 1);
    // Nothing of the message leaves a failure.
    const uint8_t keep = static_cast<uint8_t>(ok);
    for (std::size_t i = 0; i < mlen; ++i) out[i] &= keep;
    *outlen = (mlen & ok) | (*outlen & ~ok);
    const int32_t failure = ct_select(static_cast<uint32_t>(key_ok), SM2_ERR_DECRYPT, SM2_ERR_PRIVATE_KEY);
    secure_wipe(d, sizeof d);
    secure_wipe(x, sizeof x);
    secure_wipe(y, sizeof y);
    secure_wipe(xy, sizeof xy);
    secure_wipe(u, sizeof u);
    return sm2_status(ok, failure);
}

int32_t SM2_key_exchange(int32_t responder, const uint8_t priv[32], const uint8_t pub[65],
                         const uint8_t eph_priv[32], const uint8_t eph_pub[65], const uint8_t z[32],
                         const uint8_t peer_pub[65], const uint8_t peer_eph_pub[65], const uint8_t peer_z[32],
                         uint8_t *key, size_t klen, uint8_t *confirm_b, uint8_t *confirm_a) {
    const Sm2Form &f = sm2_form();
    uint64_t ox[4], oy[4], ex[4], ey[4], px[4], py[4], rx[4], ry[4];
    if (!sm2_parse_public(f, pub, ox, oy) || !sm2_parse_public(f, eph_pub, ex, ey) ||
        !sm2_parse_public(f, peer_pub, px, py) || !sm2_parse_public(f, peer_eph_pub, rx, ry)) {
        return SM2_ERR_PUBLIC_KEY;
    }
    if (klen > 0xffffffffu) return SM2_ERR_INPUT_LENGTH;
    // Q = P_peer + x̄_peer·R_peer, all public.
    uint64_t bar[4], qx[4], qy[4];
    x_bar(bar, rx);
    if (!f.mul_add_public(bar, rx, ry, px, py, qx, qy)) return SM2_ERR_EXCHANGE;
    // t = (d + x̄_own·r) mod n, and V = t·Q.
    uint64_t d[4], r[4], t[4], vx[4], vy[4], ok, ok_r;
    sm2_load_private(d, priv, &ok);
    sm2_load_private(r, eph_priv, &ok_r);
    const uint64_t keys_ok = ok & ok_r;
    x_bar(bar, ex);
    sc_mul(t, bar, r);
    sc_add(t, t, d);
    const uint64_t infinity = f.point_mul(t, qx, qy, vx, vy);

    // Z_A and (x1, y1) are always the initiator's.
    const uint8_t *za = responder ? peer_z : z, *zb = responder ? z : peer_z;
    const uint8_t *ra = responder ? peer_eph_pub : eph_pub, *rb = responder ? eph_pub : peer_eph_pub;
    uint8_t input[128], h[32];
    point_bytes(input, vx, vy);
    std::memcpy(input + 64, za, 32);
    std::memcpy(input + 96, zb, 32);
    if (klen > 0) SM3_KDF(key, static_cast<uint32_t>(klen), input, sizeof input);
    SM3_context c;
    SM3_Init(&c);
    SM3_Update(&c, input, 32);
    SM3_Update(&c, input + 64, 64);
    SM3_Update(&c, ra + 1, 64);
    SM3_Update(&c, rb + 1, 64);
    SM3_Final(&c, h, 32);
    const uint8_t tags[2] = {0x02, 0x03};
    uint8_t *const confirm[2] = {confirm_b, confirm_a};
    for (int i = 0; i < 2; ++i) {
        if (confirm[i] == nullptr) continue;
        SM3_Init(&c);
        SM3_Update(&c, &tags[i], 1);
        SM3_Update(&c, input + 32, 32);
        SM3_Update(&c, h, 32);
        SM3_Final(&c, confirm[i], 32);
    }
    // A refused key or a point at infinity releases nothing.
    const uint64_t good = keys_ok & ~infinity;
    const uint8_t keep = static_cast<uint8_t>(good);
    for (std::size_t i = 0; i < klen; ++i) key[i] &= keep;
    for (uint8_t *p : confirm)
        if (p != nullptr)
            for (int i = 0; i < 32; ++i) p[i] &= keep;
    const int32_t failure = ct_select(static_cast<uint32_t>(keys_ok), SM2_ERR_EXCHANGE, SM2_ERR_PRIVATE_KEY);
    for (void *p : {static_cast<void *>(d), static_cast<void *>(r), static_cast<void *>(t),
                    static_cast<void *>(vx), static_cast<void *>(vy)})
        secure_wipe(p, 32);
    secure_wipe(input, sizeof input);
    secure_wipe(h, sizeof h);
    secure_wipe(&c, sizeof c);
    return sm2_status(good, failure);
}
