# Every native source of the library, in one place, and the instruction-set
# flags of its per-processor forms. Each form's source is compiled for the
# instructions it needs, and the library runs it only where the processor
# offers them: nothing else is built with more than the baseline. Source
# properties hold per directory, so every directory that compiles these
# sources calls zenthal_sources.
#
#   zenthal_sources(<prefix> <src>) sets, for the tree rooted at <src>
#   (src/main/cpp):
#     <prefix>_UTIL     the shared layers (wipe, processor probe)
#     <prefix>_SM3      SM3, its forms and the KDF
#     <prefix>_SM4      SM4, its forms, its modes, GCM and GHASH
#     <prefix>_SM2      SM2, its curve forms and the fixed-base table
#     <prefix>_BRIDGES  the JNI bridges, one per Java class
#     <prefix>_HWRAND   the random source without its processor seam
#     <prefix>_HWRAND_CPU  that seam: the real RDRAND and CPUID
function(zenthal_sources prefix src)
  set(${prefix}_UTIL "${src}/util/wipe.cpp" "${src}/util/cpu.cpp" PARENT_SCOPE)
  set(${prefix}_SM3 "${src}/sm3.cpp" "${src}/forms/sm3_x86_avx512.cpp" "${src}/forms/sm3_arm_ce.cpp"
      "${src}/forms/sm3_x86_lanes.cpp" "${src}/forms/sm3_x86_lanes_avx512.cpp" "${src}/sm3_kdf.cpp" PARENT_SCOPE)
  set(${prefix}_SM4
      "${src}/sm4.cpp" "${src}/sm4_cbc.cpp" "${src}/sm4_block_modes.cpp" "${src}/sm4_gcm.cpp"
      "${src}/ghash.cpp" "${src}/forms/ghash_x86_clmul.cpp" "${src}/forms/ghash_x86_vclmul.cpp"
      "${src}/forms/ghash_arm_pmull.cpp"
      "${src}/forms/sm4_x86_aesni_avx2.cpp" "${src}/forms/sm4_x86_vaes_avx2.cpp"
      "${src}/forms/sm4_x86_gfni_avx2.cpp" "${src}/forms/sm4_x86_gfni_avx512.cpp"
      "${src}/forms/sm4_arm_neon.cpp" "${src}/forms/sm4_arm_sm4e.cpp" PARENT_SCOPE)
  set(${prefix}_SM2 "${src}/sm2.cpp" "${src}/sm2_cipher.cpp" "${src}/sm2_scalar.cpp" "${src}/sm2_inverse.cpp" "${src}/forms/sm2_portable.cpp"
      "${src}/forms/sm2_x86_adx.cpp" "${src}/forms/sm2_base_table.cpp" PARENT_SCOPE)
  set(${prefix}_BRIDGES
      "${src}/com_tarvik_lumora_Quorvex_zenthal_LoadNativeZenthal.cpp"
      "${src}/com_tarvik_lumora_Quorvex_zenthal_Sm2Native.cpp"
      "${src}/com_tarvik_lumora_Quorvex_zenthal_Sm3Native.cpp"
      "${src}/com_tarvik_lumora_Quorvex_zenthal_Sm4Native.cpp" PARENT_SCOPE)
  set(${prefix}_HWRAND "${src}/hwrand/rdrand.cpp" PARENT_SCOPE)
  set(${prefix}_HWRAND_CPU "${src}/hwrand/rdrand_cpu.cpp" PARENT_SCOPE)

  string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" _cpu)
  if(_cpu MATCHES "^(x86_64|amd64)$" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set_source_files_properties("${src}/forms/sm4_x86_aesni_avx2.cpp" PROPERTIES COMPILE_OPTIONS "-mavx2;-maes")
    set_source_files_properties("${src}/forms/sm4_x86_vaes_avx2.cpp"
      PROPERTIES COMPILE_OPTIONS "-mavx2;-maes;-mvaes")
    set_source_files_properties("${src}/forms/sm4_x86_gfni_avx2.cpp" PROPERTIES COMPILE_OPTIONS "-mavx2;-mgfni")
    set_source_files_properties("${src}/forms/sm4_x86_gfni_avx512.cpp"
      PROPERTIES COMPILE_OPTIONS "-mavx2;-mavx512f;-mavx512bw;-mavx512vl;-mgfni")
    set_source_files_properties("${src}/forms/ghash_x86_clmul.cpp" PROPERTIES COMPILE_OPTIONS "-mpclmul;-mssse3")
    set_source_files_properties("${src}/forms/ghash_x86_vclmul.cpp"
      PROPERTIES COMPILE_OPTIONS "-mvpclmulqdq;-mavx2;-mpclmul;-mssse3")
    set_source_files_properties("${src}/forms/sm2_x86_adx.cpp" PROPERTIES COMPILE_OPTIONS "-mbmi2;-madx;-mavx2")
    set_source_files_properties("${src}/forms/sm3_x86_lanes.cpp" PROPERTIES COMPILE_OPTIONS "-mavx2")
    set_source_files_properties("${src}/forms/sm3_x86_lanes_avx512.cpp"
      PROPERTIES COMPILE_OPTIONS "-mavx2;-mavx512f;-mavx512vl")
    set_source_files_properties("${src}/forms/sm3_x86_avx512.cpp"
      PROPERTIES COMPILE_OPTIONS "-mbmi;-mbmi2;-mavx2;-mavx512f;-mavx512vl")
  elseif(_cpu MATCHES "^(aarch64|arm64)$" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set_source_files_properties("${src}/forms/sm4_arm_sm4e.cpp" PROPERTIES COMPILE_OPTIONS "-march=armv8.2-a+sm4")
    set_source_files_properties("${src}/forms/sm3_arm_ce.cpp" PROPERTIES COMPILE_OPTIONS "-march=armv8.2-a+sm4")
    set_source_files_properties("${src}/forms/ghash_arm_pmull.cpp" PROPERTIES COMPILE_OPTIONS "-march=armv8-a+crypto")
  endif()
endfunction()
