#!/bin/sh
# Compares the library's dynamic symbol table with the documented interface,
# and checks that its soname is the name the JVM loads and that it needs
# nothing but the C/C++ runtime. NM and READELF name the tools for another
# architecture's library (a cross build passes its own).
set -eu
lib="$1"
expected="$2"
nm=${NM:-nm}
readelf=${READELF:-readelf}
# Sanitizer builds add their own instrumentation symbols; they are not ours.
actual=$("$nm" -D --defined-only "$lib" | awk '$2 ~ /^[TDBR]$/ && $3 !~ /^__(odr_)?asan/ {print $3}' | sort)
want=$(grep -v '^#' "$expected" | sed '/^$/d' | sort)
if [ "$actual" != "$want" ]; then
  echo "exported symbols differ from $expected:"
  printf '%s\n' "$actual" > /tmp/zenthal_actual.$$
  printf '%s\n' "$want" | diff - /tmp/zenthal_actual.$$ || true
  rm -f /tmp/zenthal_actual.$$
  exit 1
fi
echo "exports ok: $(printf '%s\n' "$actual" | wc -l) symbols"
if "$nm" -D --defined-only "$lib" | awk '$3 == "rdrand_support_cache" && $2 != "D" {exit 1}'; then :; else
  echo "rdrand_support_cache is not a data symbol"; exit 1
fi

dynamic=$("$readelf" -d "$lib")
soname=$(printf '%s\n' "$dynamic" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$soname" != "$(basename "$lib")" ]; then
  echo "soname is '$soname', not $(basename "$lib")"; exit 1
fi
# Sanitizer builds also need their runtimes.
extra=$(printf '%s\n' "$dynamic" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' |
  grep -Ev '^(libc\.so\.6|libm\.so\.6|libstdc\+\+\.so\.6|libgcc_s\.so\.1|ld-linux[-a-z0-9_]*\.so\.[0-9]+|lib(a|ub)san\.so\.[0-9]+)$' || true)
if [ -n "$extra" ]; then
  echo "needs more than the C/C++ runtime:"; printf '%s\n' "$extra"; exit 1
fi
echo "soname $soname, needs only the C/C++ runtime"
