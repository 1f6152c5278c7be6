#!/usr/bin/env bash
# run.sh BUILD_DIR SECONDS: runs every fuzz target for SECONDS on a copy of its
# seeds; fails when any target finds a crash, a leak or undefined behaviour.
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)
status=0
for target in "$build"/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  stem=${name#fuzz_}
  work=$(mktemp -d)
  mkdir -p "$work/corpus" "$work/artifacts"
  if [ -d "$here/seeds/$stem" ]; then cp -r "$here/seeds/$stem/." "$work/corpus/"; fi
  echo "-- $name for ${seconds}s"
  if ! (cd "$work" && "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$work/artifacts/" -print_final_stats=1 corpus >"$work/log" 2>&1); then
    echo "$name: FAILED"; tail -40 "$work/log"; status=1
  else
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+.*DONE)' "$work/log" | tail -3 || true
  fi
  rm -rf "$work"
done
exit $status
