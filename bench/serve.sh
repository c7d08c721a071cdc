#!/bin/sh
# serve.sh BUILD WORK [RUNS] [SECONDS]: measures mlserve side by side with
# MiniDLNA (Debian package minidlna), both on 127.0.0.1 of a network namespace
# whose only interface is loopback (private-net.sh), serving the same media:
# make-corpus.sh's "artists" corpus at scale 1 (made in WORK once) and one
# large WAV file for streaming. Each of RUNS (default 3) runs starts each
# server in turn (the order alternates), then measures with wrk (SECONDS,
# default 5, per figure) the Browse and Search latency of single requests,
# the requests per second of 16 concurrent clients, the throughput of a
# ranged GET with curl, the time to a photo's first thumbnail (not made
# before, then again) and from a Browse of 100 photos to the last of their
# 100 thumbnails, and the server's memory from /proc, idle and after the
# load. Prints Markdown tables of medians and ranges.
set -eu
usage="usage: serve.sh BUILD WORK [RUNS] [SECONDS]"
build=$(cd "${1:?$usage}" && pwd)
mkdir -p "${2:?$usage}"
work=$(cd "$2" && pwd)
bench=$(cd "$(dirname "$0")" && pwd)

corpus="$work/corpus-artists-1"
[ -d "$corpus" ] || "$bench/make-corpus.sh" "$corpus" 1 artists >&2
# Ten minutes of 48 kHz stereo PCM: 115 MB, made in a moment.
large="$work/serve-large"
[ -f "$large/large.wav" ] || { mkdir -p "$large" &&
  ffmpeg -loglevel error -f lavfi -i anoisesrc=d=600:r=48000:seed=7 -ac 2 "$large/large.wav"; }
exec "$bench/private-net.sh" python3 "$bench/serve_runs.py" "$build" "$work" "$corpus" "$large" "${3:-3}" "${4:-5}"
