#!/usr/bin/env bash
# The newcomer's first command: installs what is missing, builds, creates an
# installation folder, generates a small media folder (tagged tracks in
# artist/album folders with covers, dated photos, videos with subtitles and
# files a scan must skip), shares it with sharectl, lists the sources and
# shows the library's views; then serves a podcast feed, a radio list and a
# video from a web server on 127.0.0.1, shares them, shows the Internet views
# and refreshes them. Everything lands under build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target sharectl mlsetup mlbrowse mlcheck playlistsync mlserve

demo=$top/build/demo
rm -rf "$demo"
mkdir -p "$demo"
bin=$top/build
show() { python3 "$top/scripts/show-library.py" "$bin/tools/mlbrowse" "$@"; }

echo; echo "== a sample media folder =="
bench/make-corpus.sh "$demo/media" 0

echo; echo "== an installation folder =="
"$bin/tools/mlsetup" "$demo/library"
cd "$demo/library"

echo; echo "== sharectl -S $demo/media =="
"$bin/sharectl/sharectl" -S "$demo/media"

echo; echo "== sharectl -L =="
"$bin/sharectl/sharectl" -L

echo; echo "== Audio > Music Indexes > Artists / Albums =="
show 1 --title "Music Indexes" --title "Artists / Albums" --depth 3
echo; echo "== Photos > Dates =="
show 2 --title "Dates" --depth 1
echo; echo "== Video > Folders =="
show 3 --title "Folders" --depth 2

echo; echo "== the internet half: a web server on 127.0.0.1 =="
www=$demo/www
mkdir -p "$www"
for n in 1 2; do
  ffmpeg -loglevel error -f lavfi -i "sine=frequency=$((300 * n)):duration=2" -q:a 9 \
    -metadata title="Tone $n" "$www/tone$n.mp3"
done
convert -size 32x32 gradient:orange-brown "$www/cover.jpg"
ffmpeg -loglevel error -f lavfi -i testsrc=duration=2:size=160x120:rate=10 -pix_fmt yuv420p "$www/clip.mp4"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
base=http://127.0.0.1:$port
python3 "$top/scripts/make-feed.py" "$www" "$base" 3 tone1.mp3 tone2.mp3
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$www" >"$demo/http.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null' EXIT
sleep 1

echo; echo "== sharectl -B $base/podcast.rss -A $base/radio.m3u -V $base/clip.mp4 =="
"$bin/sharectl/sharectl" -B "$base/podcast.rss" -A "$base/radio.m3u" -V "$base/clip.mp4"

echo; echo "== Audio > Internet Playlists (the podcast and the radio list) =="
show 1 --title "Internet Playlists" --depth 2
echo; echo "== Video > Internet =="
show 3 --title "Internet" --depth 1

echo; echo "== sharectl -R: unchanged URLs are up to date after one conditional request each =="
: >"$demo/http.log"
"$bin/sharectl/sharectl" -R | tail -n 6
echo "requests made by the refresh:"
grep -c '"HEAD' "$demo/http.log" || true

# The web server stops with the demo, so its sources go too: a later -R
# would otherwise fail on them, as it does for any source it cannot reach.
echo; echo "== sharectl -U for the three URLs, then the web server stops =="
"$bin/sharectl/sharectl" -U "$base/podcast.rss" -U "$base/radio.m3u" -U "$base/clip.mp4" | grep "was removed"
kill "$server"
trap - EXIT

echo; echo "== mlcheck =="
"$bin/tools/mlcheck"

# The media server on 127.0.0.1 only, on a free port; a player on the same
# machine (or scripts/upnp-browse.py, as here) sees what a TV would.
echo; echo "== mlserve: the library served on 127.0.0.1 =="
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -i "s/port=\"41952\" ip=\"\"/port=\"$port\" ip=\"127.0.0.1\"/" config.xml
"$bin/server/mlserve" >"$demo/mlserve.out" 2>&1 &
serve=$!
trap 'kill "$serve" 2>/dev/null' EXIT
for _ in $(seq 50); do grep -q serving "$demo/mlserve.out" && break; sleep 0.1; done
cat "$demo/mlserve.out"
description=http://127.0.0.1:$port/description.xml
echo "-- the root and its containers, browsed over UPnP:"
python3 "$top/scripts/upnp-browse.py" "$description" 0 --depth 2
echo "-- Video, three levels down, with each item's URL on this server:"
python3 "$top/scripts/upnp-browse.py" "$description" 0/3 --depth 3
echo "-- a video's DIDL-Lite as a TV reads it: DLNA profile and flags, thumbnail, subtitle res:"
python3 "$top/scripts/upnp-browse.py" "$description" 0/3 --depth 4 --didl CaptionInfoEx
echo "-- an album copied into $demo/media while mlserve runs, and no command run:"
mkdir -p "$demo/new/Demo Band/First Light"
ffmpeg -loglevel error -f lavfi -i sine=frequency=660:duration=2 -q:a 9 -metadata title="Fresh Arrival" \
  -metadata artist="Demo Band" -metadata album="First Light" "$demo/new/Demo Band/First Light/01 fresh.mp3"
cp -r "$demo/new/Demo Band" "$demo/media/"
for _ in $(seq 40); do
  tree=$(python3 "$top/scripts/upnp-browse.py" "$description" 0/1 --depth 4)
  grep -q "Fresh Arrival" <<<"$tree" && break
  sleep 0.5
done
grep -m 2 -B 3 "Fresh Arrival" <<<"$tree"
echo "-- the web page of this server: http://127.0.0.1:$port/ (its sources, as its JSON has them):"
curl -s "http://127.0.0.1:$port/web/status.json" | python3 -c '
import json, sys
for s in json.load(sys.stdin)["sources"]:
    print("  %s: %s items, %s" % (s["name"], s["items"], s["how"]))'
kill "$serve"
wait "$serve" || true
trap - EXIT

cat <<MSG

The library is in $demo/library. From there, try for example:
  $bin/tools/mlbrowse browse 1
  $bin/server/mlserve      # serves it on 127.0.0.1:$port until Ctrl-C, its page at http://127.0.0.1:$port/
  $bin/tools/mlbrowse search 1 'dc:title contains "garden"'
  $bin/sharectl/sharectl -R
  $bin/sharectl/sharectl -U $demo/media
MSG
