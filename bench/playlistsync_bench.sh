#!/bin/sh
# Times playlistsync on a generated iTunes library (50,000 tracks, 500
# playlists): a first run into an empty folder, an unchanged second run, and
# a run after one playlist changed. Prints wall-clock, CPU and peak memory
# (/usr/bin/time -v) for each, and how many target files each run rewrote.
#
# Usage: bench/playlistsync_bench.sh [build-dir] [work-dir]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
work=${2:-$(mktemp -d)}
program=$build/playlistsync/playlistsync
[ -x "$program" ] || { echo "build playlistsync first: $program not found" >&2; exit 1; }

mkdir -p "$work/target"
python3 "$here/playlistsync_gen.py" "$work/library.xml"
python3 "$here/playlistsync_gen.py" --edit 7 "$work/library-edited.xml"
echo "library: $(du -h "$work/library.xml" | cut -f1) ($work/library.xml)"

snapshot() { find "$work/target" -type f -printf '%p %T@\n' | sort > "$1"; }

run() {
  label=$1
  library=$2
  snapshot "$work/before"
  /usr/bin/time -v "$program" "$library" "$work/target" 2> "$work/time.txt"
  snapshot "$work/after"
  changed=$(comm -13 "$work/before" "$work/after" | wc -l)
  printf '%-18s wall %s  user %ss  sys %ss  peak RSS %s KiB  exit %s  files written %s of %s\n' "$label" \
    "$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")" \
    "$(sed -n 's/.*User time (seconds): //p' "$work/time.txt")" \
    "$(sed -n 's/.*System time (seconds): //p' "$work/time.txt")" \
    "$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")" \
    "$(sed -n 's/.*Exit status: //p' "$work/time.txt")" \
    "$changed" "$(ls "$work/target" | wc -l)"
}

run "first run" "$work/library.xml"
sleep 1
run "unchanged run" "$work/library.xml"
sleep 1
run "one playlist edited" "$work/library-edited.xml"
echo "machine: $(nproc) cores, $(sed -n 's/model name\t: //p' /proc/cpuinfo | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"
