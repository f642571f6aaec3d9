// Derives the constants that let the SM4 S-box be computed without a table
// lookup, through the GF(2^8) inversion that GFNI and AES-NI perform, and
// checks every one of them against SM4_S for all 256 inputs.
//
// The SM4 S-box is S(x) = A·inv(A·x ^ 0xD3) ^ 0xD3, the inverse taken modulo
// x^8+x^7+x^6+x^5+x^4+x^2+1 (0x1F5) and A the circulant bit matrix made from
// 0xA7. GFNI and AES-NI invert modulo the AES polynomial 0x11B instead; the
// two fields are isomorphic, and the isomorphism M (a bit matrix, found from
// a root of 0x1F5 in the AES field) folds into the affine maps on either
// side: S(x) = (A·M⁻¹)·inv_AES(M·A·x ^ M·0xD3) ^ 0xD3.
//
// For the serial chains of the AES-NI form it also derives a shortened
// round (see the header it prints) and checks it against the table form.
//
// Printed: sm4_sbox_consts.h, the header the vector forms include. The
// test suite runs this program and compares its output with the committed
// header, so the two cannot drift apart.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "forms/sm4_table.h"

namespace {

using Mat = uint8_t[8];  // row i: the input bits that make output bit i

uint8_t mul(uint8_t a, uint8_t b, unsigned poly) {
    unsigned r = 0, x = a;
    for (int i = 0; i < 8; ++i) {
        if (b >> i & 1) r ^= x;
        x <<= 1;
        if (x & 0x100) x ^= poly;
    }
    return static_cast<uint8_t>(r);
}

uint8_t inv(uint8_t a, unsigned poly) {  // a^254, with inv(0) = 0
    uint8_t r = 1;
    for (int i = 0; i < 254; ++i) r = mul(r, a, poly);
    return a == 0 ? 0 : r;
}

int parity(unsigned v) { return __builtin_parity(v); }

uint8_t apply(const Mat m, uint8_t x) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) r |= static_cast<uint8_t>(parity(m[i] & x) << i);
    return r;
}

void compose(const Mat a, const Mat b, Mat out) {  // out = a·b
    Mat r = {};
    for (int col = 0; col < 8; ++col) {
        const uint8_t v = apply(a, apply(b, static_cast<uint8_t>(1u << col)));
        for (int i = 0; i < 8; ++i) r[i] |= static_cast<uint8_t>((v >> i & 1) << col);
    }
    for (int i = 0; i < 8; ++i) out[i] = r[i];
}

void from_columns(const uint8_t col[8], Mat out) {
    for (int i = 0; i < 8; ++i) {
        out[i] = 0;
        for (int c = 0; c < 8; ++c) out[i] |= static_cast<uint8_t>((col[c] >> i & 1) << c);
    }
}

bool invert(const Mat m, Mat out) {
    uint8_t col[8];
    for (int c = 0; c < 8; ++c) col[c] = 0;
    // Brute force over the 256 inputs: the image of each basis vector.
    for (unsigned x = 0; x < 256; ++x) {
        const uint8_t y = apply(m, static_cast<uint8_t>(x));
        for (int c = 0; c < 8; ++c)
            if (y == (1u << c)) col[c] = static_cast<uint8_t>(x);
    }
    from_columns(col, out);
    for (int c = 0; c < 8; ++c)
        if (apply(m, apply(out, static_cast<uint8_t>(1u << c))) != (1u << c)) return false;
    return true;
}

// GFNI's form of a matrix: byte 7 - i of the quadword holds row i.
uint64_t gfni_qword(const Mat m) {
    uint64_t q = 0;
    for (int i = 0; i < 8; ++i) q |= static_cast<uint64_t>(m[i]) << (8 * (7 - i));
    return q;
}

// The instructions as the architecture manual defines them.
uint8_t gf2p8affine(uint64_t matrix, uint8_t x, uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        r |= static_cast<uint8_t>(parity(static_cast<uint8_t>(matrix >> (8 * (7 - i))) & x) << i);
    return static_cast<uint8_t>(r ^ b);
}

