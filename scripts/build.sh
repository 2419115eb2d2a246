#!/usr/bin/env bash
# Builds the three trees: native (logic, tool cores, tests), win64 (the Windows code
# run under Wine, and MARK.exe) and win32 (the shipped VrelPELite.exe).
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in native win64 win32; do
  echo "== build $preset"
  [[ -f build/$preset/build.ninja ]] || cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
