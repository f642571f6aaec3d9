// The vaes-avx2 form of SM4 (sm4_x86_aesni_round.inc), with 256-bit AESENCLAST.
// Compiled with -mavx2 -maes -mvaes and run only where the processor offers
// all three.
#include "forms/sm4_forms.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include "forms/sm4_x86_aesni_round.inc"

namespace zenthal {
extern const Sm4Form SM4_FORM_VAES_AVX2 = {"vaes-avx2", set_key, fused_blocks, pair, prepare, nullptr};
}

#endif
