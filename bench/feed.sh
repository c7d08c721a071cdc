#!/bin/sh
# feed.sh BUILD WORK [ENTRIES]: shares a podcast feed of ENTRIES items (5000
# by default) served by Python's http.server on 127.0.0.1 with sharectl -B,
# then refreshes it unchanged with -R; for each run prints the wall time,
# the items per second, the HTTP requests the server answered and the peak
# memory. The installation and the served folder are made in WORK.
set -eu
build=$(cd "${1:?usage: feed.sh BUILD WORK [ENTRIES]}" && pwd)
mkdir -p "${2:?usage: feed.sh BUILD WORK [ENTRIES]}"
work=$(cd "$2" && pwd)
entries=${3:-5000}
top=$(cd "$(dirname "$0")/.." && pwd)
www=$work/www
rm -rf "$work/library" "$www"
mkdir -p "$www"
ffmpeg -loglevel error -f lavfi -i sine=duration=1 -q:a 9 "$www/tone.mp3"
convert -size 8x8 xc:orange "$www/cover.jpg"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 "$top/scripts/make-feed.py" "$www" "http://127.0.0.1:$port" "$entries" tone.mp3
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$www" >"$work/http.log" 2>&1 &
server=$!
trap 'kill "$server"' EXIT
sleep 1
"$build/tools/mlsetup" "$work/library" >/dev/null
# The whole feed is measured: its bounds are raised to its length.
sed -i -e "s/maxItemsPerFeed=\"[0-9]*\"/maxItemsPerFeed=\"$entries\"/" \
  -e "s/maxItemsPerShare=\"[0-9]*\"/maxItemsPerShare=\"$((entries + 10))\"/" "$work/library/config.xml"
cd "$work/library"

run() {
  : >"$work/http.log"
  /usr/bin/time -f "%e %M" -o "$work/time" "$build/sharectl/sharectl" "$@" >/dev/null
  set -- $(cat "$work/time")
  requests=$(grep -c '" [0-9][0-9][0-9] ' "$work/http.log" || true)
  echo "$1 $2 $requests"
}

echo "| run | entries | wall | items per second | requests | peak RSS |"
echo "|---|---|---|---|---|---|"
set -- $(run -B "http://127.0.0.1:$port/podcast.rss")
echo "| share with -B | $entries | $1 s | $(awk -v n="$entries" -v t="$1" 'BEGIN { printf "%d", n / (t > 0 ? t : 0.01) }') | $3 | $(($2 / 1024)) MB |"
set -- $(run -R)
echo "| unchanged refresh with -R | $entries | $1 s | $(awk -v n="$entries" -v t="$1" 'BEGIN { printf "%d", n / (t > 0 ? t : 0.01) }') | $3 | $(($2 / 1024)) MB |"
"$build/tools/mlcheck" >&2
