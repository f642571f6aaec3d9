#!/bin/sh
# Compares the library's dynamic symbol table with the documented interface.
set -eu
lib="$1"
expected="$2"
# Sanitizer builds add their own instrumentation symbols; they are not ours.
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBR]$/ && $3 !~ /^__(odr_)?asan/ {print $3}' | sort)
want=$(grep -v '^#' "$expected" | sed '/^$/d' | sort)
if [ "$actual" != "$want" ]; then
  echo "exported symbols differ from $expected:"
  printf '%s\n' "$actual" > /tmp/zenthal_actual.$$
  printf '%s\n' "$want" | diff - /tmp/zenthal_actual.$$ || true
  rm -f /tmp/zenthal_actual.$$
  exit 1
fi
echo "exports ok: $(printf '%s\n' "$actual" | wc -l) symbols"
if nm -D --defined-only "$lib" | awk '$3 == "rdrand_support_cache" && $2 != "D" {exit 1}'; then :; else
  echo "rdrand_support_cache is not a data symbol"; exit 1
fi
