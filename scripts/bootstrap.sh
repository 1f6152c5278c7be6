#!/usr/bin/env bash
# The first command: install what is missing, build, and run the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build
build/vorn demo "${1:-build/demo}"
