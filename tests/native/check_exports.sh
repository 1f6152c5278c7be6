#!/usr/bin/env bash
# check_exports.sh LIBRARY NAME...: the library's dynamic symbol table defines
# exactly the given names.
set -euo pipefail
library=$1
shift
actual=$(nm -D --defined-only "$library" | awk '{print $NF}' | sort -u)
expected=$(printf '%s\n' "$@" | sort -u)
if [ "$actual" != "$expected" ]; then
  echo "exports differ (< expected, > actual):"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
echo "exports: $(echo "$actual" | tr '\n' ' ')"
