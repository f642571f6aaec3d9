#!/bin/sh
# Builds the release preset and runs the side-by-side benchmarks and the
# timing test of opening, then writes docs/benchmarks.md: the machine, the
# compiler and the baselines' versions, and one table per benchmark with
# ours, the baseline and the ratio.
#
#   ./scripts/bench.sh             # a few minutes
#   BENCH_QUICK=1 ./scripts/bench.sh   # fewer, shorter repetitions (a check, not a result)
#
# The native benchmark times libzenthal_jni against OpenSSL's EVP interface in
# one process; the Java one times the JNI methods through zenthal.jar against
# Bouncy Castle in one JVM. Ratios are taken within one run, so both sides see
# the same machine; still, run it on an otherwise idle machine.
#
# Last, the tool: `zenthal sm3` against `openssl dgst -sm3` on a 1 GiB file
# (wall time with the JVM's start, and peak memory), and a 5 GiB file must
# hash to OpenSSL's digest. The files are made in a temporary directory
# (about 6 GiB free is needed, else these rows are skipped) and deleted.
set -eu
cd "$(dirname "$0")/.."

# Google Benchmark, OpenSSL's headers and Bouncy Castle, if a fresh Debian
# machine lacks them.
need=""
[ -f /usr/include/benchmark/benchmark.h ] || need="$need libbenchmark-dev"
[ -f /usr/include/openssl/evp.h ] || need="$need libssl-dev"
[ -f /usr/share/java/bcprov.jar ] || need="$need libbcprov-java"
/usr/bin/time -f %e true >/dev/null 2>&1 || need="$need time"
if [ -n "$need" ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $need >/dev/null
  else
    echo "missing benchmark packages; run: sudo apt-get install$need" >&2
    exit 1
  fi
fi

build=build/release
nice cmake --preset release >/dev/null
nice cmake --build --preset release --target zenthal_bench zenthal_java_bench zenthal_jar
timing=no
if grep -q '^zenthal_timing:' "$build/bench/Makefile" 2>/dev/null; then
  nice cmake --build --preset release --target zenthal_timing
  timing=yes
fi

if [ -n "${BENCH_QUICK:-}" ]; then
  reps=3 min_time=0.05 java_quick=--quick timing_n=100000
else
  reps=9 min_time=0.2 java_quick= timing_n=1000000
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== native benchmark (ours vs OpenSSL)"
nice "$build/bench/zenthal_bench" \
  --benchmark_repetitions="$reps" --benchmark_min_time="$min_time" \
  --benchmark_enable_random_interleaving=true \
  --markdown="$work/native.md"

echo "== Java benchmark (JNI vs Bouncy Castle)"
if [ -f "$build/bench/java-bench.classpath" ]; then
  nice java -cp "$(cat "$build/bench/java-bench.classpath")" \
    com.tarvik.lumora.Quorvex.zenthal.bench.JniBench $java_quick --markdown="$work/java.md"
else
  echo "Bouncy Castle (/usr/share/java/bcprov.jar) is missing: the Java benchmark was skipped." \
    > "$work/java.md"
  cat "$work/java.md"
fi

echo "== the tool on large files (zenthal sm3 vs openssl dgst -sm3)"
# Prints "<seconds> <peak RSS in KiB> <first word of the output>" for one run.
timed() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" > "$work/stdout"
  echo "$(cat "$work/time") $(cut -d ' ' -f 1 "$work/stdout")"
}
median3() {
  printf '%s\n' "$@" | sort -g | sed -n 2p
}
tool_rows() {
  jar="$build/zenthal.jar"
  if [ -n "${BENCH_QUICK:-}" ]; then mib=256 big=0; else mib=1024 big=5; fi
  need_kib=$(( (mib + big * 1024 + 512) * 1024 ))
  free_kib=$(df -Pk "$work" | awk 'NR == 2 {print $4}')
  if [ "$free_kib" -lt "$need_kib" ]; then
    echo "Skipped: $((need_kib / 1024)) MiB of free space needed in $work, $((free_kib / 1024)) MiB free."
    return
  fi
  if ! openssl dgst -sm3 /dev/null >/dev/null 2>&1; then
    echo "Skipped: this openssl has no SM3."
    return
  fi
  f="$work/file-${mib}m"
  head -c $((mib * 1024 * 1024)) /dev/urandom > "$f"
  cat "$f" > /dev/null  # both sides read it from the page cache
  ours_t="" ours_rss=0 base_t="" base_rss=0 agree=yes
  for i in 1 2 3; do
    set -- $(timed java -jar "$jar" sm3 "$f")
    ours_t="$ours_t $1"; [ "$2" -gt "$ours_rss" ] && ours_rss=$2; ours_d=$3
    set -- $(timed openssl dgst -sm3 -r "$f")
    base_t="$base_t $1"; [ "$2" -gt "$base_rss" ] && base_rss=$2
    [ "$3" = "$ours_d" ] || agree=no
  done
  ot=$(median3 $ours_t)
  bt=$(median3 $base_t)
  ratio=$(awk -v o="$ot" -v b="$bt" 'BEGIN {printf "%.2f", b / o}')
  met=$(awk -v r="$ratio" 'BEGIN {print (r >= 1.0) ? "yes" : "**no**"}')
  [ "$agree" = yes ] || met="**no** (digests differ)"
  rss_met=$(awk -v k="$ours_rss" 'BEGIN {print (k <= 96 * 1024) ? "yes" : "**no**"}')
  rate() { awk -v s="$1" -v m="$mib" 'BEGIN {printf "%.0f", m * 1048576 / s / 1e6}'; }
  echo "| Operation | ours | baseline | ours / baseline | target | met |"
  echo "|---|---:|---:|---:|---|---|"
  echo "| \`zenthal sm3\` on a $mib MiB file, wall time with the JVM's start (median of 3) | $ot s ($(rate "$ot") MB/s) | $bt s ($(rate "$bt") MB/s) | $ratio | ≥ 1.0 | $met |"
  echo "| \`zenthal sm3\` on a $mib MiB file, peak RSS | $((ours_rss / 1024)) MiB | $((base_rss / 1024)) MiB | — | ≤ 96 MiB | $rss_met |"
  if [ "$big" -gt 0 ]; then
    # 5 GiB and 4 bytes: past 2^32 bits, and not a whole number of blocks.
    g="$work/file-${big}g"
    for i in $(seq "$((big * 1024 / mib))"); do cat "$f"; done > "$g"
    printf 'tail' >> "$g"
    rm -f "$f"
    set -- $(timed java -jar "$jar" sm3 "$g")
    ours_d=$3 big_t=$1 big_rss=$2
    set -- $(timed openssl dgst -sm3 -r "$g")
    same=$( [ "$3" = "$ours_d" ] && echo yes || echo "**no**")
    echo "| \`zenthal sm3\` on a $big GiB + 4 B file: digest equals OpenSSL's | $big_t s, $((big_rss / 1024)) MiB | $1 s | — | equal | $same |"
  fi
  rm -f "$work"/file-*
}
tool_rows | tee "$work/tool.md"

