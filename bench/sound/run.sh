#!/usr/bin/env bash
# run.sh BUILD_DIR: times `vorn wav2au` on an hour of 44100 Hz stereo 16-bit
# sound against copying the same file and against sox's own conversion, and
# reading a file whose data lies behind 10 MB of other chunks. One run each,
# the same files, on the disk of the build folder. Prints a markdown table.
set -euo pipefail
build=$(cd "$1" && pwd)
vorn="$build/vorn"
[ -x "$vorn" ] || { echo "no $vorn: build first" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is needed" >&2; exit 1; }

work=$(mktemp -d "$build/bench-sound.XXXXXX")
trap 'rm -rf "$work"' EXIT
need=$((2200 * 1024))  # KB: the input, its copy and the outputs
avail=$(df -Pk "$work" | awk 'NR == 2 { print $4 }')
if [ "$avail" -lt "$need" ]; then echo "need $((need / 1024)) MB free on $(df -P "$work" | awk 'NR==2{print $6}')" >&2; exit 1; fi

# Wall seconds, CPU seconds (user + system) and peak resident kilobytes of
# one command.
measure() {
  local out="$work/time.$$"
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%e %U %S %M' -o "$out" "$@" >/dev/null 2>"$work/stderr" || { cat "$work/stderr" >&2; return 1; }
    awk '{ printf "%s %.2f %s\n", $1, $2 + $3, $4 }' "$out"
  else
    local start end
    start=$(date +%s.%N); "$@" >/dev/null 2>"$work/stderr"; end=$(date +%s.%N)
    echo "$(echo "$end - $start" | bc) ? ?"
  fi
}

hour="$work/hour.wav"
sox -n -r 44100 -c 2 -b 16 -e signed "$hour" synth 3600 sine 440 sine 660 vol 0.5
sync
size=$(stat -c %s "$hour")

read -r t_cp c_cp m_cp < <(measure cp "$hour" "$work/copy.wav")
rm -f "$work/copy.wav"
read -r t_ours c_ours m_ours < <(measure "$vorn" wav2au "$hour" "$work/ours.au")
read -r t_sox c_sox m_sox < <(measure sox "$hour" -r 8012 -c 1 -e mu-law "$work/sox.au")
frames=$(( $(stat -c %s "$work/ours.au") - 24 ))
rm -f "$hour"

# 10 MB of other chunks before one second of data: walked by their lengths,
# and (not chunks at all) passed by the byte scan.
behind() {
  local file=$1 kind=$2
  python3 - "$file" "$kind" <<'PY'
import struct, sys
path, kind = sys.argv[1], sys.argv[2]
fmt = struct.pack('<HHIIHH', 1, 2, 44100, 176400, 4, 16)
data = bytes(176400)
other = b'x' * (10 << 20)
between = (b'JUNK' + struct.pack('<I', len(other)) + other) if kind == 'chunks' else other
body = b'WAVE' + b'fmt ' + struct.pack('<I', 16) + fmt + between + b'data' + struct.pack('<I', len(data)) + data
open(path, 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
PY
}
behind "$work/chunks.wav" chunks
behind "$work/junk.wav" junk
read -r t_chunks c_chunks m_chunks < <(measure "$vorn" wav2au "$work/chunks.wav" "$work/chunks.au")
read -r t_chunks_cp _ _ < <(measure cp "$work/chunks.wav" "$work/chunks.copy")
read -r t_junk c_junk m_junk < <(measure "$vorn" wav2au "$work/junk.wav" "$work/junk.au")

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }

echo "### Sound: wav2au on one hour of 44100 Hz stereo 16-bit ($((size / 1048576)) MB, $frames frames out)"
echo
echo "| run | wall s | CPU s | peak MB | ratio (wall) |"
echo "|---|---|---|---|---|"
echo "| vorn wav2au | $t_ours | $c_ours | $(mb "$m_ours") | |"
echo "| cp (same disk) | $t_cp | $c_cp | $(mb "$m_cp") | ours / cp = $(ratio "$t_ours" "$t_cp") (goal <= 2) |"
echo "| sox -r 8012 -c 1 -e mu-law | $t_sox | $c_sox | $(mb "$m_sox") | sox / ours = $(ratio "$t_sox" "$t_ours") (goal >= 10) |"
echo "| vorn wav2au, data behind 10 MB of chunks | $t_chunks | $c_chunks | $(mb "$m_chunks") | ours / cp of it = $(ratio "$t_chunks" "$t_chunks_cp") |"
echo "| vorn wav2au, data behind 10 MB of junk (byte scan) | $t_junk | $c_junk | $(mb "$m_junk") | |"
echo
echo "Data $((size / 1048576)) MB; expected peak: the data plus the two converted blocks, $(( (size + size / 2 + frames * 2) / 1048576 )) MB at most."
echo "Load: $(uptime)"
