#!/usr/bin/env bash
# Builds the fuzz targets with clang (in build-fuzz/) and runs each for the
# given number of seconds (default 600) on a copy of its seed corpus.
# Findings (crash-*, leak-*, timeout-*) land in build-fuzz/findings/<target>/.
# Usage: fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_metafile_xml fuzz_metafile_playlist fuzz_metafile_scan)

if [ ! -f build-fuzz/build.ninja ]; then
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DML_FUZZ=ON -DML_TESTS=OFF \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
fi
cmake --build build-fuzz --target "${targets[@]}" -j2

for target in "${targets[@]}"; do
  seeds=fuzz/corpus/${target#fuzz_metafile_}
  work=build-fuzz/corpus/$target
  findings=build-fuzz/findings/$target
  mkdir -p "$work" "$findings"
  cp -n "$seeds"/* "$work"/ 2>/dev/null || true
  echo "== $target for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "build-fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="$findings/" -print_final_stats=1 "$work" 2>&1 | grep -E "^#|^==|stat::|ERROR|SUMMARY" | tail -12
done
