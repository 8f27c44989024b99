#!/usr/bin/env bash
# Replays (default) or runs each fuzz target over its seed corpus.
#   fuzz/run-corpus.sh BUILD_DIR [seconds]
# With seconds > 0 each target fuzzes that long, adding to a scratch copy of
# its corpus; with no seconds it only replays the corpus (the CI check).
set -euo pipefail
build=$1
secs=${2:-0}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for bin in "$build"/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  corpus="$here/corpus/${name#fuzz_}"
  mkdir -p "$corpus"
  if [ "$secs" -gt 0 ]; then
    work=$(mktemp -d)
    cp -r "$corpus"/. "$work"/ 2>/dev/null || true
    echo "== fuzzing $name for ${secs}s"
    "$bin" -max_total_time="$secs" -timeout=10 -rss_limit_mb=4096 "$work" "$corpus" || status=1
    rm -rf "$work"
  else
    echo "== replaying $name on $(ls "$corpus" | wc -l) seeds"
    "$bin" -runs=0 -timeout=10 -rss_limit_mb=4096 "$corpus" > /tmp/$name.log 2>&1 || { cat /tmp/$name.log; status=1; }
  fi
done
exit $status
