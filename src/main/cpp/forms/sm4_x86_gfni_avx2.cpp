// The gfni-avx2 form of SM4: the S-box as two GF(2^8) affine instructions,
// on eight blocks per 256-bit register. Compiled with -mavx2 -mgfni and run
// only where the processor offers both.
#include "forms/sm4_forms.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <immintrin.h>

#include "forms/sm4_x86_gfni_sbox.inc"

#include "forms/sm4_x86_rounds.inc"
#include "forms/sm4_x86_gfni_serial.inc"

// The tests build this source a second time over an emulation of GFNI
// (ZENTHAL_X86_EMULATED), linked beside the real form: that record has a
// name and symbol of its own.
namespace zenthal {
#if defined(ZENTHAL_X86_EMULATED)
extern const Sm4Form SM4_FORM_GFNI_AVX2_EMULATED = {"gfni-avx2-emulated",
#else
extern const Sm4Form SM4_FORM_GFNI_AVX2 = {"gfni-avx2",
#endif
                                                    set_key,
                                                    gfni_blocks<__m256i>,
                                                    gfni_pair,
                                                    gfni_prepare,
                                                    gfni_chain};
}  // namespace zenthal

#endif
