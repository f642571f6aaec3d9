// Arithmetic modulo the SM2 group order n, in constant time: Montgomery
// multiplication in four 64-bit limbs; inversion is the shared division-step
// inversion. Outside the per-key inverse and the signing step these are not
// on any hot path, so one portable form serves every processor.
#include "sm2_internal.h"
#include "util/byteorder.h"
#include "util/ct.h"
#include "util/wipe.h"

namespace zenthal {

namespace {

typedef unsigned __int128 u128;

// -n^-1 mod 2^64, and 2^512 mod n.
constexpr uint64_t kN0 = 0x327f9e8872350975ULL;
constexpr uint64_t kRR[4] = {0x901192af7c114f20ULL, 0x3464504ade6fa2faULL, 0x620fc84c3affe0d4ULL,
                             0x1eb5e412a22b3d3bULL};

void select4(uint64_t r[4], uint64_t mask, const uint64_t a[4], const uint64_t b[4]) {
    for (int i = 0; i < 4; ++i) r[i] = (a[i] & mask) | (b[i] & ~mask);
}

// r = c·2^256 + a - m unless that goes below zero (c, a carry above a's 256
// bits); m is n unless given.
void reduce_once(uint64_t r[4], uint64_t c, const uint64_t a[4], const uint64_t *m = SM2_N) {
    uint64_t d[4], borrow = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 diff = static_cast<u128>(a[i]) - m[i] - borrow;
        d[i] = static_cast<uint64_t>(diff);
        borrow = static_cast<uint64_t>(diff >> 64) & 1;
    }
    select4(r, ct_mask64(borrow & ~c & 1), a, d);
}

// a·b·2^-256 mod n.
void mont_mul(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
    uint64_t t[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        uint64_t carry = 0;
        for (int j = 0; j < 4; ++j) {
            const u128 acc = static_cast<u128>(a[i]) * b[j] + t[j] + carry;
            t[j] = static_cast<uint64_t>(acc);
            carry = static_cast<uint64_t>(acc >> 64);
        }
        u128 acc = static_cast<u128>(t[4]) + carry;
        t[4] = static_cast<uint64_t>(acc);
        t[5] = static_cast<uint64_t>(acc >> 64);
        const uint64_t m = t[0] * kN0;
        acc = static_cast<u128>(m) * SM2_N[0] + t[0];
        carry = static_cast<uint64_t>(acc >> 64);
        for (int j = 1; j < 4; ++j) {
            acc = static_cast<u128>(m) * SM2_N[j] + t[j] + carry;
            t[j - 1] = static_cast<uint64_t>(acc);
            carry = static_cast<uint64_t>(acc >> 64);
        }
        acc = static_cast<u128>(t[4]) + carry;
        t[3] = static_cast<uint64_t>(acc);
        t[4] = t[5] + static_cast<uint64_t>(acc >> 64);
    }
    reduce_once(r, t[4], t);
    secure_wipe(t, sizeof t);
}

}  // namespace

extern const uint64_t SM2_N[4] = {0x53bbf40939d54123ULL, 0x7203df6b21c6052bULL, 0xffffffffffffffffULL,
                                  0xfffffffeffffffffULL};

void sc_from_bytes(uint64_t r[4], const uint8_t b[32]) {
    for (int i = 0; i < 4; ++i) r[i] = load64_be(b + 8 * (3 - i));
}

void sc_to_bytes(uint8_t b[32], const uint64_t a[4]) {
    for (int i = 0; i < 4; ++i) store64_be(b + 8 * (3 - i), a[i]);
}

uint64_t sc_lt(const uint64_t a[4], const uint64_t b[4]) {
    uint64_t borrow = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 diff = static_cast<u128>(a[i]) - b[i] - borrow;
        borrow = static_cast<uint64_t>(diff >> 64) & 1;
    }
    return ct_mask64(borrow);
}

uint64_t sc_is_zero(const uint64_t a[4]) {
    const uint64_t t = a[0] | a[1] | a[2] | a[3];
    return ct_mask64(((t | (0 - t)) >> 63) ^ 1);
}

void sc_add(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
    uint64_t s[4], carry = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 sum = static_cast<u128>(a[i]) + b[i] + carry;
        s[i] = static_cast<uint64_t>(sum);
        carry = static_cast<uint64_t>(sum >> 64);
    }
    reduce_once(r, carry, s);
}

void sc_sub(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
    uint64_t d[4], borrow = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 diff = static_cast<u128>(a[i]) - b[i] - borrow;
        d[i] = static_cast<uint64_t>(diff);
        borrow = static_cast<uint64_t>(diff >> 64) & 1;
    }
    const uint64_t m = ct_mask64(borrow);
    uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
        const u128 sum = static_cast<u128>(d[i]) + (SM2_N[i] & m) + carry;
        r[i] = static_cast<uint64_t>(sum);
        carry = static_cast<uint64_t>(sum >> 64);
    }
}

void sc_reduce(uint64_t r[4], const uint64_t a[4]) { reduce_once(r, 0, a); }

void sc_mul(uint64_t r[4], const uint64_t a[4], const uint64_t b[4]) {
    uint64_t t[4];
    mont_mul(t, a, b);    // a·b/R
    mont_mul(r, t, kRR);  // a·b
    secure_wipe(t, sizeof t);
}

void sc_inv(uint64_t r[4], const uint64_t a[4]) { sm2_mod_inverse(r, a, SM2_ORDER_MODULUS); }

void sc_reduce_wide(uint64_t r[4], const uint8_t in[64]) {
    // hi·2^256 + lo = hi·R + lo: mont(hi, R^2) = hi·R mod n, and lo is below
    // 2n.
    uint64_t hi[4], lo[4], t[4];
    sc_from_bytes(hi, in);
    sc_from_bytes(lo, in + 32);
    mont_mul(t, hi, kRR);
    reduce_once(lo, 0, lo);
    sc_add(r, t, lo);
    secure_wipe(hi, sizeof hi);
    secure_wipe(lo, sizeof lo);
    secure_wipe(t, sizeof t);
}

void sc_reduce_bytes(uint64_t r[4], const uint8_t *in, std::size_t len, const uint64_t m[4]) {
    // Bit by bit from the top: acc = 2·acc + bit, less m when that fits.
    uint64_t acc[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < len; ++i) {
        for (int b = 7; b >= 0; --b) {
            const uint64_t bit = (in[i] >> b) & 1;
            const uint64_t top = acc[3] >> 63;
            for (int l = 3; l > 0; --l) acc[l] = (acc[l] << 1) | (acc[l - 1] >> 63);
            acc[0] = (acc[0] << 1) | bit;
            reduce_once(acc, top, acc, m);
        }
    }
    for (int i = 0; i < 4; ++i) r[i] = acc[i];
    secure_wipe(acc, sizeof acc);
}

uint64_t sm2_private_ok(const uint64_t d[4]) {
    const uint64_t n_minus_1[4] = {SM2_N[0] - 1, SM2_N[1], SM2_N[2], SM2_N[3]};
    return ~sc_is_zero(d) & sc_lt(d, n_minus_1);
}

}  // namespace zenthal
