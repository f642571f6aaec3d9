# Toolchain for the linux-aarch64 library: Debian's g++-aarch64-linux-gnu.
# The test dependencies (GoogleTest, OpenSSL) are Debian's arm64 multiarch
# packages under /usr/lib/aarch64-linux-gnu, and the test programs run under
# qemu-aarch64 with / as the guest root, so that they get the multiarch
# loader and libc. With the cross toolchain's own root
# (/usr/aarch64-linux-gnu) the two loaders mix and the first fork hangs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Programs are the host's; libraries, headers and packages the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config would otherwise point FindOpenSSL at the x86-64 libcrypto.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig")

find_program(ZENTHAL_QEMU_AARCH64 qemu-aarch64)
if(ZENTHAL_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${ZENTHAL_QEMU_AARCH64};-L;/")
endif()
