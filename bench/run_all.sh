#!/usr/bin/env bash
# run_all.sh BUILD_DIR: runs every bench/<folder>/run.sh on the build folder
# and writes their tables, with the machine's load, into bench/RESULTS.md.
# A benchmark that fails is recorded as failed; the others still run.
set -uo pipefail
if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: bench/run_all.sh BUILD_DIR" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
results=$here/RESULTS.md
draft=$(mktemp)
trap 'rm -f "$draft"' EXIT

{
  echo "# Benchmark results"
  echo
  echo "Made by \`bench/run_all.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores."
  echo
  echo "Load before: \`$(uptime)\`"
} >"$draft"

status=0
found=0
for script in "$here"/*/run.sh; do
  [ -f "$script" ] || continue
  found=1
  name=$(basename "$(dirname "$script")")
  echo "== $name" >&2
  output=$(nice -n 10 bash "$script" "$build" 2>&1)
  code=$?
  {
    echo
    echo "## $name"
    echo
    if [ $code -eq 0 ]; then
      echo "$output"
    else
      echo "Failed with status $code:"
      echo
      echo '```'
      echo "$output"
      echo '```'
    fi
    echo
    echo "Load after: \`$(uptime)\`"
  } >>"$draft"
  [ $code -eq 0 ] || status=1
done
if [ $found -eq 0 ]; then
  printf '\nNo benchmark has a run.sh yet.\n' >>"$draft"
fi
mv "$draft" "$results"
trap - EXIT
echo "wrote $results" >&2
exit $status
