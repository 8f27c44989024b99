#!/usr/bin/env bash
# Runs every benchmark program built into bench/ of the build folder; each
# prints one line per figure, with the peer library's figure beside it.
set -u
status=0
for b in bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || status=1
done
exit $status
