#!/usr/bin/env bash
# Builds the fuzz targets with clang (build-fuzz/) and runs each for SECONDS
# seconds, one after the other, niced, on a copy of its seed corpus (the
# copy grows in build-fuzz/corpus/<target>; crashes land in
# build-fuzz/findings/<target>/). Usage: fuzz/run.sh SECONDS [target...]
# where target is criteria, config, itunes, escape, dates, image_header, flac_info, ranges, paths,
# metafile_xml, metafile_playlist or metafile_scan
# (default: all). Exits non-zero when a target found a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:?usage: fuzz/run.sh SECONDS [target...]}
scripts/install-deps.sh --fuzz
shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(criteria config itunes escape dates image_header flac_info ranges paths metafile_xml metafile_playlist metafile_scan metafile_partial)

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DML_FUZZ=ON -DML_TESTS=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz --target fuzz_all -j 2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=0
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  findings=build-fuzz/findings/$target
  mkdir -p "$corpus" "$findings"
  echo "== $target: $seconds s =="
  if ! nice -n 10 "build-fuzz/fuzz/${target}_fuzz" -max_total_time="$seconds" -rss_limit_mb=2048 \
      -timeout=10 -max_len=65536 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$corpus" "fuzz/corpus/$target" 2>"build-fuzz/$target.log"; then
    echo "$target: finding in $findings (log build-fuzz/$target.log)"
    failed=1
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|cov: " "build-fuzz/$target.log" | tail -3
done
exit $failed
