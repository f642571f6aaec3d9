// The KDF's eight-lane SM3 compression for x86-64: built for AVX2, and a
// second time for AVX-512VL, whose rotations are single instructions
// (vprold) instead of two shifts and an OR. Each is chosen only where the
// processor offers its instructions.
#include "sm3_internal.h"

#if ZENTHAL_SM3_X86_LANES

#include "forms/sm3_lanes.inc"

namespace zenthal {

#if defined(ZENTHAL_SM3_LANES_AVX512)
void sm3_compress_lanes_avx512(uint32_t state[8][8], const uint32_t (*words)[16][8], std::size_t n) {
    compress_lanes(state, words, n);
}
#else
void sm3_compress_lanes_avx2(uint32_t state[8][8], const uint32_t (*words)[16][8], std::size_t n) {
    compress_lanes(state, words, n);
}
#endif

}  // namespace zenthal

#endif
