#!/bin/sh
# scan.sh BUILD[,BUILD2...] WORK [SCALES] [SHAPES] [RUNS]: measures sharectl's first scan
# side by side with MiniDLNA's (Debian package minidlna: database in WORK,
# both run in a network namespace whose only interface is loopback, made by
# private-net.sh) on the corpora of make-corpus.sh, made in WORK once per
# shape and scale. SCALES defaults to "1" (add 10 for about 30,000
# files: it takes a while), SHAPES to "artists collection", RUNS to 3.
#
# Each run of a corpus takes, in turn: sharectl's first scan in a fresh
# installation, five unchanged rescans (their median counts), a rescan after
# touching every 100th media file, then MiniDLNA's first scan and three of
# its rescans of the unchanged corpus (minidlnad -r); runs alternate
# so that the machine's load falls on both alike. Several builds (comma
# separated) take their turns in the same rotation, a table each. Reported:
# medians and ranges of wall-clock time, CPU time (all threads and child
# processes), peak memory, database sizes and, for sharectl, the SQLite
# statements compiled and stepped per item (counted by the LD_PRELOAD
# library sqlite-count.c).
# sharectl runs at nice 15, the priority MiniDLNA gives its scanner process.
# Prints Markdown tables. Needs python3 and a C compiler.
set -eu
builds=
for one in $(echo "${1:?usage: scan.sh BUILD[,BUILD2...] WORK [SCALES] [SHAPES] [RUNS]}" | tr , ' '); do
  builds="${builds:+$builds,}$(cd "$one" && pwd)"
done
mkdir -p "${2:?usage: scan.sh BUILD WORK [SCALES] [SHAPES] [RUNS]}"
work=$(cd "$2" && pwd)
scales=${3:-1}
shapes=${4:-artists collection}
runs=${5:-3}
bench=$(cd "$(dirname "$0")" && pwd)

cc -O2 -shared -fPIC -o "$work/sqlite-count.so" "$bench/sqlite-count.c" -ldl
for shape in $shapes; do
  for scale in $scales; do
    corpus="$work/corpus-$shape-$scale"
    [ -d "$corpus" ] || "$bench/make-corpus.sh" "$corpus" "$scale" "$shape" >&2
  done
done
exec "$bench/private-net.sh" python3 "$bench/scan_runs.py" "$builds" "$work" "$scales" "$shapes" "$runs"
