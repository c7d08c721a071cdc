#!/bin/sh
# scan.sh BUILD WORK [SCALE]: measures sharectl on the corpus of
# make-corpus.sh (made in WORK once per scale): the first scan, an unchanged
# rescan (five times), a rescan after touching 1% of the media files, peak
# memory and the library's size; then the same corpus scanned by MiniDLNA
# (Debian package minidlna: database in WORK, listening on 127.0.0.1 only),
# as a ratio.
# Prints a Markdown table. Needs python3.
set -eu
build=$(cd "${1:?usage: scan.sh BUILD WORK [SCALE]}" && pwd)
mkdir -p "${2:?usage: scan.sh BUILD WORK [SCALE]}"
work=$(cd "$2" && pwd)
scale=${3:-1}
bench=$(cd "$(dirname "$0")" && pwd)
corpus="$work/corpus-$scale"
[ -d "$corpus" ] || "$bench/make-corpus.sh" "$corpus" "$scale" >&2

# Every 100th media file, in name order, gets a new modification time
# (mode "touch"), or the corpus's own time again (mode "restore").
touch_media() {
  python3 - "$corpus" "$1" <<'PY'
import os, sys
corpus, mode = sys.argv[1], sys.argv[2]
media = (".mp3", ".flac", ".ogg", ".m4a", ".jpg", ".mp4")
files = sorted(os.path.join(d, f) for d, _, names in os.walk(corpus) for f in names
               if f.lower().endswith(media) and os.path.getsize(os.path.join(d, f)) > 0)
stamp = 1700003600 if mode == "touch" else 1700000000
for path in files[99::100]:
    os.utime(path, (stamp, stamp))
print(len(files[99::100]))
PY
}

# run NAME PROGRAM ARGS...: runs in the installation folder and records its
# wall clock (to the microsecond, from start to exit: /usr/bin/time's is to
# 10 ms and a shell's clock reads around it add the 3 to 8 ms this machine
# takes to start a process), its CPU time and its peak memory.
run() {
  name=$1
  shift
  (cd "$work/inst" && python3 - "$work/$name" "$@" > "$work/$name.out" <<'PY'
import resource, subprocess, sys, time
record, command = sys.argv[1], sys.argv[2:]
start = time.perf_counter()
subprocess.run(command, check=True)
wall = time.perf_counter() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
with open(record + ".time", "w") as out:
    out.write(f"{wall:.3f} {usage.ru_utime + usage.ru_stime:.2f} {usage.ru_maxrss / 1024:.1f}\n")
PY
  )
}
seconds() { cut -d' ' -f1 "$work/$1.time"; }
cpu_seconds() { cut -d' ' -f2 "$work/$1.time"; }
peak_mib() { cut -d' ' -f3 "$work/$1.time"; }
added() { sed -n 's/^\([0-9]*\) item(s) were updated\/added.*/\1/p' "$work/$1.out"; }
removed() { sed -n 's/^\([0-9]*\) item(s) were removed.*/\1/p' "$work/$1.out"; }

touch_media restore > /dev/null
load=$(cut -d' ' -f1-3 /proc/loadavg)
rm -rf "$work/inst"
"$build/tools/mlsetup" "$work/inst" > /dev/null
run first "$build/sharectl/sharectl" -S "$corpus"
# A rescan that finds nothing changed lasts a tenth of a second, so that one
# other process on this shared machine can double it: it runs five times and
# the median counts.
for n in 1 2 3 4 5; do run "rescan$n" "$build/sharectl/sharectl" -R; done
touched=$(touch_media touch)
run touched "$build/sharectl/sharectl" -R
touch_media restore > /dev/null
db_mib=$(du -k "$work/inst/data/medialib.db" | awk '{ printf "%.1f", $1 / 1024 }')

# MiniDLNA scans in a child process at start; the log line "Scanning ...
# finished (N files)!" ends the measurement.
mdl="$work/minidlna"
rm -rf "$mdl"
mkdir -p "$mdl/db" "$mdl/log"
cat > "$mdl/minidlna.conf" <<CONF
media_dir=$corpus
db_dir=$mdl/db
log_dir=$mdl/log
listening_ip=127.0.0.1
port=8201
inotify=no
enable_tivo=no
friendly_name=scan-bench
CONF
start=$(date +%s.%N)
minidlnad -f "$mdl/minidlna.conf" -P "$mdl/pid" -R -d > "$mdl/out.txt" 2>&1 &
mdl_shell=$!
while ! grep -q 'finished (' "$mdl/out.txt" 2>/dev/null; do
  kill -0 "$mdl_shell" 2>/dev/null || { echo "minidlnad stopped before its scan finished" >&2; exit 1; }
  sleep 0.05
done
end=$(date +%s.%N)
kill "$mdl_shell" 2>/dev/null || true
wait "$mdl_shell" 2>/dev/null || true
mdl_files=$(sed -n 's/.*finished (\([0-9]*\) files).*/\1/p' "$mdl/out.txt")
mdl_seconds=$(echo "$end - $start" | bc)

first=$(seconds first)
rescans=$(for n in 1 2 3 4 5; do seconds "rescan$n"; done | sort -n)
rescan=$(echo "$rescans" | sed -n 3p)
rescan_range="$(echo "$rescans" | sed -n 1p)-$(echo "$rescans" | sed -n 5p)"
touched_s=$(seconds touched)
echo "| measure | value |"
echo "|---|---|"
echo "| corpus | $(find "$corpus" -type f | wc -l) files, scale $scale |"
echo "| load average at start | $load |"
echo "| first scan | $(added first) items in ${first} s: $(echo "scale=1; $(added first) / $first" | bc) items/s, $(cpu_seconds first) s CPU, peak $(peak_mib first) MiB |"
echo "| unchanged rescan, median of 5 | ${rescan} s (${rescan_range} s; $(echo "scale=1; 100 * $rescan / $first" | bc)% of the first), $(added rescan1) added, $(removed rescan1) removed, peak $(peak_mib rescan1) MiB |"
echo "| rescan after touching $touched files | ${touched_s} s, $(added touched) added, $(removed touched) removed, peak $(peak_mib touched) MiB |"
echo "| medialib.db | $db_mib MiB |"
echo "| MiniDLNA first scan | $mdl_files files in $mdl_seconds s: $(echo "scale=1; $mdl_files / $mdl_seconds" | bc) files/s |"
echo "| sharectl / MiniDLNA time | $(echo "scale=2; $first / $mdl_seconds" | bc) |"
