#!/usr/bin/env bash
# Sets up, builds the three trees and runs every test tier:
#   1. native unit tests and tool tests (ctest; wimlib peers, generated files),
#   2. the check that Win32 headers stay behind the platform layer (in ctest),
#   3. the Wine tier (x86_64 build under wine64 on a virtual display).
# The 32-bit release cannot run here; it must build, warning-free.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
mkdir -p build
bash scripts/build.sh 2>&1 | tee build/build.log
if grep -E 'warning:' build/build.log; then
  echo "test: the build has warnings" >&2
  exit 1
fi
echo "== native tests"
ctest --test-dir build/native --output-on-failure -j2
echo "== Wine tier"
bash tests/wine/run.sh build/win64
