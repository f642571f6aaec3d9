#!/bin/sh
# Builds the library and the jar, then runs the demonstration program
# against the jar alone (the native library is loaded from inside it).
set -eu
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release --target zenthal_jar
[ $# -gt 0 ] || set -- abc
java -cp build/release/zenthal.jar com.tarvik.lumora.Quorvex.zenthal.ZenthalDemo "$@"
