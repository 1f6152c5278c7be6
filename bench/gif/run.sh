#!/usr/bin/env bash
# run.sh BUILD_DIR: GIF decoding and encoding, ours against giflib, as a
# markdown table of megapixels per second.
set -euo pipefail
build=$1
json=$(mktemp)
trap 'rm -f "$json"' EXIT
nice "$build/bench/gif_bench" --benchmark_format=json --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true >"$json"
python3 - "$json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
rate = {}
for r in runs:
    if r.get("aggregate_name") != "median":
        continue
    op, who, picture = r["run_name"].split("/", 2)
    rate[(op, picture, who)] = r["MP/s"]
print("| operation | picture | ours MP/s | giflib MP/s | ours / giflib |")
print("|---|---|---:|---:|---:|")
for (op, picture, who) in sorted(rate):
    if who != "ours":
        continue
    ours, theirs = rate[(op, picture, "ours")], rate[(op, picture, "giflib")]
    print(f"| {op} | {picture} | {ours:.1f} | {theirs:.1f} | {ours / theirs:.2f}x |")
PY
echo
echo "load: $(uptime)"
