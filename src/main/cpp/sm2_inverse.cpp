// Inversion modulo SM2's p and n in constant time, by Bernstein and Yang's
// division steps, in under half the time of raising to the power m - 2,
// which made the one field inversion of each multiplication's affine result
// a tenth of a decryption and a third of a signature.
//
// A division step on (delta, f, g), f odd, is
//   (1 - delta, g, (g - f) / 2)          when delta > 0 and g is odd,
//   (1 + delta, f, (g + (g mod 2)·f) / 2) otherwise.
// From (1, m, a) with a < m < 2^256, 741 steps bring g to 0 and f to
// ±gcd(m, a). They run 62 at a time on the low 64 bits of f and g alone,
// since each step reads only the lowest bit, and collect the batch in a
// matrix of small integers that is then applied to the whole f and g and
// to d and e, which keep f ≡ d·a and g ≡ e·a (mod m) while the division by
// 2^62 is made exact by adding a multiple of m. The batches are a fixed
// twelve (744 steps), every step the same instructions, every choice a mask.
// Whole numbers are five signed limbs of 62 bits, the top one carrying the
// sign.
#include "sm2_internal.h"
#include "util/wipe.h"

namespace zenthal {

namespace {

typedef __int128 i128;

constexpr uint64_t kMask62 = (1ULL << 62) - 1;
constexpr int kBatches = 12;
constexpr int kStepsPerBatch = 62;

struct Signed62 {
    int64_t v[5];
};

// The batch's matrix: 2^62·(f', g') = (u·f + v·g, q·f + r·g).
struct Transition {
    int64_t u, v, q, r;
};

void to_signed62(Signed62 *r, const uint64_t a[4]) {
    r->v[0] = static_cast<int64_t>(a[0] & kMask62);
    r->v[1] = static_cast<int64_t>(((a[0] >> 62) | (a[1] << 2)) & kMask62);
    r->v[2] = static_cast<int64_t>(((a[1] >> 60) | (a[2] << 4)) & kMask62);
    r->v[3] = static_cast<int64_t>(((a[2] >> 58) | (a[3] << 6)) & kMask62);
    r->v[4] = static_cast<int64_t>(a[3] >> 56);
}

// For 0 <= a < 2^256 with its lower limbs in [0, 2^62).
void from_signed62(uint64_t r[4], const Signed62 &a) {
    const uint64_t v0 = static_cast<uint64_t>(a.v[0]), v1 = static_cast<uint64_t>(a.v[1]),
                   v2 = static_cast<uint64_t>(a.v[2]), v3 = static_cast<uint64_t>(a.v[3]),
                   v4 = static_cast<uint64_t>(a.v[4]);
    r[0] = v0 | (v1 << 62);
    r[1] = (v1 >> 2) | (v2 << 60);
    r[2] = (v2 >> 4) | (v3 << 58);
    r[3] = (v3 >> 6) | (v4 << 56);
}

// Sixty-two division steps on the low bits of f and g; returns the new
// delta. Everything is unsigned so that the masks and the negations are
// defined; delta, u, v, q and r stay far inside 64 bits.
uint64_t divsteps(uint64_t delta, uint64_t f, uint64_t g, Transition *t) {
    uint64_t u = 1, v = 0, q = 0, r = 1;
    for (int i = 0; i < kStepsPerBatch; ++i) {
        const uint64_t positive = 0 - ((0 - delta) >> 63);
        const uint64_t odd = 0 - (g & 1);
        const uint64_t swap = positive & odd;
        // On a swap (f, g) becomes (g, -f) and the rows trade places the same way.
        const uint64_t nf = f ^ ((f ^ g) & swap), ng = g ^ ((g ^ (0 - f)) & swap);
        const uint64_t nu = u ^ ((u ^ q) & swap), nq = q ^ ((q ^ (0 - u)) & swap);
        const uint64_t nv = v ^ ((v ^ r) & swap), nr = r ^ ((r ^ (0 - v)) & swap);
        delta = ((delta ^ swap) - swap) + 1;
        // g is odd now exactly when it was before; add f to make it even,
        // halve it, and double f's row in place of halving g's.
        g = (ng + (nf & odd)) >> 1;
        q = nq + (nu & odd);
        r = nr + (nv & odd);
        f = nf;
        u = nu << 1;
        v = nv << 1;
    }
    t->u = static_cast<int64_t>(u);
    t->v = static_cast<int64_t>(v);
    t->q = static_cast<int64_t>(q);
    t->r = static_cast<int64_t>(r);
    return delta;
}

// (a, b) = (u·a + v·b + ma·m, q·a + r·b + mb·m) / 2^62, a division the
// caller has made exact.
void apply(Signed62 *a, Signed62 *b, const Transition &t, int64_t ma, int64_t mb, const Signed62 &m) {
    i128 ca = 0, cb = 0;
    for (int i = 0; i < 5; ++i) {
        ca += static_cast<i128>(t.u) * a->v[i] + static_cast<i128>(t.v) * b->v[i] +
              static_cast<i128>(ma) * m.v[i];
        cb += static_cast<i128>(t.q) * a->v[i] + static_cast<i128>(t.r) * b->v[i] +
              static_cast<i128>(mb) * m.v[i];
        if (i > 0) {
            a->v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(ca) & kMask62);
            b->v[i - 1] = static_cast<int64_t>(static_cast<uint64_t>(cb) & kMask62);
        }
        ca >>= 62;
        cb >>= 62;
    }
    a->v[4] = static_cast<int64_t>(ca);
    b->v[4] = static_cast<int64_t>(cb);
}

// Carries the lower limbs into [0, 2^62), leaving the sign in the top one.
void carry(Signed62 *a) {
    for (int i = 0; i < 4; ++i) {
        a->v[i + 1] += a->v[i] >> 62;
        a->v[i] &= static_cast<int64_t>(kMask62);
    }
}

// a + (m masked): mask is all ones or zero.
void add_masked(Signed62 *a, const Signed62 &m, int64_t mask) {
    for (int i = 0; i < 5; ++i) a->v[i] += m.v[i] & mask;
    carry(a);
}

// a in (-m, 2m) to [0, m).
void normalize(Signed62 *a, const Signed62 &m, const Signed62 &neg_m) {
    add_masked(a, m, a->v[4] >> 63);
    Signed62 b = *a;
    add_masked(&b, neg_m, -1);
    const int64_t below = b.v[4] >> 63;  // a < m: keep a
    for (int i = 0; i < 5; ++i) a->v[i] = (a->v[i] & below) | (b.v[i] & ~below);
}

// (d, e) = (u·d + v·e, q·d + r·e) / 2^62 mod m, for d, e in [0, m): the
// multiples of m added make the division exact, and the results, in (-m,
// 2m), are brought back into [0, m).
void update_de(Signed62 *d, Signed62 *e, const Transition &t, const Sm2Modulus &mod, const Signed62 &m,
               const Signed62 &neg_m) {
    const uint64_t d0 = static_cast<uint64_t>(d->v[0]), e0 = static_cast<uint64_t>(e->v[0]);
    const uint64_t u = static_cast<uint64_t>(t.u), v = static_cast<uint64_t>(t.v);
    const uint64_t q = static_cast<uint64_t>(t.q), r = static_cast<uint64_t>(t.r);
    const int64_t md = static_cast<int64_t>((0 - (u * d0 + v * e0) * mod.inverse62) & kMask62);
    const int64_t me = static_cast<int64_t>((0 - (q * d0 + r * e0) * mod.inverse62) & kMask62);
    apply(d, e, t, md, me, m);
    normalize(d, m, neg_m);
    normalize(e, m, neg_m);
}

}  // namespace

