#!/usr/bin/env bash
# Installs every Debian package the project builds, tests and benchmarks with.
# Idempotent: prints nothing and changes nothing when all are present. Run as root.
# With --fuzz it also installs what fuzz/run.sh builds with.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libapr1-dev libaprutil1-dev libaprutil1-dbd-sqlite3
  libsqlite3-dev libexpat1-dev libcurl4-openssl-dev liblog4cxx-dev
  libtag1-dev libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libmagickcore-6.q16-dev
  ffmpeg imagemagick sqlite3 python3 iso-codes time bc
  minidlna wrk curl libmicrohttpd-dev libxml2-utils
  iproute2 gupnp-tools gupnp-dlna-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad python3-gi gir1.2-gupnp-1.6 gir1.2-gupnp-av-1.0
  libasound2-dev alsa-utils
  chromium
)
# clang and its libFuzzer runtime build the fuzz targets (fuzz/run.sh); CI
# does not build them, so they come only with --fuzz.
if [ "${1:-}" = "--fuzz" ]; then
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}; run this script as root" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# MiniDLNA is only a benchmark baseline, started by bench/scan.sh and
# bench/serve.sh in a network namespace of their own: its package must not
# start a server on the machine's network.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  printf '#!/bin/sh\nexit 101\n' > "$policy"
  chmod +x "$policy"
  trap 'rm -f "$policy"' EXIT
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
