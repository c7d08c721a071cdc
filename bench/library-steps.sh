#!/bin/sh
# library-steps.sh BUILD CORPUS WORK OUT: scans a copy of CORPUS with the
# programs of BUILD in steps and records in OUT what each step left: a first
# scan (sharectl -S), an unchanged rescan (-R), a rescan after touching
# every tenth media file, removing two and adding one, and the source shared
# again with tags and a view tag (which rebuilds its items), then a podcast
# feed and a radio list served on 127.0.0.1 shared (-B, -A) and everything
# refreshed once more. After each step OUT
# gets the library's dump (dump-library.py), the console output and the new
# log lines (times, thread ids, the run's duration and the randomly offset
# automatic-refresh time taken out, and sorted: the look-ahead and the tree
# reader make their order vary) and mlcheck's verdict. The copy and the installation folder are made in WORK, the same
# for the runs to be compared, since paths are stored in the library; the web
# server's port is written as PORT in what the steps leave.
# Compare two runs with: diff -r -x '*.raw' OUT1 OUT2
set -eu
build=$(cd "${1:?usage: library-steps.sh BUILD CORPUS WORK OUT}" && pwd)
corpus=$(cd "${2:?usage}" && pwd -P)
work=${3:?usage}
out=${4:?usage}
bench=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work/media" "$work/inst" "$out"
mkdir -p "$work" "$out"
work=$(cd "$work" && pwd)
out=$(cd "$out" && pwd)
# The corpus's contents, not the corpus itself: a corpus given as a symbolic
# link was copied as the link, and the steps then changed the shared corpus.
mkdir "$work/media"
cp -a "$corpus/." "$work/media"
"$build/tools/mlsetup" "$work/inst" > /dev/null

# The feed and the radio list, with fixed bytes and times so that the runs
# to compare see the same answers.
www="$work/www"
mkdir -p "$www"
[ -f "$www/tone.mp3" ] || ffmpeg -loglevel error -f lavfi -i sine=duration=1 -q:a 9 -map_metadata -1 \
  -fflags +bitexact -flags:a +bitexact "$www/tone.mp3"
[ -f "$www/cover.jpg" ] || convert -size 8x8 xc:orange "$www/cover.jpg"
server_out="$work/http.out"
: > "$server_out"
python3 "$bench/../tests/support/http_test_server.py" --root "$www" > "$server_out" 2>&1 &
server=$!
trap 'kill "$server"' EXIT
while ! grep -q '^PORT ' "$server_out"; do sleep 0.2; done
port=$(sed -n 's/^PORT //p' "$server_out")
python3 "$bench/../scripts/make-feed.py" "$www" "http://127.0.0.1:$port/files" 5 tone.mp3
touch -d '2026-01-02 03:04:05' "$www"/*
unport="s/127\.0\.0\.1:$port/127.0.0.1:PORT/g"

# step NAME ARGS...: one sharectl run and what it left.
step() {
  name=$1
  shift
  log="$work/inst/logs/medialib.log"
  before=$(cat "$log" 2>/dev/null | wc -l)
  status=0
  (cd "$work/inst" && "$build/sharectl/sharectl" "$@") > "$out/$name.console.raw" 2>&1 || status=$?
  echo "exit status $status" >> "$out/$name.console.raw"
  tr '\r' '\n' < "$out/$name.console.raw" | sed -e 's/ *$//' -e '/^Time: /d' -e '/^$/d' -e "$unport" \
    | sort > "$out/$name.console"
  tail -n "+$((before + 1))" "$log" > "$out/$name.log.raw"
  sed -e 's/^[0-9-]* [0-9:,]* \([A-Z]*\) *\[0x[0-9a-f]*\]/\1/' -e "$unport" \
      -e 's/^INFO MSMediaScan - msms_init: automatic media library refresh time starts at .*/refresh time/' \
      -e 's/^WARN MSMediaScan - could not parse refresh time$/refresh time/' "$out/$name.log.raw" | sort > "$out/$name.log"
  python3 "$bench/dump-library.py" "$work/inst" | sed -e "$unport" > "$out/$name.dump"
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
step 5-feed -B "http://127.0.0.1:$port/files/podcast.rss"
step 6-radio -T Radio -A "http://127.0.0.1:$port/files/radio.m3u"
step 7-refresh -R
