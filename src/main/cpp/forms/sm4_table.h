// The SM4 tables and block transform, private to the SM4 sources: sm4.cpp
// exports the transform, and the modes in sm4_cbc.cpp inline it, so that a
// mode keeps its chaining value in registers and pays no call per block.
//
// Round i computes X_{i+4} = X_i ^ T(X_{i+1} ^ X_{i+2} ^ X_{i+3} ^ rk[i]).
// Rounds 0-3 and 28-31 (in execution order, for encryption and decryption
// alike) compute T byte-wise: tau through SM4_S, then L with its rotations
// by 2, 10, 18 and 24. Rounds 4-27 use the combined table SM4_SBOX_T:
// T(A) = SM4_SBOX_T[a3] ^ ror(SM4_SBOX_T[a2], 8) ^ ror(SM4_SBOX_T[a1], 16)
//        ^ ror(SM4_SBOX_T[a0], 24), with A = a3||a2||a1||a0.
// The 32 rounds are straight-line code on four local words; decryption is
// the same code with rk[31 - i] in round i.
#ifndef ZENTHAL_SM4_CORE_H
#define ZENTHAL_SM4_CORE_H

#include <cstddef>
#include <cstdint>

#include "forms/sm4_consts.h"
#include "util/byteorder.h"
#include "util/ct.h"

