#!/bin/sh
# Builds everything and runs every test. Installs the test-only Java
# dependencies (JUnit 5, Bouncy Castle) from Debian when they are missing.
set -eu
cd "$(dirname "$0")/.."

need=""
[ -f /usr/share/java/junit-platform-console-standalone.jar ] || need="$need junit5"
[ -f /usr/share/java/bcprov.jar ] || need="$need libbcprov-java"
if [ -n "$need" ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null
  else
    echo "missing test packages; run: sudo apt-get install$need" >&2
    exit 1
  fi
fi

cmake --preset release
cmake --build --preset release
ctest --preset release
