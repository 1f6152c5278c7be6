#!/usr/bin/env bash
# VornNative_saveJPEG against bare libjpeg-turbo on 4096 x 4096 pictures made
# with ImageMagick, and the heap peak of one call. Builds nothing: takes the
# build folder.
set -euo pipefail
build=${1:?usage: bench/jpeg/run.sh BUILD_DIR}
bench="$build/bench/jpeg"
[ -x "$bench/bench_jpeg" ] && [ -x "$bench/bench_jpeg_memory" ] || {
  echo "bench/jpeg: build $build with -DVORN_BENCH=ON first" >&2
  exit 1
}
echo "### JPEG: VornNative_saveJPEG against libjpeg-turbo"
echo "load before: $(uptime)"
nice "$bench/bench_jpeg" --benchmark_enable_random_interleaving=true --benchmark_color=false \
  --benchmark_out=/dev/null 2>/dev/null | sed -n '/^| picture/,$p'
echo
nice "$bench/bench_jpeg_memory"
echo "load after: $(uptime)"
