#!/bin/sh
# library-steps.sh BUILD CORPUS WORK OUT: scans a copy of CORPUS with the
# programs of BUILD in steps and records in OUT what each step left: a first
# scan (sharectl -S), an unchanged rescan (-R), a rescan after touching
# every tenth media file, removing two and adding one, and the source shared
# again with tags and a view tag (which rebuilds its items). After each step OUT
# gets the library's dump (dump-library.py), the console output and the new
# log lines (times, thread ids, the run's duration and the randomly offset
# automatic-refresh time taken out, and sorted: the look-ahead and the tree
# reader make their order vary) and mlcheck's verdict. The copy and the installation folder are made in WORK, the same
# for the runs to be compared, since paths are stored in the library.
# Compare two runs with: diff -r -x '*.raw' OUT1 OUT2
set -eu
build=$(cd "${1:?usage: library-steps.sh BUILD CORPUS WORK OUT}" && pwd)
corpus=$(cd "${2:?usage}" && pwd)
work=${3:?usage}
out=${4:?usage}
bench=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work/media" "$work/inst" "$out"
mkdir -p "$work" "$out"
work=$(cd "$work" && pwd)
out=$(cd "$out" && pwd)
cp -a "$corpus" "$work/media"
"$build/tools/mlsetup" "$work/inst" > /dev/null

# step NAME ARGS...: one sharectl run and what it left.
step() {
  name=$1
  shift
  log="$work/inst/logs/medialib.log"
  before=$(cat "$log" 2>/dev/null | wc -l)
  status=0
  (cd "$work/inst" && "$build/sharectl/sharectl" "$@") > "$out/$name.console.raw" 2>&1 || status=$?
  echo "exit status $status" >> "$out/$name.console.raw"
  tr '\r' '\n' < "$out/$name.console.raw" | sed -e 's/ *$//' -e '/^Time: /d' -e '/^$/d' | sort > "$out/$name.console"
  tail -n "+$((before + 1))" "$log" > "$out/$name.log.raw"
  sed -e 's/^[0-9-]* [0-9:,]* \([A-Z]*\) *\[0x[0-9a-f]*\]/\1/' \
      -e 's/^INFO MSMediaScan - msms_init: automatic media library refresh time starts at .*/refresh time/' \
      -e 's/^WARN MSMediaScan - could not parse refresh time$/refresh time/' "$out/$name.log.raw" | sort > "$out/$name.log"
  python3 "$bench/dump-library.py" "$work/inst" > "$out/$name.dump"
  (cd "$work/inst" && "$build/tools/mlcheck" > "$out/$name.mlcheck" 2>&1) || echo "mlcheck failed" >> "$out/$name.mlcheck"
}

step 1-first -S "$work/media"
step 2-rescan -R
python3 - "$work/media" <<'PY'
import os, shutil, sys
media = (".mp3", ".flac", ".ogg", ".m4a", ".jpg", ".mp4")
root = sys.argv[1]
files = sorted(os.path.join(d, f) for d, _, names in os.walk(root) for f in names
               if f.lower().endswith(media) and os.path.getsize(os.path.join(d, f)) > 0)
stamp = 1700007200
for path in files[::10]:
    os.utime(path, (stamp, stamp))
audio = [f for f in files if f.endswith(".mp3")]
added = os.path.join(os.path.dirname(audio[0]), "99 Added Track.mp3")
shutil.copyfile(audio[1], added)
os.utime(added, (stamp, stamp))
for path in (files[3], files[-2]):
    os.remove(path)
PY
step 3-changed -R
step 4-tagged -G "Family, summer ,_zentoria.libview.Custom.Mine" -S "$work/media"
