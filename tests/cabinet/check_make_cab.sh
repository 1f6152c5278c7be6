#!/usr/bin/env bash
# check_make_cab.sh BUILD_DIR: the vorn command packs out/pack.cab with a.gif
# in one folder and b.gif and c.au in a second, and every reader agrees.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir out
convert -size 64x48 gradient:red-blue out/a.gif
convert -size 80x80 plasma:fractal -seed 3 out/b.gif 2>/dev/null || head -c 30000 /dev/urandom >out/b.gif
sox -n -r 8012 -c 1 -e mu-law out/c.au synth 0.5 sine 440
"$build/vorn" make-cab out/ pack.cab a.gif + b.gif c.au
test -f out/pack.cab
folders=$(od -An -tu2 -j26 -N2 out/pack.cab | tr -d ' ')
[ "$folders" = 2 ] || { echo "folders: $folders"; exit 1; }
cabextract -t out/pack.cab
cabextract -l out/pack.cab
[ "$(gcab -l out/pack.cab | cut -d' ' -f1 | tr '\n' ' ')" = "a.gif b.gif c.au " ]
if command -v 7z >/dev/null; then
  7z t out/pack.cab | grep -q "Everything is Ok"
fi
mkdir x
cabextract -q -d x out/pack.cab
for f in a.gif b.gif c.au; do cmp "out/$f" "x/$f"; done
# A failure prints its line, leaves no cabinet and says so in the exit status.
status=0
"$build/vorn" make-cab out/ bad.cab a.gif missing.gif >log || status=$?
[ "$status" = 1 ] || { echo "status $status"; exit 1; }
grep -qx "FCIAddFile() failed: code 1 \[Failure opening file to be stored in cabinet\]" log
test ! -e out/bad.cab
echo "make-cab: ok"
