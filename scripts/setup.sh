#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  clang libclang-rt-14-dev            # libFuzzer and the sanitizer runtimes
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libjpeg62-turbo-dev libgif-dev
  openjdk-17-jdk-headless junit5
  # independent readers and peers used by the tests and benchmarks
  sox libsox-fmt-base cabextract gcab p7zip-full imagemagick
  # the desktop: clipboard and file association
  xvfb xclip xdg-utils shared-mime-info
  # tools the tests call
  binutils procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing packages: ${missing[*]}; run as root to install them" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
