// The SM4 vector forms for x86-64, written once over the register width and
// included by each form's source, which defines first, for every register
// type it uses:
//   sbox(x)  the SM4 S-box on every byte of x, without a memory access;
//   and, where AVX-512VL offers them, rotl<n>(x) and ternlog_xor3(a, b, c)
//   with SM4_X86_TERNLOG defined (else rotl is the shifts below).
// Everything here has internal linkage: each form's source is compiled with
// its own instruction-set flags, and nothing of it may be shared with code
// that runs on processors without them.
//
// Blocks are held transposed: register j holds word j of 4, 8 or 16 blocks,
// so a round runs on as many blocks as the register has 32-bit lanes.
// Nothing here branches on, or computes an address from, key or data.
#ifndef ZENTHAL_SM4_X86_BODY_H
#define ZENTHAL_SM4_X86_BODY_H

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sm4_forms.h"

namespace {

// A wipe the optimiser may not drop.
inline void zenthal_x86_wipe(void *p, std::size_t n) {
    std::memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

// Overloads by register width.
inline __m128i vxor(__m128i a, __m128i b) { return _mm_xor_si128(a, b); }
inline __m128i vshuf(__m128i a, __m128i idx) { return _mm_shuffle_epi8(a, idx); }
inline __m128i vbcast(const uint32_t *p, __m128i) { return _mm_set1_epi32(static_cast<int>(*p)); }
inline __m128i vload(const uint8_t *p, __m128i) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline void vstore(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }
// pshufb's index vectors, repeated in every 128-bit lane.
inline __m128i vidx(__m128i, __m128i i) { return i; }
inline void transpose(__m128i &a, __m128i &b, __m128i &c, __m128i &d) {
    const __m128i t0 = _mm_unpacklo_epi32(a, b), t1 = _mm_unpackhi_epi32(a, b);
    const __m128i t2 = _mm_unpacklo_epi32(c, d), t3 = _mm_unpackhi_epi32(c, d);
    a = _mm_unpacklo_epi64(t0, t2);
    b = _mm_unpackhi_epi64(t0, t2);
    c = _mm_unpacklo_epi64(t1, t3);
    d = _mm_unpackhi_epi64(t1, t3);
}

inline __m256i vxor(__m256i a, __m256i b) { return _mm256_xor_si256(a, b); }
inline __m256i vshuf(__m256i a, __m256i idx) { return _mm256_shuffle_epi8(a, idx); }
inline __m256i vbcast(const uint32_t *p, __m256i) { return _mm256_set1_epi32(static_cast<int>(*p)); }
inline __m256i vload(const uint8_t *p, __m256i) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }
inline void vstore(uint8_t *p, __m256i v) { _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v); }
inline __m256i vidx(__m256i, __m128i i) { return _mm256_broadcastsi128_si256(i); }
inline void transpose(__m256i &a, __m256i &b, __m256i &c, __m256i &d) {
    const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpackhi_epi32(a, b);
    const __m256i t2 = _mm256_unpacklo_epi32(c, d), t3 = _mm256_unpackhi_epi32(c, d);
    a = _mm256_unpacklo_epi64(t0, t2);
    b = _mm256_unpackhi_epi64(t0, t2);
    c = _mm256_unpacklo_epi64(t1, t3);
    d = _mm256_unpackhi_epi64(t1, t3);
}

