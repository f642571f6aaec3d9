# The linux-aarch64 library for the jar, cross-built from the same lists with
# Debian's g++-aarch64-linux-gnu whenever that compiler is present. The cross
# build takes the JNI headers javac generated here, so a native method's
# signature is checked on both architectures. With qemu-aarch64 present its
# C++ tests are built too, and ctest runs them under emulation:
#   ctest --test-dir build/<preset>/linux-aarch64
set(ZENTHAL_AARCH64_LIBRARY "")
if(APPLE OR ZENTHAL_PLATFORM STREQUAL "linux-aarch64")
  return()
endif()
find_program(ZENTHAL_AARCH64_CXX aarch64-linux-gnu-g++)
find_program(ZENTHAL_QEMU_AARCH64 qemu-aarch64)
set(_default OFF)
if(ZENTHAL_AARCH64_CXX)
  set(_default ON)
endif()
option(ZENTHAL_AARCH64 "Cross-build the linux-aarch64 library into the jar" ${_default})
if(NOT ZENTHAL_AARCH64)
  return()
endif()
if(NOT ZENTHAL_AARCH64_CXX)
  message(FATAL_ERROR "ZENTHAL_AARCH64 needs aarch64-linux-gnu-g++ (Debian: g++-aarch64-linux-gnu)")
endif()
set(_aarch64_tests OFF)
if(ZENTHAL_TESTS AND ZENTHAL_QEMU_AARCH64)
  set(_aarch64_tests ON)
endif()

# Under make, a recursive $(MAKE) shares the parent's job slots.
if(CMAKE_GENERATOR MATCHES "Make")
  set(_build_lib "$(MAKE)" zenthal_jni)
  set(_build_all "$(MAKE)")
else()
  set(_build_lib ${CMAKE_COMMAND} --build . --target zenthal_jni)
  set(_build_all ${CMAKE_COMMAND} --build .)
endif()

include(ExternalProject)
set(ZENTHAL_AARCH64_DIR "${CMAKE_BINARY_DIR}/linux-aarch64")
set(ZENTHAL_AARCH64_LIBRARY "${ZENTHAL_AARCH64_DIR}/src/main/cpp/zenthal_jni/libzenthal_jni.so")
ExternalProject_Add(zenthal_aarch64
  SOURCE_DIR "${CMAKE_SOURCE_DIR}"
  BINARY_DIR "${ZENTHAL_AARCH64_DIR}"
  PREFIX "${CMAKE_BINARY_DIR}/linux-aarch64-ep"
  CMAKE_CACHE_ARGS
    "-DCMAKE_TOOLCHAIN_FILE:FILEPATH=${CMAKE_SOURCE_DIR}/cmake/aarch64-linux-gnu.cmake"
    "-DCMAKE_BUILD_TYPE:STRING=${CMAKE_BUILD_TYPE}"
    "-DZENTHAL_JAVA:BOOL=OFF"
    "-DZENTHAL_JAVA_TESTS:BOOL=OFF"
    "-DZENTHAL_BENCH:BOOL=OFF"
    "-DZENTHAL_FUZZ:BOOL=OFF"
    "-DZENTHAL_TESTS:BOOL=${_aarch64_tests}"
    "-DZENTHAL_JNI_INCLUDE_DIRS:STRING=${ZENTHAL_JNI_INCLUDE_DIRS}"
    "-DZENTHAL_JNI_HEADERS_DIR:PATH=${CMAKE_BINARY_DIR}/jni-headers"
  # The jar needs only the library; the cross build's own make decides what
  # is out of date.
  BUILD_COMMAND ${_build_lib}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS "${ZENTHAL_AARCH64_LIBRARY}"
  INSTALL_COMMAND ""
  DEPENDS zenthal_classes)
if(_aarch64_tests)
  add_custom_target(zenthal_aarch64_tests ALL
    COMMAND ${_build_all}
    WORKING_DIRECTORY "${ZENTHAL_AARCH64_DIR}"
    DEPENDS zenthal_aarch64
    COMMENT "Building the linux-aarch64 C++ tests"
    VERBATIM)
endif()
