# The SM4 sources (block forms, modes, GHASH), and the instruction-set flags of its vector forms. Each
# form's source is compiled for the instructions it needs, and the library
# runs it only where the processor offers them: nothing else is built with
# more than the baseline. Source properties hold per directory, so every
# directory that compiles these sources calls zenthal_sm4_sources.
function(zenthal_sm4_sources out src)
  set(_files "${src}/sm4.cpp" "${src}/sm4_cbc.cpp" "${src}/sm4_modes.cpp" "${src}/ghash.cpp"
             "${src}/ghash_x86.cpp" "${src}/ghash_arm.cpp" "${src}/sm4_x86_aesni.cpp" "${src}/sm4_x86_vaes.cpp"
             "${src}/sm4_x86_gfni.cpp" "${src}/sm4_x86_avx512.cpp" "${src}/sm4_arm_neon.cpp"
             "${src}/sm4_arm_sm4e.cpp")
  string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" _cpu)
  if(_cpu MATCHES "^(x86_64|amd64)$" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set_source_files_properties("${src}/sm4_x86_aesni.cpp" PROPERTIES COMPILE_OPTIONS "-mavx2;-maes")
    set_source_files_properties("${src}/sm4_x86_vaes.cpp" PROPERTIES COMPILE_OPTIONS "-mavx2;-maes;-mvaes")
    set_source_files_properties("${src}/sm4_x86_gfni.cpp" PROPERTIES COMPILE_OPTIONS "-mavx2;-mgfni")
    set_source_files_properties("${src}/sm4_x86_avx512.cpp"
      PROPERTIES COMPILE_OPTIONS "-mavx2;-mavx512f;-mavx512bw;-mavx512vl;-mgfni")
  elseif(_cpu MATCHES "^(aarch64|arm64)$" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    set_source_files_properties("${src}/sm4_arm_sm4e.cpp" PROPERTIES COMPILE_OPTIONS "-march=armv8.2-a+sm4")
  endif()
  set(${out} ${_files} PARENT_SCOPE)
endfunction()
