// The eight-lane compression's AVX-512VL build (see sm3_x86_lanes.cpp).
#define ZENTHAL_SM3_LANES_AVX512 1
#include "forms/sm3_x86_lanes.cpp"
