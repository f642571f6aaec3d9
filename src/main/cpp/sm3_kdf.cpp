// Key derivation over SM3: SM3(Z || ct) for ct = 1, 2, ..., cut to klen bytes.
// Z is absorbed once; each block copies that context and adds only its
// counter, so a 64-byte Z (SM2's x || y) costs one compression a block, not
// two. Where the processor offers an eight-lane compression, blocks go eight
// at a time: the lanes start from the same context and differ only in the
// counter written into their last block. Each digest goes straight into
// `out`, cut to what is asked; every context, message word and digest that
// carried Z is wiped before the call returns.
#include "sm3_kdf.h"

#include <cstring>

#include "sm3.h"
#include "sm3_internal.h"
#include "util/byteorder.h"
#include "util/cpu.h"
#include "util/wipe.h"

namespace {

using zenthal::Sm3LanesFn;

Sm3LanesFn offered_lanes() {
#if ZENTHAL_SM3_X86_LANES
    const zenthal::CpuFeatures &c = zenthal::cpu_features();
    if (c.avx512f && c.avx512vl) return zenthal::sm3_compress_lanes_avx512;
    if (c.avx2) return zenthal::sm3_compress_lanes_avx2;
#endif
    return nullptr;
}

// Blocks ct to ct + 7 into out, of which the first n bytes (at most 256)
// are written: each lane finishes a copy of `with_z` with its own counter.
void eight_blocks(Sm3LanesFn lanes, const SM3_context &with_z, uint32_t ct, uint8_t *out, uint64_t n) {
    const uint32_t buffered = (with_z.bit_count_lo >> 3) % 64;
    const uint64_t bits = ((static_cast<uint64_t>(with_z.bit_count_hi) << 32) | with_z.bit_count_lo) + 32;
    // The message's end: what Z left buffered, the counter, the padding and
    // the length, in one block or, when they do not fit, two.
    const std::size_t blocks = buffered + 4 + 1 + 8 <= 64 ? 1 : 2;
    uint8_t tail[128] = {};
    std::memcpy(tail, with_z.block, buffered);
    tail[buffered + 4] = 0x80;
    zenthal::store64_be(tail + 64 * blocks - 8, bits);
    alignas(32) uint32_t words[2][16][8];
    alignas(32) uint32_t state[8][8];
    for (uint32_t l = 0; l < 8; ++l) {
        zenthal::store32_be(tail + buffered, ct + l);
        for (std::size_t b = 0; b < blocks; ++b) {
            for (int j = 0; j < 16; ++j) words[b][j][l] = zenthal::load32_be(tail + 64 * b + 4 * j);
        }
        for (int i = 0; i < 8; ++i) state[i][l] = with_z.state[i];
    }
    lanes(state, words, blocks);
    uint8_t digests[256];
    for (int l = 0; l < 8; ++l) {
        for (int i = 0; i < 8; ++i) zenthal::store32_be(digests + 32 * l + 4 * i, state[i][l]);
    }
    std::memcpy(out, digests, n);
    zenthal::secure_wipe(tail, sizeof tail);
    zenthal::secure_wipe(words, sizeof words);
    zenthal::secure_wipe(state, sizeof state);
    zenthal::secure_wipe(digests, sizeof digests);
}

}  // namespace

namespace zenthal {

void sm3_kdf_with(Sm3LanesFn lanes, uint8_t *out, uint32_t klen, const uint8_t *z, uint32_t zlen) {
    if (klen == 0) return;
    SM3_context with_z, ctx;
    SM3_Init(&with_z);
    SM3_Update(&with_z, z, zlen);
    uint32_t ct = 1;
    // The offset is 64-bit so that lengths within 32 bytes of 2^32 end
    // instead of wrapping back to the start of `out`.
    uint64_t o = 0;
    // Eight lanes cost about what two or three single blocks do, so a group
    // pays from three blocks up, even when it is cut short.
    if (lanes != nullptr) {
        for (; o < klen && klen - o > 64; o += 256, ct += 8) {
            const uint64_t left = klen - o;
            eight_blocks(lanes, with_z, ct, out + o, left < 256 ? left : 256);
        }
    }
    uint8_t counter[4];
    for (; o < klen; o += 32, ++ct) {
        store32_be(counter, ct);
        ctx = with_z;
        SM3_Update(&ctx, counter, 4);
        SM3_Final(&ctx, out + o, static_cast<uint32_t>(klen - o));
    }
    secure_wipe(&with_z, sizeof with_z);
}

}  // namespace zenthal

void SM3_KDF(uint8_t *out, uint32_t klen, const uint8_t *z, uint32_t zlen) {
    zenthal::sm3_kdf_with(offered_lanes(), out, klen, z, zlen);
}
