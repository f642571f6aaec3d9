#!/bin/sh
# Builds everything and runs every test:
#   1. the C++ tests under AddressSanitizer + UBSan + LeakSanitizer;
#   2. each fuzz target for FUZZ_SECONDS (default 60) on its seed corpus;
#   3. the release build: C++ unit tests, bridge, exports, C headers, JUnit.
# Installs what a fresh Debian machine lacks for these (JUnit 5, Bouncy
# Castle, clang's fuzzer runtime) when run as root.
set -eu
cd "$(dirname "$0")/.."

need=""
[ -f /usr/share/java/junit-platform-console-standalone.jar ] || need="$need junit5"
[ -f /usr/share/java/bcprov.jar ] || need="$need libbcprov-java"
ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need="$need libclang-rt-14-dev"
command -v clang++ >/dev/null || need="$need clang"
command -v openssl >/dev/null || need="$need openssl"
if [ -n "$need" ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null
  else
    echo "missing test packages; run: sudo apt-get install$need" >&2
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
