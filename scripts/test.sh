#!/usr/bin/env bash
# Every test: the release build, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of every fuzz target.
# VORN_FUZZ_SECONDS sets the fuzzing time per target (60 by default, 0 skips).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
jobs=$(nproc)

echo "== release build"
cmake -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizer build"
cmake -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_SANITIZE=ON -DVORN_BENCH=OFF
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== fault sweep: every allocation, open, read, write, temporary name and program start of each method made to fail"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  build-asan/tests/sweep/sweep_tests --gtest_filter='Methods/FaultSweep.*' | grep -E '^[a-zA-Z0-9]+ +[a-z]+ +[0-9]+ +[0-9]+$|^method|PASSED|FAILED'

echo "== real disk faults: file size limits below each output, and a folder without write permission"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  build-asan/tests/sweep/sweep_tests --gtest_filter='Methods/DiskFaults.*' | grep -vE '^\[ +(RUN|OK) +\]|^$'

seconds=${VORN_FUZZ_SECONDS:-60}
if [ "$seconds" != 0 ] && [ -f fuzz/CMakeLists.txt ]; then
  echo "== fuzz targets, ${seconds}s each"
  CC=clang CXX=clang++ cmake -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVORN_FUZZ=ON -DVORN_TESTS=OFF -DVORN_BENCH=OFF
  cmake --build build-fuzz
  bash fuzz/run.sh build-fuzz "$seconds"
fi
