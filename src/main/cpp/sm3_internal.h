// The SM3 compression over runs of blocks, in each form the library may
// choose at run time. Internal to the library (hidden like everything not in
// the public headers); the tests call each form directly, so the portable one
// stays tested on processors where it is never chosen.
#ifndef ZENTHAL_SM3_INTERNAL_H
#define ZENTHAL_SM3_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "sm3.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZENTHAL_SM3_AVX512 1
#else
#define ZENTHAL_SM3_AVX512 0
#endif

#if defined(__aarch64__) && defined(__linux__) && (defined(__GNUC__) || defined(__clang__))
#define ZENTHAL_SM3_ARM_CE 1
#else
#define ZENTHAL_SM3_ARM_CE 0
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZENTHAL_SM3_X86_LANES 1
#else
#define ZENTHAL_SM3_X86_LANES 0
#endif

namespace zenthal {

// SM3_Update for any size_t length, in steps SM3_Update takes.
void sm3_update(SM3_context *ctx, const uint8_t *in, std::size_t len);

// state <- CF(... CF(state, block 0) ..., block n-1) for the n 64-byte
// blocks at `blocks`. Plain C++ for every processor.
void sm3_compress_portable(uint32_t state[8], const uint8_t *blocks, std::size_t n);

#if ZENTHAL_SM3_AVX512
// The same, for x86-64 processors with AVX-512VL, BMI1 and BMI2; call only
// where cpu_features() offers them.
void sm3_compress_avx512(uint32_t state[8], const uint8_t *blocks, std::size_t n);
#endif

#if ZENTHAL_SM3_ARM_CE
// The same, for aarch64 processors with the SM3 instructions; call only
// where cpu_features() offers them.
void sm3_compress_arm_ce(uint32_t state[8], const uint8_t *blocks, std::size_t n);
#endif

// Eight compressions side by side, for the KDF: state[i][l] is word i of
// lane l's chaining value, words[b][j][l] word j (native order) of lane l's
// block b, and each lane compresses its own n blocks.
typedef void (*Sm3LanesFn)(uint32_t state[8][8], const uint32_t (*words)[16][8], std::size_t n);

#if ZENTHAL_SM3_X86_LANES
// Call only where cpu_features() offers AVX2, and AVX-512VL for the second.
void sm3_compress_lanes_avx2(uint32_t state[8][8], const uint32_t (*words)[16][8], std::size_t n);
void sm3_compress_lanes_avx512(uint32_t state[8][8], const uint32_t (*words)[16][8], std::size_t n);
#endif

// SM3_KDF with the given eight-lane compression, or one block at a time for
// none; SM3_KDF passes the one this processor offers.
void sm3_kdf_with(Sm3LanesFn lanes, uint8_t *out, uint32_t klen, const uint8_t *z, uint32_t zlen);

}  // namespace zenthal

#endif
