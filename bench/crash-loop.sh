#!/bin/bash
# crash-loop.sh BUILD WORK [ROUNDS] [SEED]: kills sharectl with SIGKILL at
# random moments of a first scan (-S), a rescan that finds a folder come back
# (-R) and an unshare (-U), ROUNDS times (default 100) in turn. After each
# kill, sharectl -R must complete the library, mlcheck must accept it, and
# the library (bench/dump-library.py) must be the one an uninterrupted scan
# makes; when the source is not recorded (a scan killed before it recorded
# it, an unshare killed after it removed it), the library of a sharectl -R
# that never saw the source, or the one an uninterrupted unshare leaves. The corpus is make-corpus.sh's scale 0 with its photos and
# videos nine times over (about 140 items, so that a scan passes a periodic
# commit). Prints one
# line per round and a summary; exits 1 when a round failed, keeping its
# installation and outputs in WORK/failed-N.
set -u
build=$(realpath "${1:?usage: crash-loop.sh BUILD WORK [ROUNDS] [SEED]}")
work=$(realpath -m "${2:?usage: crash-loop.sh BUILD WORK [ROUNDS] [SEED]}")
rounds=${3:-100}
RANDOM=${4:-$$}
here=$(dirname "$(realpath "$0")")
mkdir -p "$work"
bin="$work/bin"
inst="$work/inst"
media="$work/media"
mkdir -p "$bin"
# Copies, so that a rebuild during the loop changes nothing under it; mlsetup
# finds its example files in ../share/zentoria beside the copies.
cp "$build/sharectl/sharectl" "$build/tools/mlsetup" "$build/tools/mlcheck" "$bin/"
rm -rf "$work/share" && cp -r "$build/share" "$work/share"

if [ ! -d "$media" ]; then
  "$here/make-corpus.sh" "$work/one" 0 >/dev/null
  mkdir -p "$media"
  # Music once only: an album met in two folders takes its art from the
  # folder scanned last, which a rescan changes.
  for i in 1 2 3 4 5 6 7 8 9; do cp -a "$work/one" "$media/copy$i"; done
  for i in 2 3 4 5 6 7 8 9; do rm -rf "$media/copy$i/Music"; done
fi

sharectl() { (cd "$inst" && "$bin/sharectl" "$@" >"$work/out" 2>&1); }
dump() { python3 "$here/dump-library.py" "$inst" >"$1"; }
fresh() { rm -rf "$inst" && "$bin/mlsetup" "$inst" >/dev/null; }
# now_ms: the clock in milliseconds.
now_ms() { date +%s%3N; }

# The libraries to compare with, and the templates each kind of round
# starts from: an empty one (first scan), one scanned without the copies'
# photos (a rescan that finds 96 photos back), one fully scanned (unshare).
fresh && cp -a "$inst" "$work/t-empty" && sharectl -R && dump "$work/empty.dump" && fresh
t0=$(now_ms); sharectl -S "$media"; scan_ms=$(( $(now_ms) - t0 ))
dump "$work/full.dump" && cp -a "$inst" "$work/t-full"
for i in 2 3 4 5 6 7 8 9; do mv "$media/copy$i/Photos" "$work/photos$i"; done
sharectl -R
for i in 2 3 4 5 6 7 8 9; do mv "$work/photos$i" "$media/copy$i/Photos"; done
cp -a "$inst" "$work/t-partial"
t0=$(now_ms); sharectl -R; rescan_ms=$(( $(now_ms) - t0 ))
rm -rf "$inst" && cp -a "$work/t-full" "$inst"
t0=$(now_ms); sharectl -U "$media"; unshare_ms=$(( $(now_ms) - t0 ))
sharectl -R && dump "$work/unshared.dump"
echo "uninterrupted: scan ${scan_ms} ms, rescan ${rescan_ms} ms, unshare ${unshare_ms} ms;" \
  "$(grep -c . "$work/full.dump") dump lines"

failed=0
declare -A kinds=([0]=scan [1]=rescan [2]=unshare)
declare -A done_by
for ((round = 1; round <= rounds; round++)); do
  kind=${kinds[$((round % 3))]}
  case $kind in
    scan) template=t-empty; args=(-S "$media"); span=$scan_ms ;;
    rescan) template=t-partial; args=(-R); span=$rescan_ms ;;
    unshare) template=t-full; args=(-U "$media"); span=$unshare_ms ;;
  esac
  rm -rf "$inst" && cp -a "$work/$template" "$inst"
  # Mostly inside the operation, now and then just after it.
  delay=$((RANDOM % (span + span / 8 + 1)))
  (cd "$inst" && exec "$bin/sharectl" "${args[@]}" >/dev/null 2>&1) &
  pid=$!
  sleep "$(awk -v ms="$delay" 'BEGIN { printf "%.3f", ms / 1000 }')"
  kill -9 "$pid" 2>/dev/null && killed=killed || killed=finished
  wait "$pid" 2>/dev/null
  verdict=ok
  sharectl -R || verdict="refresh exit $?"
  if ! (cd "$inst" && "$bin/mlcheck" >"$work/mlcheck.out" 2>&1); then verdict="mlcheck"; fi
  dump "$work/round.dump"
  (cd "$inst" && "$bin/sharectl" -L >"$work/list" 2>&1)
  expected=full
  grep -qx "$media" "$work/list" || { [ "$kind" = scan ] && expected=empty || expected=unshared; }
  [ "$verdict" = ok ] && ! cmp -s "$work/round.dump" "$work/$expected.dump" && verdict="differs from $expected"
  printf 'round %3d %-7s after %4d ms %-8s -> %-8s %s\n' "$round" "$kind" "$delay" "$killed" "$expected" "$verdict"
  done_by[$kind.$killed]=$(( ${done_by[$kind.$killed]:-0} + 1 ))
  if [ "$verdict" != ok ]; then
    failed=$((failed + 1))
    rm -rf "$work/failed-$round" && cp -a "$inst" "$work/failed-$round"
    cp "$work/out" "$work/mlcheck.out" "$work/round.dump" "$work/failed-$round/" 2>/dev/null
  fi
done
for key in "${!done_by[@]}"; do echo "$key: ${done_by[$key]}"; done | sort
echo "rounds: $rounds, failed: $failed"
[ "$failed" -eq 0 ]