namespace zenthal {

// SM4_SBOX_T: S-box and linear transform combined, for rounds 4-27; entry
// x is L(SM4_S[x] << 24), where L(B) = B ^ (B <<< 2) ^ (B <<< 10) ^
// (B <<< 18) ^ (B <<< 24). Since L is linear and commutes with rotation,
// the byte in position k of A (k = 0 most significant) contributes
// SM4_SBOX_T[byte] >>> 8k to T(A). 64-byte aligned: 16 whole cache lines.
alignas(64) inline constexpr uint32_t SM4_SBOX_T[256] = {
    0x8ED55B5B, 0xD0924242, 0x4DEAA7A7, 0x06FDFBFB, 0xFCCF3333, 0x65E28787, 0xC93DF4F4, 0x6BB5DEDE,
    0x4E165858, 0x6EB4DADA, 0x44145050, 0xCAC10B0B, 0x8828A0A0, 0x17F8EFEF, 0x9C2CB0B0, 0x11051414,
    0x872BACAC, 0xFB669D9D, 0xF2986A6A, 0xAE77D9D9, 0x822AA8A8, 0x46BCFAFA, 0x14041010, 0xCFC00F0F,
    0x02A8AAAA, 0x54451111, 0x5F134C4C, 0xBE269898, 0x6D482525, 0x9E841A1A, 0x1E061818, 0xFD9B6666,
    0xEC9E7272, 0x4A430909, 0x10514141, 0x24F7D3D3, 0xD5934646, 0x53ECBFBF, 0xF89A6262, 0x927BE9E9,
    0xFF33CCCC, 0x04555151, 0x270B2C2C, 0x4F420D0D, 0x59EEB7B7, 0xF3CC3F3F, 0x1CAEB2B2, 0xEA638989,
    0x74E79393, 0x7FB1CECE, 0x6C1C7070, 0x0DABA6A6, 0xEDCA2727, 0x28082020, 0x48EBA3A3, 0xC1975656,
    0x80820202, 0xA3DC7F7F, 0xC4965252, 0x12F9EBEB, 0xA174D5D5, 0xB38D3E3E, 0xC33FFCFC, 0x3EA49A9A,
    0x5B461D1D, 0x1B071C1C, 0x3BA59E9E, 0x0CFFF3F3, 0x3FF0CFCF, 0xBF72CDCD, 0x4B175C5C, 0x52B8EAEA,
    0x8F810E0E, 0x3D586565, 0xCC3CF0F0, 0x7D196464, 0x7EE59B9B, 0x91871616, 0x734E3D3D, 0x08AAA2A2,
    0xC869A1A1, 0xC76AADAD, 0x85830606, 0x7AB0CACA, 0xB570C5C5, 0xF4659191, 0xB2D96B6B, 0xA7892E2E,
    0x18FBE3E3, 0x47E8AFAF, 0x330F3C3C, 0x674A2D2D, 0xB071C1C1, 0x0E575959, 0xE99F7676, 0xE135D4D4,
    0x661E7878, 0xB4249090, 0x360E3838, 0x265F7979, 0xEF628D8D, 0x38596161, 0x95D24747, 0x2AA08A8A,
    0xB1259494, 0xAA228888, 0x8C7DF1F1, 0xD73BECEC, 0x05010404, 0xA5218484, 0x9879E1E1, 0x9B851E1E,
    0x84D75353, 0x00000000, 0x5E471919, 0x0B565D5D, 0xE39D7E7E, 0x9FD04F4F, 0xBB279C9C, 0x1A534949,
    0x7C4D3131, 0xEE36D8D8, 0x0A020808, 0x7BE49F9F, 0x20A28282, 0xD4C71313, 0xE8CB2323, 0xE69C7A7A,
    0x42E9ABAB, 0x43BDFEFE, 0xA2882A2A, 0x9AD14B4B, 0x40410101, 0xDBC41F1F, 0xD838E0E0, 0x61B7D6D6,
    0x2FA18E8E, 0x2BF4DFDF, 0x3AF1CBCB, 0xF6CD3B3B, 0x1DFAE7E7, 0xE5608585, 0x41155454, 0x25A38686,
    0x60E38383, 0x16ACBABA, 0x295C7575, 0x34A69292, 0xF7996E6E, 0xE434D0D0, 0x721A6868, 0x01545555,
    0x19AFB6B6, 0xDF914E4E, 0xFA32C8C8, 0xF030C0C0, 0x21F6D7D7, 0xBC8E3232, 0x75B3C6C6, 0x6FE08F8F,
    0x691D7474, 0x2EF5DBDB, 0x6AE18B8B, 0x962EB8B8, 0x8A800A0A, 0xFE679999, 0xE2C92B2B, 0xE0618181,
    0xC0C30303, 0x8D29A4A4, 0xAF238C8C, 0x07A9AEAE, 0x390D3434, 0x1F524D4D, 0x764F3939, 0xD36EBDBD,
    0x81D65757, 0xB7D86F6F, 0xEB37DCDC, 0x51441515, 0xA6DD7B7B, 0x09FEF7F7, 0xB68C3A3A, 0x932FBCBC,
    0x0F030C0C, 0x03FCFFFF, 0xC26BA9A9, 0xBA73C9C9, 0xD96CB5B5, 0xDC6DB1B1, 0x375A6D6D, 0x15504545,
    0xB98F3636, 0x771B6C6C, 0x13ADBEBE, 0xDA904A4A, 0x57B9EEEE, 0xA9DE7777, 0x4CBEF2F2, 0x837EFDFD,
    0x55114444, 0xBDDA6767, 0x2C5D7171, 0x45400505, 0x631F7C7C, 0x50104040, 0x325B6969, 0xB8DB6363,
    0x220A2828, 0xC5C20707, 0xF531C4C4, 0xA88A2222, 0x31A79696, 0xF9CE3737, 0x977AEDED, 0x49BFF6F6,
    0x992DB4B4, 0xA475D1D1, 0x90D34343, 0x5A124848, 0x58BAE2E2, 0x71E69797, 0x64B6D2D2, 0x70B2C2C2,
    0xAD8B2626, 0xCD68A5A5, 0xCB955E5E, 0x624B2929, 0x3C0C3030, 0xCE945A5A, 0xAB76DDDD, 0x867FF9F9,
    0xF1649595, 0x5DBBE6E6, 0x35F2C7C7, 0x2D092424, 0xD1C61717, 0xD66FB9B9, 0xDEC51B1B, 0x94861212,
    0x78186060, 0x30F3C3C3, 0x897CF5F5, 0x5CEFB3B3, 0xD23AE8E8, 0xACDF7373, 0x794C3535, 0xA0208080,
    0x9D78E5E5, 0x56EDBBBB, 0x235E7D7D, 0xC63EF8F8, 0x8BD45F5F, 0xE7C82F2F, 0xDD39E4E4, 0x68492121};

// The round keys are read from memory as operands of the XORs, inside
// every block: a loop that hoisted the 32 loads out of its body would run
// short of registers and spill on the rounds' critical path.
inline const uint32_t *sm4_keys_in_memory(const uint32_t *rk) {
#if defined(__GNUC__) || defined(__clang__)
    __asm__("" : "+r"(rk));
#endif
    return rk;
}

// Byte k of a (k = 0 least significant) as a table index. Taken in 64 bits,
// so that no zero-extension stands between the extraction and the load.
inline std::size_t sm4_byte(uint32_t a, unsigned k) {
    return static_cast<std::size_t>((static_cast<uint64_t>(a) >> (8 * k)) & 0xFF);
}

// tau(A): each byte of a replaced by its SM4_S entry, in its own position.
// Bits 16-23 need one extraction step more than the other bytes, so their
// substitute is merged last.
inline __attribute__((always_inline)) uint32_t sm4_tau(uint32_t a) {
    const uint32_t rest = opaque32((static_cast<uint32_t>(SM4_S[sm4_byte(a, 3)]) << 24) |
                                   (static_cast<uint32_t>(SM4_S[sm4_byte(a, 1)]) << 8) |
                                   static_cast<uint32_t>(SM4_S[sm4_byte(a, 0)]));
    return rest | (static_cast<uint32_t>(SM4_S[sm4_byte(a, 2)]) << 16);
}

// q ^ T(a), T byte-wise: B = tau(a), then L(B) with rotations 2, 10, 18, 24.
inline __attribute__((always_inline)) uint32_t sm4_round_bytewise(uint32_t a, uint32_t q) {
    const uint32_t b = opaque32(sm4_tau(a));
    const uint32_t u = opaque32((q ^ b) ^ rotl32(b, 2));
    const uint32_t v = rotl32(b, 10) ^ rotl32(b, 18);
    return (u ^ v) ^ rotl32(b, 24);
}

// q ^ T(a), T from the combined table. q is known early; the terms are
// added in the order in which their lookups complete.
inline __attribute__((always_inline)) uint32_t sm4_round_table(uint32_t a, uint32_t q) {
    const uint32_t t3 = SM4_SBOX_T[sm4_byte(a, 3)];
    const uint32_t t2 = SM4_SBOX_T[sm4_byte(a, 2)];
    const uint32_t t1 = SM4_SBOX_T[sm4_byte(a, 1)];
    const uint32_t t0 = SM4_SBOX_T[sm4_byte(a, 0)];
    uint32_t s = opaque32(q ^ t3);
    s = opaque32(s ^ rotr32(t0, 24));
    s = opaque32(s ^ rotr32(t1, 16));
    return s ^ rotr32(t2, 8);
}

// The 32 rounds on the four words x0..x3 = X_0..X_3; on return x0..x3 hold
// X_35, X_34, X_33, X_32, the output words in the order they are written
// (the standard's reverse transform R). Dec selects rk[31 - i] instead of
// rk[i] in round i (resolved at compile time). Each round overwrites the
// oldest word, so the roles rotate from one round to the next.
//
// Latency: besides the four words, the next round's input A is carried in
// a local. For round i with words (a, b, c, d), p = c ^ d ^ rk[i+1] and
// q = p ^ a are formed from older words, off the critical path, and the
// round computes A_{i+1} = q ^ T(A_i) directly, so only the lookups and
// the XORs of T lie between A_i and A_{i+1}; the new word a ^ T(A_i) is
// then A_{i+1} ^ p.
template <bool Dec>
inline __attribute__((always_inline)) void sm4_rounds(uint32_t &x0, uint32_t &x1, uint32_t &x2, uint32_t &x3,
                                                      const uint32_t *rk) {
    rk = sm4_keys_in_memory(rk);
#define SM4_K(i) (Dec ? rk[31 - (i)] : rk[(i)])
    uint32_t A = (x1 ^ x2 ^ SM4_K(0)) ^ x3;
#define SM4_ROUND(F, a, b, c, d, i)                           \
    do {                                                      \
        const uint32_t p_ = opaque32(c ^ d ^ SM4_K((i) + 1)); \
        const uint32_t q_ = opaque32(p_ ^ a);                 \
        A = F(A, q_);                                         \
        a = A ^ p_;                                           \
    } while (0)
#define SM4_RB(a, b, c, d, i) SM4_ROUND(sm4_round_bytewise, a, b, c, d, i)
#define SM4_RT(a, b, c, d, i) SM4_ROUND(sm4_round_table, a, b, c, d, i)
    SM4_RB(x0, x1, x2, x3, 0);
    SM4_RB(x1, x2, x3, x0, 1);
    SM4_RB(x2, x3, x0, x1, 2);
    SM4_RB(x3, x0, x1, x2, 3);
    SM4_RT(x0, x1, x2, x3, 4);
    SM4_RT(x1, x2, x3, x0, 5);
    SM4_RT(x2, x3, x0, x1, 6);
    SM4_RT(x3, x0, x1, x2, 7);
    SM4_RT(x0, x1, x2, x3, 8);
    SM4_RT(x1, x2, x3, x0, 9);
    SM4_RT(x2, x3, x0, x1, 10);
    SM4_RT(x3, x0, x1, x2, 11);
    SM4_RT(x0, x1, x2, x3, 12);
    SM4_RT(x1, x2, x3, x0, 13);
    SM4_RT(x2, x3, x0, x1, 14);
    SM4_RT(x3, x0, x1, x2, 15);
    SM4_RT(x0, x1, x2, x3, 16);
    SM4_RT(x1, x2, x3, x0, 17);
    SM4_RT(x2, x3, x0, x1, 18);
    SM4_RT(x3, x0, x1, x2, 19);
    SM4_RT(x0, x1, x2, x3, 20);
    SM4_RT(x1, x2, x3, x0, 21);
    SM4_RT(x2, x3, x0, x1, 22);
    SM4_RT(x3, x0, x1, x2, 23);
    SM4_RT(x0, x1, x2, x3, 24);
    SM4_RT(x1, x2, x3, x0, 25);
    SM4_RT(x2, x3, x0, x1, 26);
    SM4_RT(x3, x0, x1, x2, 27);
    SM4_RB(x0, x1, x2, x3, 28);
    SM4_RB(x1, x2, x3, x0, 29);
    SM4_RB(x2, x3, x0, x1, 30);
    x3 = sm4_round_bytewise(A, x3);  // round 31: no next round to prepare
#undef SM4_RT
#undef SM4_RB
#undef SM4_ROUND
#undef SM4_K
    const uint32_t x32 = x0, x33 = x1;
    x0 = x3;
    x1 = x2;
    x2 = x33;
    x3 = x32;
}

// Two independent blocks at once, round by round: each block's rounds form
// one long dependency chain, and interleaving two of them lets the processor
// run the second in the gaps of the first. Block a runs under rka (DecA:
// rka[31 - i] in round i), block b under rkb (DecB likewise); with Shared
// the two blocks use one key record, rka, and each round key is loaded once.
// CBC decryption pairs two blocks under one key; sealing pairs the CBC chain
// with the MAC chain, and opening pairs a decryption with a MAC step, each
// under its own key. a0..a3 and b0..b3 as x0..x3 of sm4_rounds.
template <bool DecA, bool DecB, bool Shared>
inline __attribute__((always_inline)) void sm4_rounds_pair(uint32_t &a0, uint32_t &a1, uint32_t &a2,
                                                           uint32_t &a3, uint32_t &b0, uint32_t &b1,
                                                           uint32_t &b2, uint32_t &b3, const uint32_t *rka,
                                                           const uint32_t *rkb) {
    static_assert(!Shared || DecA == DecB, "one key record serves one direction");
    rka = sm4_keys_in_memory(rka);
    if (!Shared) rkb = sm4_keys_in_memory(rkb);
#define SM4_KA(i) (DecA ? rka[31 - (i)] : rka[(i)])
#define SM4_KB(i) (DecB ? rkb[31 - (i)] : rkb[(i)])
    uint32_t A = (a1 ^ a2 ^ SM4_KA(0)) ^ a3;
    uint32_t B = (b1 ^ b2 ^ (Shared ? SM4_KA(0) : SM4_KB(0))) ^ b3;
#define SM4_ROUND2(F, a, b, c, d, e, f, g, h, i)             \
    do {                                                     \
        const uint32_t ka_ = SM4_KA((i) + 1);                \
        const uint32_t kb_ = Shared ? ka_ : SM4_KB((i) + 1); \
        const uint32_t p_ = opaque32(c ^ d ^ ka_);           \
        const uint32_t q_ = opaque32(p_ ^ a);                \
        const uint32_t r_ = opaque32(g ^ h ^ kb_);           \
        const uint32_t s_ = opaque32(r_ ^ e);                \
        A = F(A, q_);                                        \
        B = F(B, s_);                                        \
        a = A ^ p_;                                          \
        e = B ^ r_;                                          \
    } while (0)
#define SM4_RB2(i, a, b, c, d, e, f, g, h) SM4_ROUND2(sm4_round_bytewise, a, b, c, d, e, f, g, h, i)
#define SM4_RT2(i, a, b, c, d, e, f, g, h) SM4_ROUND2(sm4_round_table, a, b, c, d, e, f, g, h, i)
#define SM4_R4(R, i)                            \
    R((i) + 0, a0, a1, a2, a3, b0, b1, b2, b3); \
    R((i) + 1, a1, a2, a3, a0, b1, b2, b3, b0); \
    R((i) + 2, a2, a3, a0, a1, b2, b3, b0, b1); \
    R((i) + 3, a3, a0, a1, a2, b3, b0, b1, b2)
    SM4_R4(SM4_RB2, 0);
    SM4_R4(SM4_RT2, 4);
    SM4_R4(SM4_RT2, 8);
    SM4_R4(SM4_RT2, 12);
    SM4_R4(SM4_RT2, 16);
    SM4_R4(SM4_RT2, 20);
    SM4_R4(SM4_RT2, 24);
    SM4_RB2(28, a0, a1, a2, a3, b0, b1, b2, b3);
    SM4_RB2(29, a1, a2, a3, a0, b1, b2, b3, b0);
    SM4_RB2(30, a2, a3, a0, a1, b2, b3, b0, b1);
    a3 = sm4_round_bytewise(A, a3);
    b3 = sm4_round_bytewise(B, b3);
#undef SM4_R4
#undef SM4_RT2
#undef SM4_RB2
#undef SM4_ROUND2
#undef SM4_KB
#undef SM4_KA
    uint32_t t = a0;
    a0 = a3;
    a3 = t;
    t = a1;
    a1 = a2;
    a2 = t;
    t = b0;
    b0 = b3;
    b3 = t;
    t = b1;
    b1 = b2;
    b2 = t;
}

// Two blocks under one key record (CBC decryption).
template <bool Dec>
inline __attribute__((always_inline)) void sm4_rounds2(uint32_t &a0, uint32_t &a1, uint32_t &a2, uint32_t &a3,
                                                       uint32_t &b0, uint32_t &b1, uint32_t &b2, uint32_t &b3,
                                                       const uint32_t *rk) {
    sm4_rounds_pair<Dec, Dec, true>(a0, a1, a2, a3, b0, b1, b2, b3, rk, rk);
}

// The block transform on bytes: all 16 input bytes are read before any
// output byte is written, so in and out may overlap in any way.
template <bool Dec>
inline __attribute__((always_inline)) void sm4_crypt(const uint8_t in[16], uint8_t out[16],
                                                     const uint32_t *rk) {
    uint32_t x0 = load32_be(in), x1 = load32_be(in + 4), x2 = load32_be(in + 8), x3 = load32_be(in + 12);
    sm4_rounds<Dec>(x0, x1, x2, x3, rk);
    store32_be(out, x0);
    store32_be(out + 4, x1);
    store32_be(out + 8, x2);
    store32_be(out + 12, x3);
}

}  // namespace zenthal

#endif
