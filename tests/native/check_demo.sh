#!/usr/bin/env bash
# vorn demo makes every file it reports, each readable by an independent reader.
set -euo pipefail
vorn=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$vorn" demo "$out/demo" >"$out/log" 2>&1 || { cat "$out/log"; exit 1; }
cat "$out/log"
if grep -q FAILED "$out/log"; then exit 1; fi
d=$out/demo
[ ! -e "$d/sample.gif" ] || giftext "$d/sample.gif" >/dev/null 2>&1 || identify "$d/sample.gif" >/dev/null
[ ! -e "$d/sample.jpg" ] || identify "$d/sample.jpg" | grep -q JPEG
[ ! -e "$d/sample.au" ] || [ "$(soxi -r "$d/sample.au")" = 8012 ]
if [ -e "$d/sample.cab" ]; then cabextract -t "$d/sample.cab" >/dev/null; fi
# Every file the demo reported as made exists.
grep ' ok ' "$out/log" | grep -o "$d/[^ ]*" | while read -r f; do [ -s "$f" ] || { echo "missing $f"; exit 1; }; done