uint8_t gf2p8affineinv(uint64_t matrix, uint8_t x, uint8_t b) {
    return gf2p8affine(matrix, inv(x, 0x11B), b);
}

uint8_t aes_sbox(uint8_t x) {
    const uint8_t y = inv(x, 0x11B);
    uint8_t r = 0x63;
    for (int i = 0; i < 8; ++i) {
        const int bit = (y >> i & 1) ^ (y >> ((i + 4) % 8) & 1) ^ (y >> ((i + 5) % 8) & 1) ^
                        (y >> ((i + 6) % 8) & 1) ^ (y >> ((i + 7) % 8) & 1);
        r ^= static_cast<uint8_t>(bit << i);
    }
    return r;
}

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "sm4_sbox_gen: %s\n", what);
    std::exit(1);
}

void print_table(const char *name, const uint8_t t[16]) {
    std::printf("alignas(16) inline constexpr uint8_t %s[16] = {\n   ", name);
    for (int i = 0; i < 16; ++i) std::printf(" 0x%02X%s", t[i], i == 15 ? "" : ",");
    std::printf("};\n");
}

// An affine map on bytes as two 16-entry tables, for a byte shuffle: the
// low nibble's table carries the constant.
void nibble_tables(const Mat m, uint8_t c, uint8_t lo[16], uint8_t hi[16]) {
    for (unsigned n = 0; n < 16; ++n) {
        lo[n] = static_cast<uint8_t>(apply(m, static_cast<uint8_t>(n)) ^ c);
        hi[n] = apply(m, static_cast<uint8_t>(n << 4));
    }
}

}  // namespace

