#!/usr/bin/env bash
# The newcomer's first command: installs what is missing, builds the
# programs and shows what sharectl can do.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target sharectl

echo
echo "== build/sharectl/sharectl -H =="
build/sharectl/sharectl -H