#ifdef __AVX512F__
inline __m512i vxor(__m512i a, __m512i b) { return _mm512_xor_si512(a, b); }
inline __m512i vshuf(__m512i a, __m512i idx) { return _mm512_shuffle_epi8(a, idx); }
inline __m512i vbcast(const uint32_t *p, __m512i) { return _mm512_set1_epi32(static_cast<int>(*p)); }
inline __m512i vload(const uint8_t *p, __m512i) { return _mm512_loadu_si512(p); }
inline void vstore(uint8_t *p, __m512i v) { _mm512_storeu_si512(p, v); }
inline __m512i vidx(__m512i, __m128i i) { return _mm512_broadcast_i32x4(i); }
inline void transpose(__m512i &a, __m512i &b, __m512i &c, __m512i &d) {
    const __m512i t0 = _mm512_unpacklo_epi32(a, b), t1 = _mm512_unpackhi_epi32(a, b);
    const __m512i t2 = _mm512_unpacklo_epi32(c, d), t3 = _mm512_unpackhi_epi32(c, d);
    a = _mm512_unpacklo_epi64(t0, t2);
    b = _mm512_unpackhi_epi64(t0, t2);
    c = _mm512_unpacklo_epi64(t1, t3);
    d = _mm512_unpackhi_epi64(t1, t3);
}
#endif

#ifndef SM4_X86_TERNLOG
// A rotation of every 32-bit lane, as two shifts.
template <int N>
inline __m128i rotl(__m128i x) { return _mm_or_si128(_mm_slli_epi32(x, N), _mm_srli_epi32(x, 32 - N)); }
template <int N>
inline __m256i rotl(__m256i x) {
    return _mm256_or_si256(_mm256_slli_epi32(x, N), _mm256_srli_epi32(x, 32 - N));
}
#endif

// The rounds are unrolled whole: their keys then come from fixed offsets.
#if defined(__clang__)
#define SM4_X86_UNROLL _Pragma("unroll")
#else
#define SM4_X86_UNROLL _Pragma("GCC unroll 8")
#endif

// Byte shuffles within each 32-bit lane: big-endian words to integers and
// back, and rotations by whole bytes.
inline __m128i idx_bswap() { return _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12); }
inline __m128i idx_rol8() { return _mm_setr_epi8(3, 0, 1, 2, 7, 4, 5, 6, 11, 8, 9, 10, 15, 12, 13, 14); }
inline __m128i idx_rol16() { return _mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13); }
inline __m128i idx_rol24() { return _mm_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12); }

// L(B) = B ^ (B <<< 2) ^ (B <<< 10) ^ (B <<< 18) ^ (B <<< 24), and
// (B <<< 2) ^ (B <<< 10) ^ (B <<< 18) = (B ^ (B <<< 8) ^ (B <<< 16)) <<< 2:
// three byte shuffles and one true rotation.
template <class R>
inline R linear(R b) {
#ifdef SM4_X86_TERNLOG
    const R t = ternlog_xor3(b, vshuf(b, vidx(b, idx_rol8())), vshuf(b, vidx(b, idx_rol16())));
    return ternlog_xor3(b, vshuf(b, vidx(b, idx_rol24())), rotl<2>(t));
#else
    const R t = vxor(vxor(b, vshuf(b, vidx(b, idx_rol8()))), vshuf(b, vidx(b, idx_rol16())));
    return vxor(vxor(b, vshuf(b, vidx(b, idx_rol24()))), rotl<2>(t));
#endif
}

// The 32 rounds on transposed words; key(i) gives round i's key for every
// lane. On return x0..x3 hold X35, X34, X33, X32, the output words.
template <class R, class Key>
inline void rounds(R &x0, R &x1, R &x2, R &x3, Key key) {
    SM4_X86_UNROLL
    for (int i = 0; i < 32; i += 4) {
        x0 = vxor(x0, linear(sbox(vxor(vxor(x1, x2), vxor(x3, key(i))))));
        x1 = vxor(x1, linear(sbox(vxor(vxor(x2, x3), vxor(x0, key(i + 1))))));
        x2 = vxor(x2, linear(sbox(vxor(vxor(x3, x0), vxor(x1, key(i + 2))))));
        x3 = vxor(x3, linear(sbox(vxor(vxor(x0, x1), vxor(x2, key(i + 3))))));
    }
    const R t0 = x0, t1 = x1;
    x0 = x3;
    x1 = x2;
    x2 = t1;
    x3 = t0;
}

