#!/usr/bin/env bash
# run.sh BUILD_DIR: our cabinet (vorn make-cab) against gcab -c -z on the same
# inputs: about 200 MB of mixed files (text from /usr/share, binaries from
# /usr/lib, a fixed selection copied into a scratch folder) and 10,000 small
# files. Prints a markdown table. Builds nothing itself.
set -euo pipefail
build=$(cd "$1" && pwd)
vorn=$build/vorn
[ -x "$vorn" ] || { echo "no $vorn" >&2; exit 2; }
command -v gcab >/dev/null || { echo "gcab missing" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/vorn-bench-cab-XXXXXX")
trap 'rm -rf "$work"' EXIT

# A fixed selection: regular files in name order, root by root, until each
# half reaches its budget; copied flat (n00001_name) so that both tools see
# the same plain names. Text: sources and scripts from /usr/share (already
# compressed formats left out); binaries: shared objects from /usr/lib.
select_files() {  # budget_bytes find-arguments...
  local budget=$1
  shift
  find "$@" -type f -size +0 -printf '%p\t%s\n' 2>/dev/null | LC_ALL=C sort |
    awk -F'\t' -v budget="$budget" 'total < budget { total += $2; print $1 }'
}
mkdir "$work/mixed" "$work/small"
{
  select_files 100000000 /usr/share/vim /usr/share/perl /usr/share/cmake-3.25 /usr/share/i18n /usr/share/fpcsrc \
    /usr/share/doc -not \( -name '*.gz' -o -name '*.png' -o -name '*.jpg' -o -name '*.gif' -o -name '*.mo' \
    -o -name '*.svgz' -o -name '*.jar' -o -name '*.zip' -o -name '*.ico' -o -name '*.ttf' -o -name '*.bz2' -o -name '*.xz' \)
  select_files 100000000 /usr/lib -name '*.so*'
} | awk '{ n++; b = $0; sub(".*/", "", b); gsub(/[^A-Za-z0-9._-]/, "_", b); printf "%s\t%s/mixed/n%05d_%s\n", $0, "'"$work"'", n, b }' |
  while IFS=$'\t' read -r from to; do cp "$from" "$to"; done
# 10,000 small files: lines of English-like text, 100 to 4000 bytes each.
awk 'BEGIN { srand(42); split("the of and a to in is you that it he was for on are as with his they at be this have from or one had by word but not what all were we when your can said there use an each which she do how their if will up other about out many then them these so some her would make like him into time has look two more write go see number no way could people my than first water been call who oil its now find long down day did get come made may part", w, " ");
             for (i = 0; i < 10000; i++) { f = sprintf("'"$work"'/small/s%05d.txt", i); n = 100 + int(rand() * 3900); s = "";
               while (length(s) < n) { s = s w[1 + int(rand() * 100)] ((rand() < 0.1) ? "\n" : " ") }
               printf "%s", substr(s, 1, n) > f; close(f) } }'

measure() {  # label dir
  local dir=$2 ours gcabs t0 t1 t2 t3 listing
  listing=$(cd "$dir" && ls | LC_ALL=C sort)
  local bytes
  bytes=$(cd "$dir" && cat -- $listing | wc -c)
  sync
  t0=$(date +%s.%N)
  (cd "$dir" && "$vorn" make-cab "$dir/" ../ours.cab $listing >/dev/null)
  t1=$(date +%s.%N)
  t2=$(date +%s.%N)
  (cd "$dir" && gcab -c -z "$work/gcab.cab" $listing)
  t3=$(date +%s.%N)
  cabextract -t "$work/ours.cab" >/dev/null || { echo "cabextract -t failed on our cabinet" >&2; exit 1; }
  ours=$(stat -c %s "$work/ours.cab")
  gcabs=$(stat -c %s "$work/gcab.cab")
  awk -v l="$1" -v b="$bytes" -v o="$ours" -v g="$gcabs" -v to="$(echo "$t1 - $t0" | bc)" -v tg="$(echo "$t3 - $t2" | bc)" \
    'BEGIN { printf "| %s | %.1f MB | %d | %d | %.3f | %.2f | %.2f | %.3f |\n", l, b / 1e6, o, g, o / g, to, tg, to / tg }'
  rm -f "$work/ours.cab" "$work/gcab.cab"
}

echo "| input | bytes in | ours (bytes) | gcab -z (bytes) | size ours/gcab | ours (s) | gcab (s) | time ours/gcab |"
echo "|---|---|---|---|---|---|---|---|"
measure "mixed, $(ls "$work/mixed" | wc -l) files" "$work/mixed"
measure "10,000 small files" "$work/small"
echo
echo "load: $(uptime)"