echo "== timing of opening and of SM2 signing (dudect-style t-tests between classes)"
if [ "$timing" = yes ]; then
  # The form the library chooses, then every other form the processor has.
  nice "$build/bench/zenthal_timing" --measurements="$timing_n" --markdown="$work/timing.md"
  for form in gfni-avx512 gfni-avx2 vaes-avx2 aesni-avx2 table; do
    rc=0
    nice "$build/bench/zenthal_timing" --measurements="$timing_n" --form="$form" \
      --markdown="$work/timing-$form.md" 2>/dev/null || rc=$?
    [ "$rc" = 2 ] && continue
    [ "$rc" = 0 ] || exit "$rc"
    { echo; cat "$work/timing-$form.md"; } >> "$work/timing.md"
  done
  # SM2 signing under keys of low, random and high Hamming weight; a
  # signature costs about as much as 100 openings, so a tenth of the count.
  nice "$build/bench/zenthal_timing" --sm2 --measurements="$((timing_n / 10))" --markdown="$work/timing-sm2.md"
  { echo; cat "$work/timing-sm2.md"; } >> "$work/timing.md"
else
  echo "The timing test needs an x86-64 Linux build: skipped." > "$work/timing.md"
  cat "$work/timing.md"
fi

cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
cores=$(nproc)
flags=$(sed -n 's/^CMAKE_CXX_FLAGS_RELEASE:[A-Z]*=//p' "$build/CMakeCache.txt")

# Rows with a target that is not met, over both tables.
unmet=$(cat "$work/native.md" "$work/java.md" "$work/tool.md" "$work/timing.md" | grep -c '| \*\*no\*\*' || true)
if [ "$unmet" = 0 ]; then
  verdict="Every target is met in this run."
else
  verdict="$unmet target(s) not met in this run: the rows marked **no**."
fi

out=docs/benchmarks.md
mkdir -p docs
{
  echo "# Benchmarks"
  echo
  echo "Generated by \`./scripts/bench.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC')."
  echo
  echo "- Processor: $cpu ($cores cores as seen by the system)"
  echo "- Compiler: $("$cxx" --version | head -n 1), release flags \`$flags\`"
  echo "- OpenSSL: $(openssl version 2>/dev/null || echo unknown)"
  echo "- Java: $(java -version 2>&1 | head -n 1)"
  echo
  echo "The column *target* is the least ratio ours / baseline that the library"
  echo "aims for; *met* says whether this run reached it. $verdict"
  echo
  echo "## Native: libzenthal_jni against OpenSSL"
  echo
  echo "Both run in one process on the same buffers; OpenSSL through EVP with its"
  echo "algorithms fetched once and its contexts reused, doing the same work as ours:"
  echo "one key schedule per call, PKCS#7 padding for CBC, the CBC-MAC as CBC without"
  echo "padding over the message padded with 0x80 and zeros, sealing as CBC then MAC,"
  echo "opening as decryption then MAC then a constant-time comparison."
  echo
  cat "$work/native.md"
  echo
  echo "## Java: the JNI methods against Bouncy Castle"
  echo
  echo "Both run in one JVM on the same arrays. The 0-byte digest is the bridge's"
  echo "per-call cost: taking and releasing the input array, one SM3 compression and"
  echo "the copy of the digest, beside the bare JNI transition at the end."
  echo
  cat "$work/java.md"
  echo
  echo "## The tool: \`zenthal sm3\` against \`openssl dgst -sm3\`"
  echo
  echo "Each command run as a user would, \`java -jar zenthal.jar sm3 FILE\` (the JVM's"
  echo "start included) against \`openssl dgst -sm3 -r FILE\`, alternating, on a file of"
  echo "random bytes already in the page cache; wall time and peak resident memory"
  echo "from GNU time. The digests must agree."
  echo
  cat "$work/tool.md"
  echo
  echo "## Timing of opening: does the time tell why an envelope was rejected?"
  echo
  echo "A dudect-style test: Welch's t between the cycle counts of every two"
  echo "classes of envelope, on all measurements and on sets cropped at dudect's"
  echo "ladder of upper percentiles; the table gives the largest |t| of each pair."
  echo "|t| below 4.5 is dudect's \"no leak found\"."
  echo
  cat "$work/timing.md"
} > "$out"

echo
echo "wrote $out"
echo "$verdict"
