#!/bin/sh
# Builds the libFuzzer targets (fuzz preset) and runs each one for SECONDS
# (default 60) on a scratch copy of its committed seed corpus under
# build/fuzz/run/. Exits non-zero on any crash, sanitizer report, failed
# check or hang, leaving the reproducer in build/fuzz/run/<target>/artifacts/.
#
#   ./scripts/fuzz.sh        # CI: about a minute per target
#   ./scripts/fuzz.sh 600    # long run: ten minutes per target
#
# FUZZ_JOBS sets the build's parallelism (default 2).
set -eu
cd "$(dirname "$0")/.."

secs=${1:-60}
case $secs in
  '' | *[!0-9]*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac

# clang, libFuzzer's runtime and the OpenSSL headers of the oracle.
need=""
command -v clang++ >/dev/null || need="$need clang"
if command -v clang++ >/dev/null; then
  rt="$(clang++ -print-runtime-dir)/libclang_rt.fuzzer-$(uname -m).a"
  [ -f "$rt" ] || need="$need libclang-rt-dev"
fi
[ -f /usr/include/openssl/evp.h ] || need="$need libssl-dev"
if [ -n "$need" ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null
  else
    echo "missing fuzzing packages; run: sudo apt-get install$need" >&2
    exit 1
  fi
fi

cmake --preset fuzz >/dev/null
nice cmake --build --preset fuzz -j "${FUZZ_JOBS:-2}" --target zenthal_fuzz

# The rdrand input is a short header and script; longer inputs add nothing.
max_len() {
  case $1 in
    fuzz_rdrand_fill) echo 64 ;;
    fuzz_sm2) echo 1024 ;;
    *) echo 4096 ;;
  esac
}

# Last value of a libFuzzer status field (cov:, ft:, corp:) in a log.
field() {
  grep -E "^#[0-9]+" "$2" | tail -n 1 | sed -n "s/.* $1: \([^ ]*\).*/\1/p"
}

passed=0
failed=0
for t in fuzz_sm3 fuzz_cbc fuzz_envelope fuzz_sm2 fuzz_rdrand_fill; do
  work=build/fuzz/run/$t
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp fuzz/corpus/$t/* "$work/corpus/"
  rc=0
  nice "build/fuzz/fuzz/$t" -max_total_time="$secs" -print_final_stats=1 \
    -max_len="$(max_len $t)" -timeout=30 -artifact_prefix="$work/artifacts/" \
    "$work/corpus" >"$work/log" 2>&1 || rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
  line="$t: ${execs:-?} execs (${rate:-?}/s), cov $(field cov "$work/log"), ft $(field ft "$work/log"), corpus $(field corp "$work/log")"
  if [ "$rc" -ne 0 ] || [ -n "$(ls -A "$work/artifacts")" ]; then
    failed=$((failed + 1))
    echo "FAIL $line (exit $rc)"
    tail -n 40 "$work/log"
    ls "$work/artifacts"
  else
    passed=$((passed + 1))
    echo "ok   $line"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
