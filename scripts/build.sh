#!/usr/bin/env bash
# Builds the three trees: native (logic, tool cores, tests), win64 (the Windows code
# run under Wine) and win32 (the shipped VrelPELite.exe, with the 64-bit MARK.exe it
# carries built by its own x86-64 sub-build). The trees are independent of each other.
# Configuring every time keeps each tree on its preset's settings (warnings as errors).
set -euo pipefail
cd "$(dirname "$0")/.."
for preset in native win64 win32; do
  echo "== build $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