const Sm2Modulus SM2_FIELD_MODULUS = {
    {0xffffffffffffffffULL, 0xffffffff00000000ULL, 0xffffffffffffffffULL, 0xfffffffeffffffffULL},
    0x3fffffffffffffffULL};
const Sm2Modulus SM2_ORDER_MODULUS = {
    {0x53bbf40939d54123ULL, 0x7203df6b21c6052bULL, 0xffffffffffffffffULL, 0xfffffffeffffffffULL},
    0x0d8061778dcaf68bULL};

void sm2_mod_inverse(uint64_t r[4], const uint64_t a[4], const Sm2Modulus &mod) {
    Signed62 m, neg_m, f, g, d = {}, e = {};
    to_signed62(&m, mod.m);
    for (int i = 0; i < 5; ++i) neg_m.v[i] = -m.v[i];
    f = m;
    to_signed62(&g, a);
    e.v[0] = 1;
    uint64_t delta = 1;
    Transition t;
    for (int b = 0; b < kBatches; ++b) {
        delta = divsteps(delta, static_cast<uint64_t>(f.v[0]) | (static_cast<uint64_t>(f.v[1]) << 62),
                         static_cast<uint64_t>(g.v[0]) | (static_cast<uint64_t>(g.v[1]) << 62), &t);
        apply(&f, &g, t, 0, 0, m);
        update_de(&d, &e, t, mod, m, neg_m);
    }
    // f is now ±1 (or m itself for a = 0, when d is 0): a^-1 = ±d, and
    // -d is taken into [0, m) as m - d, or 0 for d = 0.
    Signed62 minus;
    for (int i = 0; i < 5; ++i) minus.v[i] = -d.v[i];
    carry(&minus);
    add_masked(&minus, m, minus.v[4] >> 63);
    const int64_t negative = f.v[4] >> 63;
    for (int i = 0; i < 5; ++i) d.v[i] = (minus.v[i] & negative) | (d.v[i] & ~negative);
    from_signed62(r, d);
    secure_wipe(&f, sizeof f);
    secure_wipe(&g, sizeof g);
    secure_wipe(&d, sizeof d);
    secure_wipe(&e, sizeof e);
    secure_wipe(&t, sizeof t);
    secure_wipe(&minus, sizeof minus);
}

}  // namespace zenthal
