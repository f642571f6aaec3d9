#!/bin/sh
# Builds everything and runs every test:
#   1. the C++ tests under AddressSanitizer + UBSan + LeakSanitizer;
#   2. each fuzz target for FUZZ_SECONDS (default 60) on its seed corpus;
#   3. the release build: C++ unit tests, bridge, exports, C headers, JUnit
#      (on JDK 17, on JDK 25 when there is one, and on the arm64 JDK under
#      qemu-aarch64), and the Maven consumer project against maven-repo/;
#   4. the linux-aarch64 library's C++ tests under qemu-aarch64 -cpu max,
#      and its SM3 and SM4 tests again as a Cortex-A72 (no SM3/SM4
#      instructions).
# Installs what a fresh Debian machine lacks for these (JUnit 5, Bouncy
# Castle, clang's fuzzer runtime, valgrind, SIMDe, the aarch64 cross
# compiler, qemu-user, Debian's arm64 GoogleTest, OpenSSL and JDK, Maven and
# its plugins) when run as root.
set -eu
cd "$(dirname "$0")/.."

need=""
[ -f /usr/share/java/junit-platform-console-standalone.jar ] || need="$need junit5"
[ -f /usr/share/java/bcprov.jar ] || need="$need libbcprov-java"
ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need="$need libclang-rt-14-dev"
command -v clang++ >/dev/null || need="$need clang"
command -v openssl >/dev/null || need="$need openssl"
{ command -v valgrind >/dev/null && [ -f /usr/include/valgrind/memcheck.h ]; } || need="$need valgrind"
# SIMDe's emulation of GFNI and AVX-512, for the tests' second build of the
# GFNI forms (header-only; never in the library).
[ -f /usr/include/simde/x86/gfni.h ] || need="$need libsimde-dev"
command -v aarch64-linux-gnu-g++ >/dev/null || need="$need g++-aarch64-linux-gnu"
command -v qemu-aarch64 >/dev/null || need="$need qemu-user"
# The Maven consumer project builds offline from Debian's repository of
# plugins, at the versions its POM pins.
command -v mvn >/dev/null || need="$need maven"
plugins=/usr/share/maven-repo/org/apache/maven/plugins
[ -d $plugins/maven-compiler-plugin/3.10.1 ] || need="$need libmaven-compiler-plugin-java"
[ -d $plugins/maven-resources-plugin/3.3.0 ] || need="$need libmaven-resources-plugin-java"
[ -d $plugins/maven-surefire-plugin/2.22.3 ] || need="$need libsurefire-java"
[ -d $plugins/maven-jar-plugin/3.3.0 ] || need="$need libmaven-jar-plugin-java"
[ -d $plugins/maven-install-plugin/3.1.0 ] || need="$need libmaven-install-plugin-java"
# Multiarch packages must have the same version in both architectures, so
# the arm64 JDK and OpenSSL come with their amd64 halves in one transaction:
# apt then upgrades the host's JDK and libssl in step instead of refusing.
arm64=""
[ -f /usr/lib/aarch64-linux-gnu/libgtest.a ] || arm64="$arm64 libgtest-dev:arm64"
[ -f /usr/include/aarch64-linux-gnu/openssl/configuration.h ] || arm64="$arm64 libssl-dev:arm64 libssl-dev"
[ -x /usr/lib/jvm/java-17-openjdk-arm64/bin/java ] ||
  arm64="$arm64 openjdk-17-jdk-headless:arm64 openjdk-17-jdk-headless"
need="$need$arm64"
if [ -n "$need" ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    if [ -n "$arm64" ] && ! dpkg --print-foreign-architectures | grep -qx arm64; then
      dpkg --add-architecture arm64
    fi
    echo "== installing:$need"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $need >/dev/null
  else
    echo "missing test packages; run: sudo dpkg --add-architecture arm64 &&" \
         "sudo apt-get update && sudo apt-get install$need" >&2
    exit 1
  fi
fi

echo "== sanitizer build and C++ tests"
cmake --preset asan
cmake --build --preset asan
ctest --preset asan

echo "== fuzzing smoke run"
./scripts/fuzz.sh "${FUZZ_SECONDS:-60}"

echo "== release build and tests"
cmake --preset release
cmake --build --preset release
ctest --preset release

echo "== linux-aarch64 C++ tests under qemu-aarch64"
# -cpu max offers the SM3 and SM4 instructions; a Cortex-A72 has NEON
# without them, so the digest and cipher tests run again there for the
# forms that processor gets.
QEMU_CPU=max ctest --test-dir build/release/linux-aarch64 --output-on-failure --no-tests=error -j 2
QEMU_CPU=cortex-a72 ctest --test-dir build/release/linux-aarch64 --output-on-failure --no-tests=error -j 2 \
  -R "^(Sm3|Sm4)"
