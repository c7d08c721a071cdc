#!/bin/sh
# watch.sh BUILD WORK [RUNS]: how fast a watched share reaches the players,
# mlserve side by side with MiniDLNA's inotify mode (Debian package
# minidlna: database in WORK, listening on 127.0.0.1 only). Makes the
# "collection" corpus of make-corpus.sh in WORK once and copies its 200 album
# folders (2,000 tracks and their covers) into each server's empty share;
# also times 20 single files from creation to a Search that finds them.
# RUNS defaults to 3. Prints a Markdown table (watch_runs.py says what each
# column is). The machine is shared: figures move with its load.
set -eu
build=$(cd "${1:?usage: watch.sh BUILD WORK [RUNS]}" && pwd)
mkdir -p "${2:?usage: watch.sh BUILD WORK [RUNS]}"
work=$(cd "$2" && pwd)
runs=${3:-3}
bench=$(cd "$(dirname "$0")" && pwd)

corpus="$work/corpus-collection-1"
[ -d "$corpus" ] || "$bench/make-corpus.sh" "$corpus" 1 collection >&2
exec python3 "$bench/watch_runs.py" "$build" "$work" "$corpus/Music" "$runs"
