// The portable form of the SM2 curve arithmetic: the field multiplication in
// unsigned __int128, for every processor.
#include "forms/sm2_forms.h"
#include "util/ct.h"

#include "forms/sm2_field_portable.inc"

#include "forms/sm2_curve.inc"

namespace zenthal {
extern const Sm2Form SM2_FORM_PORTABLE = {"portable",  form_base_mul, form_point_mul,
                                          form_verify, form_on_curve, form_mul_add_public};
}  // namespace zenthal
