// The sm4e form of SM4 for aarch64 processors with the SM4 instructions:
// SM4E runs four rounds on one block, SM4EKEY makes four round keys.
// Compiled with the sm4 extension enabled and run only where HWCAP_SM4 says
// the processor has it.
#include "forms/sm4_consts.h"
#include "forms/sm4_forms.h"
#include "util/wipe.h"

#if defined(ZENTHAL_SM4_ARM)

#include <arm_neon.h>

#include <cstring>

namespace {

// A block as four words in lanes 0..3, as SM4E takes them.
inline uint32x4_t load_block(const uint8_t *p) { return vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(p))); }

// The output is X35, X34, X33, X32: the lanes in reverse order.
inline void store_block(uint8_t *p, uint32x4_t x) {
    x = vrev64q_u32(x);
    x = vextq_u32(x, x, 2);
    vst1q_u8(p, vrev32q_u8(vreinterpretq_u8_u32(x)));
}

struct Keys {
    uint32x4_t k[8];
};

// The round keys in the order of execution, four per vector.
inline Keys keys(const uint32_t *rk, bool decrypt) {
    Keys out;
    for (int i = 0; i < 8; ++i) {
        if (decrypt) {
            const uint32x4_t v = vld1q_u32(rk + 28 - 4 * i);
            out.k[i] = vextq_u32(vrev64q_u32(v), vrev64q_u32(v), 2);
        } else {
            out.k[i] = vld1q_u32(rk + 4 * i);
        }
    }
    return out;
}

inline uint32x4_t crypt(uint32x4_t x, const Keys &k) {
    for (int i = 0; i < 8; ++i) x = vsm4eq_u32(x, k.k[i]);
    return x;
}

void blocks(const uint32_t rk[32], const uint8_t *in, uint8_t *out, std::size_t n, bool decrypt) {
    Keys k = keys(rk, decrypt);
    // Four independent blocks at a time keep SM4E's pipeline full.
    for (; n >= 4; n -= 4, in += 64, out += 64) {
        uint32x4_t a = load_block(in), b = load_block(in + 16), c = load_block(in + 32),
                   d = load_block(in + 48);
        for (int i = 0; i < 8; ++i) {
            a = vsm4eq_u32(a, k.k[i]);
            b = vsm4eq_u32(b, k.k[i]);
            c = vsm4eq_u32(c, k.k[i]);
            d = vsm4eq_u32(d, k.k[i]);
        }
        store_block(out, a);
        store_block(out + 16, b);
        store_block(out + 32, c);
        store_block(out + 48, d);
    }
    for (; n > 0; --n, in += 16, out += 16) store_block(out, crypt(load_block(in), k));
    zenthal::secure_wipe(&k, sizeof k);
}

void pair(const zenthal::Sm4Lanes *lanes, uint8_t a[16], uint8_t b[16]) {
    uint32x4_t x = load_block(a), y = load_block(b);
    for (int i = 0; i < 8; ++i) {
        x = vsm4eq_u32(x, vld1q_u32(lanes->a + 4 * i));
        y = vsm4eq_u32(y, vld1q_u32(lanes->b + 4 * i));
    }
    store_block(a, x);
    store_block(b, y);
}

void schedule(const uint8_t key[16], SM4_round_keys *rk) {
    uint32x4_t k = veorq_u32(load_block(key), vld1q_u32(zenthal::SM4_FK));
    for (unsigned i = 0; i < 8; ++i) {
        k = vsm4ekeyq_u32(k, vld1q_u32(zenthal::SM4_CK + 4 * i));
        vst1q_u32(rk->rk + 4 * i, k);
    }
}

}  // namespace

namespace zenthal {
extern const Sm4Form SM4_FORM_SM4E = {"sm4e", schedule, blocks, pair, nullptr, nullptr};
}

#endif
