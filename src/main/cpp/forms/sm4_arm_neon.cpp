// The neon form of SM4 for aarch64: the S-box looked up with TBL/TBX in
// sixteen registers that hold all 256 entries, so no memory access depends
// on key or data; four blocks per register, held transposed (register j
// holds word j of four blocks).
#include "forms/sm4_forms.h"

#if defined(ZENTHAL_SM4_ARM)

#include <arm_neon.h>

#include <cstring>

#include "forms/sm4_consts.h"
#include "util/byteorder.h"
#include "util/wipe.h"

namespace {

struct Sbox {
    uint8x16x4_t t0, t1, t2, t3;
};

inline Sbox load_sbox() {
    const uint8_t *s = zenthal::SM4_S;
    return {vld1q_u8_x4(s), vld1q_u8_x4(s + 64), vld1q_u8_x4(s + 128), vld1q_u8_x4(s + 192)};
}

// TBL gives 0 for an index past its 64 bytes and TBX leaves such a byte as
// it was, so each quarter of the table fills in its own indices.
inline uint32x4_t sbox(const Sbox &s, uint32x4_t w) {
    const uint8x16_t x = vreinterpretq_u8_u32(w);
    const uint8x16_t q = vdupq_n_u8(64);
    uint8x16_t r = vqtbl4q_u8(s.t0, x);
    uint8x16_t y = vsubq_u8(x, q);
    r = vqtbx4q_u8(r, s.t1, y);
    y = vsubq_u8(y, q);
    r = vqtbx4q_u8(r, s.t2, y);
    y = vsubq_u8(y, q);
    return vreinterpretq_u32_u8(vqtbx4q_u8(r, s.t3, y));
}

template <int N>
inline uint32x4_t rotl(uint32x4_t x) {
    return vsriq_n_u32(vshlq_n_u32(x, N), x, 32 - N);
}

// L(B) with (B <<< 2) ^ (B <<< 10) ^ (B <<< 18) = (B ^ (B <<< 8) ^ (B <<< 16)) <<< 2.
inline uint32x4_t linear(uint32x4_t b) {
    const uint32x4_t t = veorq_u32(veorq_u32(b, rotl<8>(b)), rotl<16>(b));
    return veorq_u32(veorq_u32(b, rotl<24>(b)), rotl<2>(t));
}

inline uint32x4_t bswap(uint32x4_t x) { return vreinterpretq_u32_u8(vrev32q_u8(vreinterpretq_u8_u32(x))); }

// key(i): round i's key in every lane. x ends as X35, X34, X33, X32.
template <class Key>
inline void rounds(const Sbox &s, uint32x4x4_t &x, Key key) {
    uint32x4_t x0 = x.val[0], x1 = x.val[1], x2 = x.val[2], x3 = x.val[3];
    for (int i = 0; i < 32; i += 4) {
        x0 = veorq_u32(x0, linear(sbox(s, veorq_u32(veorq_u32(x1, x2), veorq_u32(x3, key(i))))));
        x1 = veorq_u32(x1, linear(sbox(s, veorq_u32(veorq_u32(x2, x3), veorq_u32(x0, key(i + 1))))));
        x2 = veorq_u32(x2, linear(sbox(s, veorq_u32(veorq_u32(x3, x0), veorq_u32(x1, key(i + 2))))));
        x3 = veorq_u32(x3, linear(sbox(s, veorq_u32(veorq_u32(x0, x1), veorq_u32(x2, key(i + 3))))));
    }
    x.val[0] = x3;
    x.val[1] = x2;
    x.val[2] = x1;
    x.val[3] = x0;
}

// Four blocks at p, in place: VLD4 transposes as it loads, VST4 as it stores.
inline void crypt4(const Sbox &s, const uint32_t *rk, uint8_t *p, bool decrypt) {
    uint32x4x4_t x = vld4q_u32(reinterpret_cast<const uint32_t *>(p));
    for (int j = 0; j < 4; ++j) x.val[j] = bswap(x.val[j]);
    if (decrypt)
        rounds(s, x, [rk](int i) { return vdupq_n_u32(rk[31 - i]); });
    else
        rounds(s, x, [rk](int i) { return vdupq_n_u32(rk[i]); });
    for (int j = 0; j < 4; ++j) x.val[j] = bswap(x.val[j]);
    vst4q_u32(reinterpret_cast<uint32_t *>(p), x);
}

void blocks(const uint32_t rk[32], const uint8_t *in, uint8_t *out, std::size_t n, bool decrypt) {
    const Sbox s = load_sbox();
    alignas(16) uint8_t buf[64];
    while (n > 0) {
        const std::size_t take = n < 4 ? n : 4;
        std::memcpy(buf, in, 16 * take);
        if (take < 4) std::memset(buf + 16 * take, 0, 16 * (4 - take));
        crypt4(s, rk, buf, decrypt);
        std::memcpy(out, buf, 16 * take);
        in += 16 * take, out += 16 * take, n -= take;
    }
    zenthal::secure_wipe(buf, sizeof buf);
}

// Lanes 0 and 2 carry block a, lanes 1 and 3 block b.
void pair(const zenthal::Sm4Lanes *lanes, uint8_t a[16], uint8_t b[16]) {
    const Sbox s = load_sbox();
    alignas(16) uint8_t buf[64];
    std::memcpy(buf, a, 16);
    std::memcpy(buf + 16, b, 16);
    std::memcpy(buf + 32, a, 16);
    std::memcpy(buf + 48, b, 16);
    uint32x4x4_t x = vld4q_u32(reinterpret_cast<const uint32_t *>(buf));
    for (int j = 0; j < 4; ++j) x.val[j] = bswap(x.val[j]);
    rounds(s, x, [lanes](int i) { return vld1q_u32(lanes->v[i]); });
    for (int j = 0; j < 4; ++j) x.val[j] = bswap(x.val[j]);
    vst4q_u32(reinterpret_cast<uint32_t *>(buf), x);
    std::memcpy(a, buf, 16);
    std::memcpy(b, buf + 16, 16);
    zenthal::secure_wipe(buf, sizeof buf);
}

uint32_t tau(uint32_t a) { return vgetq_lane_u32(sbox(load_sbox(), vdupq_n_u32(a)), 0); }

void schedule(const uint8_t key[16], SM4_round_keys *rk) { zenthal::sm4_expand_key(key, rk, tau); }

}  // namespace

namespace zenthal {
extern const Sm4Form SM4_FORM_NEON = {"neon", schedule, blocks, pair, nullptr, nullptr};
}

#endif
