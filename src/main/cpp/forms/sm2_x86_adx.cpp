// The x86-adx form of the SM2 curve arithmetic: the field multiplication on
// MULX, ADCX and ADOX, two carry chains side by side. Compiled with -mbmi2
// -madx and run only where the processor offers both.
#include "forms/sm2_forms.h"

#if defined(ZENTHAL_SM2_X86)

#include "util/ct.h"

#include "forms/sm2_field_portable.inc"

#include "forms/sm2_curve.inc"

namespace zenthal {
extern const Sm2Form SM2_FORM_X86_ADX = {"x86-adx", form_base_mul, form_point_mul, form_verify,
                                         form_on_curve};
}  // namespace zenthal

#endif