// One register's worth of blocks: 4 registers of 16 bytes per lane group.
template <class R>
inline void crypt_group(const uint32_t *rk, const uint8_t *in, uint8_t *out, bool decrypt) {
    const R z{};
    const R bs = vidx(z, idx_bswap());
    constexpr std::size_t step = sizeof(R);
    R x0 = vshuf(vload(in, z), bs), x1 = vshuf(vload(in + step, z), bs);
    R x2 = vshuf(vload(in + 2 * step, z), bs), x3 = vshuf(vload(in + 3 * step, z), bs);
    transpose(x0, x1, x2, x3);
    if (decrypt)
        rounds(x0, x1, x2, x3, [rk, z](int i) { return vbcast(rk + 31 - i, z); });
    else
        rounds(x0, x1, x2, x3, [rk, z](int i) { return vbcast(rk + i, z); });
    transpose(x0, x1, x2, x3);
    vstore(out, vshuf(x0, bs));
    vstore(out + step, vshuf(x1, bs));
    vstore(out + 2 * step, vshuf(x2, bs));
    vstore(out + 3 * step, vshuf(x3, bs));
}

// Two groups side by side: their rounds are independent, so interleaving
// them fills the latency of one group's round with the other's work.
template <class R>
struct Twice {
    R a, b;
};
template <class R>
inline Twice<R> vxor(Twice<R> x, Twice<R> y) { return {vxor(x.a, y.a), vxor(x.b, y.b)}; }
template <class R>
inline Twice<R> vshuf(Twice<R> x, Twice<R> i) { return {vshuf(x.a, i.a), vshuf(x.b, i.b)}; }
template <class R>
inline Twice<R> vidx(Twice<R> z, __m128i i) {
    const R r = vidx(z.a, i);
    return {r, r};
}
template <class R>
inline Twice<R> vbcast(const uint32_t *p, Twice<R> z) {
    const R r = vbcast(p, z.a);
    return {r, r};
}
template <int N, class R>
inline Twice<R> rotl(Twice<R> x) { return {rotl<N>(x.a), rotl<N>(x.b)}; }
template <class R>
inline Twice<R> sbox(Twice<R> x) { return {sbox(x.a), sbox(x.b)}; }
#ifdef SM4_X86_TERNLOG
template <class R>
inline Twice<R> ternlog_xor3(Twice<R> x, Twice<R> y, Twice<R> z) {
    return {ternlog_xor3(x.a, y.a, z.a), ternlog_xor3(x.b, y.b, z.b)};
}
#endif

template <class R>
inline void crypt_group2(const uint32_t *rk, const uint8_t *in, uint8_t *out, bool decrypt) {
    const R z{};
    const R bs = vidx(z, idx_bswap());
    constexpr std::size_t step = sizeof(R);
    R a[8];
    for (int j = 0; j < 8; ++j) a[j] = vshuf(vload(in + j * step, z), bs);
    transpose(a[0], a[1], a[2], a[3]);
    transpose(a[4], a[5], a[6], a[7]);
    Twice<R> x0{a[0], a[4]}, x1{a[1], a[5]}, x2{a[2], a[6]}, x3{a[3], a[7]};
    const Twice<R> zz{z, z};
    if (decrypt)
        rounds(x0, x1, x2, x3, [rk, zz](int i) { return vbcast(rk + 31 - i, zz); });
    else
        rounds(x0, x1, x2, x3, [rk, zz](int i) { return vbcast(rk + i, zz); });
    a[0] = x0.a, a[1] = x1.a, a[2] = x2.a, a[3] = x3.a;
    a[4] = x0.b, a[5] = x1.b, a[6] = x2.b, a[7] = x3.b;
    transpose(a[0], a[1], a[2], a[3]);
    transpose(a[4], a[5], a[6], a[7]);
    for (int j = 0; j < 8; ++j) vstore(out + j * step, vshuf(a[j], bs));
}