int main() {
    const uint8_t c = 0xD3;
    const uint8_t *const S = zenthal::SM4_S;

    // A: the circulant made from 0xA7. Row i is 0xA7 rotated so that the
    // construction reproduces the S-box; both directions are tried.
    Mat A;
    bool found = false;
    for (int dir = 0; dir < 2 && !found; ++dir) {
        for (int i = 0; i < 8; ++i) {
            const unsigned s = dir ? (8 - i) % 8 : i;
            A[i] = static_cast<uint8_t>((0xA7u << s | 0xA7u >> ((8 - s) % 8)) & 0xFF);
        }
        found = true;
        for (unsigned x = 0; x < 256 && found; ++x)
            found = (apply(A, inv(apply(A, static_cast<uint8_t>(x)) ^ c, 0x1F5)) ^ c) == S[x];
    }
    if (!found) fail("S(x) = A·inv(A·x ^ 0xD3) ^ 0xD3 does not reproduce SM4_S");

    // M: x^i in the SM4 field goes to beta^i in the AES field, beta a root
    // of 0x1F5 there. Any root gives a field isomorphism; take the first.
    Mat M, Minv;
    found = false;
    for (unsigned beta = 2; beta < 256 && !found; ++beta) {
        uint8_t col[8], p = 1;
        for (int i = 0; i < 8; ++i) {
            col[i] = p;
            p = mul(p, static_cast<uint8_t>(beta), 0x11B);
        }
        // p = beta^8; a root when beta^8 = beta^7+beta^6+beta^5+beta^4+beta^2+1.
        const uint8_t rhs = col[7] ^ col[6] ^ col[5] ^ col[4] ^ col[2] ^ col[0];
        if (p != rhs) continue;
        from_columns(col, M);
        found = invert(M, Minv);
    }
    if (!found) fail("no isomorphism between the fields");
    for (unsigned a = 0; a < 256; ++a)
        for (unsigned b = 0; b < 256; ++b)
            if (apply(M, mul(static_cast<uint8_t>(a), static_cast<uint8_t>(b), 0x1F5)) !=
                mul(apply(M, static_cast<uint8_t>(a)), apply(M, static_cast<uint8_t>(b)), 0x11B))
                fail("M is not multiplicative");

    Mat MA, AMinv;
    compose(M, A, MA);
    compose(A, Minv, AMinv);
    const uint8_t Mc = apply(M, c);

    // GFNI: one affine map into the AES field, one inversion with the
    // affine map out.
    const uint64_t pre = gfni_qword(MA), post = gfni_qword(AMinv);
    for (unsigned x = 0; x < 256; ++x)
        if (gf2p8affineinv(post, gf2p8affine(pre, static_cast<uint8_t>(x), Mc), c) != S[x])
            fail("GFNI constants do not reproduce SM4_S");

    // AES-NI: AESENCLAST with a zero round key gives ShiftRows(SubBytes(y)),
    // SubBytes(y) = Aaes·inv(y) ^ 0x63. Undo Aaes and 0x63 in the map out.
    Mat Aaes, AaesInv, B;
    for (int i = 0; i < 8; ++i)
        Aaes[i] = static_cast<uint8_t>(1u << i | 1u << (i + 4) % 8 | 1u << (i + 5) % 8 | 1u << (i + 6) % 8 |
                                       1u << (i + 7) % 8);
    if (!invert(Aaes, AaesInv)) fail("the AES affine map is not invertible");
    compose(AMinv, AaesInv, B);
    const uint8_t d = static_cast<uint8_t>(apply(B, 0x63) ^ c);
    uint8_t in_lo[16], in_hi[16], out_lo[16], out_hi[16];
    nibble_tables(MA, Mc, in_lo, in_hi);
    nibble_tables(B, d, out_lo, out_hi);
    for (unsigned x = 0; x < 256; ++x) {
        const uint8_t y = in_lo[x & 15] ^ in_hi[x >> 4];
        const uint8_t s = aes_sbox(y);
        if ((out_lo[s & 15] ^ out_hi[s >> 4]) != S[x]) fail("AES-NI tables do not reproduce SM4_S");
    }

    // The AES-NI round for serial chains, shortened: the state words are
    // kept as y = MA·x (per byte), so the map into the AES field costs one
    // XOR, and the map out of it, the linear transform L and MA on the next
    // input fold into one linear map F of the AESENCLAST output. F moves
    // bits between the bytes of a word only as L's rotations do, so output
    // byte k is the sum over d of G_d(input byte k - d): four byte-wise
    // maps, each two nibble lookups, then a byte rotation by d.
    // The round: y4 = y0 ^ K ^ F(SubBytes(y1 ^ y2 ^ y3 ^ MA·rk ^ Mc)).
    Mat G[4];
    const Mat &Bm = B;
    auto L32 = [](uint32_t b) {
        auto rl = [](uint32_t v, int n) { return (v << n) | (v >> (32 - n)); };
        return b ^ rl(b, 2) ^ rl(b, 10) ^ rl(b, 18) ^ rl(b, 24);
    };
    auto per_byte = [](const Mat m, uint32_t w) {
        uint32_t r = 0;
        for (int k = 0; k < 4; ++k)
            r |= static_cast<uint32_t>(apply(m, static_cast<uint8_t>(w >> (8 * k)))) << (8 * k);
        return r;
    };
    for (int dd = 0; dd < 4; ++dd) {
        uint8_t col[8];
        for (int bit = 0; bit < 8; ++bit) {
            const uint32_t out = per_byte(MA, L32(per_byte(Bm, 1u << bit)));  // input in byte 0
            col[bit] = static_cast<uint8_t>(out >> (8 * dd));
        }
        from_columns(col, G[dd]);
    }
    // Circulant over byte positions: the same maps from every input byte.
    for (int j = 0; j < 4; ++j)
        for (int bit = 0; bit < 8; ++bit) {
            const uint32_t out = per_byte(MA, L32(per_byte(Bm, 1u << (8 * j + bit))));
            for (int k = 0; k < 4; ++k)
                if (static_cast<uint8_t>(out >> (8 * k)) !=
                    apply(G[(k - j + 4) % 4], static_cast<uint8_t>(1u << bit)))
                    fail("F is not circulant over byte positions");
        }
    // K = MA·L(d d d d) per byte: the constant of the map out.
    const uint32_t dw = 0x01010101u * d;
    const uint32_t Kw = per_byte(MA, L32(dw));
    const uint8_t K = static_cast<uint8_t>(Kw);
    if (Kw != 0x01010101u * K) fail("K is not the same in every byte");
    Mat MAinv;
    if (!invert(MA, MAinv)) fail("MA is not invertible");
    // Check the shortened round against the table over many words.
    uint32_t seed = 1;
    for (int trial = 0; trial < 200000; ++trial) {
        seed = seed * 1103515245u + 12345u;
        const uint32_t x = seed ^ (seed >> 13) * 2654435761u;
        uint32_t tau = 0;
        for (int k = 0; k < 4; ++k) tau |= static_cast<uint32_t>(S[(x >> (8 * k)) & 0xFF]) << (8 * k);
        const uint32_t want = L32(tau);
        uint32_t sub = 0;  // SubBytes(MA·x ^ Mc), ShiftRows aside
        for (int k = 0; k < 4; ++k)
            sub |= static_cast<uint32_t>(
                       aes_sbox(static_cast<uint8_t>(apply(MA, static_cast<uint8_t>(x >> (8 * k))) ^ Mc)))
                   << (8 * k);
        uint32_t f = 0;
        for (int k = 0; k < 4; ++k)
            for (int dd = 0; dd < 4; ++dd)
                f ^=
                    static_cast<uint32_t>(apply(G[dd], static_cast<uint8_t>(sub >> (8 * ((k - dd + 4) % 4)))))
                    << (8 * k);
        if (per_byte(MAinv, f ^ Kw) != want) fail("the shortened round does not match the table");
    }
    // The GFNI round for serial chains: every state word held per byte in
    // the domain D = MA, round keys as rk' = D·rk ^ Mc. A round is then
    //   y = D(X1) ^ D(X2) ^ D(X3) ^ rk',
    //   D(X4) = D(X0) ^ XOR over j of rotl_8j(P_j·inv_AES(y) ^ b_j),
    // four independent gf2p8affineinvqb on y. D·L·(A·M⁻¹) moves bits between
    // the bytes of a word only as L's rotations do, so output byte k is the
    // sum over j of P_j(byte k - j of inv(y)); its constant part D·L(c c c c)
    // is the same in every byte and goes into b_0 alone.
    Mat P[4];
    for (int jj = 0; jj < 4; ++jj) {
        uint8_t col[8];
        for (int bit = 0; bit < 8; ++bit) {
            const uint32_t out = per_byte(MA, L32(per_byte(AMinv, 1u << bit)));
            col[bit] = static_cast<uint8_t>(out >> (8 * jj));
        }
        from_columns(col, P[jj]);
    }
    for (int j = 0; j < 4; ++j)
        for (int bit = 0; bit < 8; ++bit) {
            const uint32_t out = per_byte(MA, L32(per_byte(AMinv, 1u << (8 * j + bit))));
            for (int k = 0; k < 4; ++k)
                if (static_cast<uint8_t>(out >> (8 * k)) !=
                    apply(P[(k - j + 4) % 4], static_cast<uint8_t>(1u << bit)))
                    fail("D·L·(A·M⁻¹) is not circulant over byte positions");
        }
    const uint32_t cw = per_byte(MA, L32(0x01010101u * c));
    const uint8_t b0 = static_cast<uint8_t>(cw);
    if (cw != 0x01010101u * b0) fail("D·L(c c c c) is not the same in every byte");
    uint64_t pq[4];
    for (int j = 0; j < 4; ++j) pq[j] = gfni_qword(P[j]);
    const uint64_t dq = gfni_qword(MA), dinvq = gfni_qword(MAinv);
    auto rotl8 = [](uint32_t v, int n) { return n == 0 ? v : (v << (8 * n)) | (v >> (32 - 8 * n)); };
    auto affine_word = [&](uint64_t m, uint32_t w, uint8_t b) {
        uint32_t r = 0;
        for (int k = 0; k < 4; ++k)
            r |= static_cast<uint32_t>(gf2p8affine(m, static_cast<uint8_t>(w >> (8 * k)), b)) << (8 * k);
        return r;
    };
    auto affineinv_word = [&](uint64_t m, uint32_t w, uint8_t b) {
        uint32_t r = 0;
        for (int k = 0; k < 4; ++k)
            r |= static_cast<uint32_t>(gf2p8affineinv(m, static_cast<uint8_t>(w >> (8 * k)), b)) << (8 * k);
        return r;
    };
    // 32-round chains on random words and round keys, against the table
    // round, the way the vector code runs them: y carried in its four byte
    // rotations, the rotations of the terms done by lining the four results
    // up, the state words recovered off the chain, D⁻¹ at the end.
    for (int trial = 0; trial < 2000; ++trial) {
        uint32_t X[36], rk[32], Z[36];
        for (int i = 0; i < 4; ++i) {
            seed = seed * 1103515245u + 12345u;
            X[i] = seed ^ (seed >> 13) * 2654435761u;
        }
        for (int i = 0; i < 32; ++i) {
            seed = seed * 1103515245u + 12345u;
            rk[i] = seed ^ (seed >> 11) * 2246822519u;
        }
        for (int i = 0; i < 32; ++i) {
            const uint32_t a = X[i + 1] ^ X[i + 2] ^ X[i + 3] ^ rk[i];
            uint32_t tau = 0;
            for (int k = 0; k < 4; ++k) tau |= static_cast<uint32_t>(S[(a >> (8 * k)) & 0xFF]) << (8 * k);
            X[i + 4] = X[i] ^ L32(tau);
        }
        uint32_t rkd[33];
        for (int i = 0; i < 32; ++i) rkd[i] = affine_word(dq, rk[i], Mc);
        rkd[32] = 0;
        for (int i = 0; i < 4; ++i) Z[i] = affine_word(dq, X[i], 0);
        uint32_t y[4];  // y in dword m rotated left by 8m
        for (int m = 0; m < 4; ++m) y[m] = rotl8(Z[1] ^ Z[2] ^ Z[3] ^ rkd[0], m);
        for (int i = 0; i < 32; ++i) {
            uint32_t t[4][4];
            for (int j = 0; j < 4; ++j)
                for (int m = 0; m < 4; ++m) t[j][m] = affineinv_word(pq[j], y[m], j == 0 ? b0 : 0);
            uint32_t next[4];
            for (int m = 0; m < 4; ++m) {
                const uint32_t q = rotl8(Z[i + 2] ^ Z[i + 3] ^ rkd[i + 1], m);
                next[m] =
                    q ^ rotl8(Z[i], m) ^ t[0][m] ^ t[1][(m + 1) % 4] ^ t[2][(m + 2) % 4] ^ t[3][(m + 3) % 4];
            }
            Z[i + 4] = next[0] ^ Z[i + 2] ^ Z[i + 3] ^ rkd[i + 1];
            for (int m = 0; m < 4; ++m) y[m] = next[m];
        }
        for (int i = 32; i < 36; ++i)
            if (affine_word(dinvq, Z[i], 0) != X[i]) fail("the GFNI serial round does not match the table");
    }
    uint8_t y_lo[16], y_hi[16], x_lo[16], x_hi[16], f_lo[4][16], f_hi[4][16];
    nibble_tables(MA, 0, y_lo, y_hi);
    nibble_tables(MAinv, 0, x_lo, x_hi);
    for (int dd = 0; dd < 4; ++dd) nibble_tables(G[dd], 0, f_lo[dd], f_hi[dd]);

    std::printf(
        "// Generated by tools/sm4_sbox_gen.cpp, which checks every constant here\n"
        "// against SM4_S for all 256 inputs; do not edit by hand.\n"
        "//\n"
        "// S(x) = (A·M⁻¹)·inv_AES(M·A·x ^ M·0xD3) ^ 0xD3, where A is the SM4\n"
        "// S-box's circulant matrix and M the isomorphism from the SM4 S-box's\n"
        "// field (0x1F5) to the AES field (0x11B).\n"
        "#ifndef ZENTHAL_SM4_SBOX_CONSTS_H\n"
        "#define ZENTHAL_SM4_SBOX_CONSTS_H\n\n"
        "#include <cstdint>\n\n"
        "namespace zenthal {\n\n"
        "// GFNI: gf2p8affineqb(x, SM4_GFNI_PRE, SM4_GFNI_PRE_C), then\n"
        "// gf2p8affineinvqb(that, SM4_GFNI_POST, SM4_GFNI_POST_C).\n"
        "inline constexpr uint64_t SM4_GFNI_PRE = 0x%016llX;\n"
        "inline constexpr uint8_t SM4_GFNI_PRE_C = 0x%02X;\n"
        "inline constexpr uint64_t SM4_GFNI_POST = 0x%016llX;\n"
        "inline constexpr uint8_t SM4_GFNI_POST_C = 0x%02X;\n\n"
        "// AES-NI: y = IN_LO[x & 15] ^ IN_HI[x >> 4]; s = SubBytes(y) (AESENCLAST\n"
        "// with a zero round key, ShiftRows undone); S(x) = OUT_LO[s & 15] ^\n"
        "// OUT_HI[s >> 4]. Byte shuffles look these up in registers.\n",
        static_cast<unsigned long long>(pre), Mc, static_cast<unsigned long long>(post), c);
    print_table("SM4_AESNI_IN_LO", in_lo);
    print_table("SM4_AESNI_IN_HI", in_hi);
    print_table("SM4_AESNI_OUT_LO", out_lo);
    print_table("SM4_AESNI_OUT_HI", out_hi);
    std::printf(
        "\n// AES-NI for serial chains: state words held as y = MA·x per byte\n"
        "// (SM4_AESNI_Y_*, back with SM4_AESNI_X_*), round keys as MA·rk ^ Mc\n"
        "// (the IN tables). A round is y4 = y0 ^ K ^ F(s), s = AESENCLAST(y1 ^ y2\n"
        "// ^ y3 ^ rk', 0), where byte k of F(s) is the XOR over d of\n"
        "// F_d(byte k - d of s): F_LO[d][s & 15] ^ F_HI[d][s >> 4].\n"
        "inline constexpr uint8_t SM4_AESNI_K = 0x%02X;\n",
        K);
    print_table("SM4_AESNI_Y_LO", y_lo);
    print_table("SM4_AESNI_Y_HI", y_hi);
    print_table("SM4_AESNI_X_LO", x_lo);
    print_table("SM4_AESNI_X_HI", x_hi);
    const char *const names[8] = {"SM4_AESNI_F0_LO", "SM4_AESNI_F0_HI", "SM4_AESNI_F1_LO", "SM4_AESNI_F1_HI",
                                  "SM4_AESNI_F2_LO", "SM4_AESNI_F2_HI", "SM4_AESNI_F3_LO", "SM4_AESNI_F3_HI"};
    for (int dd = 0; dd < 4; ++dd) {
        print_table(names[2 * dd], f_lo[dd]);
        print_table(names[2 * dd + 1], f_hi[dd]);
    }
    std::printf(
        "\n// GFNI for serial chains: state words held per byte as D·x, D =\n"
        "// SM4_GFNI_D (gf2p8affineqb, constant 0), back with SM4_GFNI_DINV; round\n"
        "// keys as D·rk ^ SM4_GFNI_PRE_C. A round is y = D(X1) ^ D(X2) ^ D(X3) ^\n"
        "// rk', D(X4) = D(X0) ^ XOR over j of rotl_8j(gf2p8affineinvqb(y,\n"
        "// SM4_GFNI_P[j], j == 0 ? SM4_GFNI_P0_C : 0)).\n"
        "inline constexpr uint64_t SM4_GFNI_D = 0x%016llX;\n"
        "inline constexpr uint64_t SM4_GFNI_DINV = 0x%016llX;\n"
        "inline constexpr uint64_t SM4_GFNI_P[4] = {0x%016llX, 0x%016llX,\n"
        "                                           0x%016llX, 0x%016llX};\n"
        "inline constexpr uint8_t SM4_GFNI_P0_C = 0x%02X;\n",
        static_cast<unsigned long long>(dq), static_cast<unsigned long long>(dinvq),
        static_cast<unsigned long long>(pq[0]), static_cast<unsigned long long>(pq[1]),
        static_cast<unsigned long long>(pq[2]), static_cast<unsigned long long>(pq[3]), b0);
    std::printf("\n}  // namespace zenthal\n\n#endif\n");
    return 0;
}
