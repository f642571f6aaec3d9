// The SM3 compression for x86-64 processors with AVX-512VL, BMI1 and BMI2:
// the portable code compiled with those instructions enabled. The message
// expansion's rotations become single instructions (vprold) instead of two
// shifts and an OR, and the rounds use three-operand rotations (rorx) and
// and-not, so the expansion no longer slows the rounds down. Chosen only
// where the processor offers them.
#include "sm3_internal.h"

#if ZENTHAL_SM3_AVX512

#include "forms/sm3_compress.inc"

namespace zenthal {

void sm3_compress_avx512(uint32_t state[8], const uint8_t *blocks, std::size_t n) {
    compress_blocks(state, blocks, n);
}

}  // namespace zenthal

#endif