// n blocks, two groups of the widest register at a time, then one; the last one to three blocks go
// through a zero-padded group on the stack.
template <class Widest>
inline void crypt_blocks(const uint32_t *rk, const uint8_t *in, uint8_t *out, std::size_t n,
                         bool decrypt) {
    constexpr std::size_t per = sizeof(Widest) / 4;  // blocks per group
    for (; n >= 2 * per; n -= 2 * per, in += 32 * per, out += 32 * per)
        crypt_group2<Widest>(rk, in, out, decrypt);
    for (; n >= per; n -= per, in += 16 * per, out += 16 * per)
        crypt_group<Widest>(rk, in, out, decrypt);
    if (sizeof(Widest) > 16 && n >= 8) {
        crypt_group<__m256i>(rk, in, out, decrypt);
        n -= 8, in += 128, out += 128;
    }
    if (n >= 4) {
        crypt_group<__m128i>(rk, in, out, decrypt);
        n -= 4, in += 64, out += 64;
    }
    if (n > 0) {
        alignas(16) uint8_t buf[64] = {};
        std::memcpy(buf, in, 16 * n);
        crypt_group<__m128i>(rk, buf, buf, decrypt);
        std::memcpy(out, buf, 16 * n);
        zenthal_x86_wipe(buf, sizeof buf);
    }
}

// Two blocks side by side in one group of 128-bit registers (lanes 0 and 1,
// repeated in 2 and 3), each under its own key sequence.
inline void crypt_pair(const zenthal::Sm4Lanes *lanes, uint8_t a[16], uint8_t b[16]) {
    const __m128i bs = idx_bswap();
    __m128i x0 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(a)), bs);
    __m128i x1 = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(b)), bs);
    __m128i x2 = x0, x3 = x1;
    transpose(x0, x1, x2, x3);
    rounds(x0, x1, x2, x3, [lanes](int i) {
        return _mm_load_si128(reinterpret_cast<const __m128i *>(lanes->v[i]));
    });
    transpose(x0, x1, x2, x3);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(a), _mm_shuffle_epi8(x0, bs));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(b), _mm_shuffle_epi8(x1, bs));
}

// tau on one word, in lane 0 of a register.
inline uint32_t tau(uint32_t a) {
    return static_cast<uint32_t>(_mm_cvtsi128_si32(sbox(_mm_cvtsi32_si128(static_cast<int>(a)))));
}

inline uint32_t rol32(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

inline void set_key(const uint8_t key[16], SM4_round_keys *rk) {
    static const uint32_t FK[4] = {0xA3B1BAC6, 0x56AA3350, 0x677D9197, 0xB27022DC};
    uint32_t k[4];
    for (int j = 0; j < 4; ++j) {
        k[j] = (static_cast<uint32_t>(key[4 * j]) << 24 | static_cast<uint32_t>(key[4 * j + 1]) << 16 |
                static_cast<uint32_t>(key[4 * j + 2]) << 8 | key[4 * j + 3]) ^ FK[j];
    }
    for (unsigned i = 0; i < 32; ++i) {
        // CK_i: byte j (from the most significant) is (4i + j) * 7 mod 256.
        const uint32_t ck = ((28 * i) & 0xFF) << 24 | ((28 * i + 7) & 0xFF) << 16 |
                            ((28 * i + 14) & 0xFF) << 8 | ((28 * i + 21) & 0xFF);
        const uint32_t b = tau(k[(i + 1) & 3] ^ k[(i + 2) & 3] ^ k[(i + 3) & 3] ^ ck);
        k[i & 3] ^= b ^ rol32(b, 13) ^ rol32(b, 23);
        rk->rk[i] = k[i & 3];
    }
    zenthal_x86_wipe(k, sizeof k);
}

}  // namespace

#endif
