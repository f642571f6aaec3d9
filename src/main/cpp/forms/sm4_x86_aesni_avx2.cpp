// The aesni-avx2 form of SM4 (sm4_x86_aesni_round.inc). Compiled with -mavx2 -maes
// and run only where the processor offers both.
#include "forms/sm4_forms.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include "forms/sm4_x86_aesni_round.inc"

namespace zenthal {
extern const Sm4Form SM4_FORM_AESNI_AVX2 = {"aesni-avx2", set_key, fused_blocks, pair, prepare, nullptr};

void sm4_body_blocks_aesni(const uint32_t rk[32], const uint8_t *in, uint8_t *out, std::size_t n,
                           bool decrypt) {
    crypt_blocks<__m256i>(rk, in, out, n, decrypt);
}
}  // namespace zenthal

#endif
