// The SM3 compression on aarch64 processors with the SM3 instructions
// (HWCAP_SM3): SM3SS1 forms SS1, SM3TT1A/B and SM3TT2A/B run one round of
// each half of the state. The message expansion stays in plain code, off
// the rounds' critical path. Compiled with the sm3 extension enabled and
// chosen only where the processor has it.
#include "sm3_internal.h"

#if ZENTHAL_SM3_ARM_CE

#include <arm_neon.h>

#include <cstring>

#include "util/byteorder.h"
#include "util/wipe.h"

namespace {

using zenthal::load32_be;
using zenthal::rotl32;

inline uint32_t p1(uint32_t x) { return x ^ rotl32(x, 15) ^ rotl32(x, 23); }

// The instructions keep a half of the state as lanes 3..0 = A, B, C, D
// (and E, F, G, H): the reverse of the words' order in memory.
inline uint32x4_t reversed(uint32x4_t v) {
    v = vrev64q_u32(v);
    return vextq_u32(v, v, 2);
}

}  // namespace

namespace zenthal {

void sm3_compress_arm_ce(uint32_t state[8], const uint8_t *blocks, std::size_t n) {
    uint32_t W[68], Wp[64];
    uint32x4_t abcd = reversed(vld1q_u32(state)), efgh = reversed(vld1q_u32(state + 4));
    for (; n > 0; --n, blocks += 64) {
        for (int j = 0; j < 16; ++j) W[j] = load32_be(blocks + 4 * j);
        for (int j = 16; j < 68; ++j)
            W[j] = p1(W[j - 16] ^ W[j - 9] ^ rotl32(W[j - 3], 15)) ^ rotl32(W[j - 13], 7) ^ W[j - 6];
        for (int j = 0; j < 64; ++j) Wp[j] = W[j] ^ W[j + 4];
        const uint32x4_t abcd0 = abcd, efgh0 = efgh;
#define SM3_ROUND(j, TT1, TT2, lane)                                               \
    do {                                                                           \
        const uint32_t t = rotl32((j) < 16 ? 0x79CC4519u : 0x7A879D8Au, (j) % 32); \
        const uint32x4_t ss1 = vsm3ss1q_u32(abcd, efgh, vdupq_n_u32(t));           \
        abcd = TT1(abcd, ss1, wp, lane);                                           \
        efgh = TT2(efgh, ss1, w, lane);                                            \
    } while (0)
        for (int j = 0; j < 16; j += 4) {
            const uint32x4_t w = vld1q_u32(W + j), wp = vld1q_u32(Wp + j);
            SM3_ROUND(j, vsm3tt1aq_u32, vsm3tt2aq_u32, 0);
            SM3_ROUND(j + 1, vsm3tt1aq_u32, vsm3tt2aq_u32, 1);
            SM3_ROUND(j + 2, vsm3tt1aq_u32, vsm3tt2aq_u32, 2);
            SM3_ROUND(j + 3, vsm3tt1aq_u32, vsm3tt2aq_u32, 3);
        }
        for (int j = 16; j < 64; j += 4) {
            const uint32x4_t w = vld1q_u32(W + j), wp = vld1q_u32(Wp + j);
            SM3_ROUND(j, vsm3tt1bq_u32, vsm3tt2bq_u32, 0);
            SM3_ROUND(j + 1, vsm3tt1bq_u32, vsm3tt2bq_u32, 1);
            SM3_ROUND(j + 2, vsm3tt1bq_u32, vsm3tt2bq_u32, 2);
            SM3_ROUND(j + 3, vsm3tt1bq_u32, vsm3tt2bq_u32, 3);
        }
#undef SM3_ROUND
        abcd = veorq_u32(abcd, abcd0);
        efgh = veorq_u32(efgh, efgh0);
    }
    vst1q_u32(state, reversed(abcd));
    vst1q_u32(state + 4, reversed(efgh));
    zenthal::secure_wipe(W, sizeof W);
    zenthal::secure_wipe(Wp, sizeof Wp);
}

}  // namespace zenthal

#endif
