#!/usr/bin/env bash
# The newcomer's first command: installs what is missing, builds, creates an
# installation folder, generates a small media folder (tagged tracks in
# artist/album folders with covers, dated photos, videos with subtitles and
# files a scan must skip), shares it with sharectl, lists the sources and
# shows the library's views. Everything lands under build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target sharectl mlsetup mlbrowse mlcheck playlistsync

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

echo; echo "== mlcheck =="
"$bin/tools/mlcheck"

cat <<MSG

The library is in $demo/library. From there, try for example:
  $bin/tools/mlbrowse browse 1
  $bin/tools/mlbrowse search 1 'dc:title contains "garden"'
  $bin/sharectl/sharectl -R
  $bin/sharectl/sharectl -U $demo/media
MSG
