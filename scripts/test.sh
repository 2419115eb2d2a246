#!/usr/bin/env bash
# Sets up, builds the three trees and the sanitizer tree, and runs every test tier:
#   1. native unit tests and tool tests (ctest; wimlib peers, generated files),
#   2. the check that includes point down the layers (in ctest),
#   3. the same native tests built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (build/native-asan; any finding fails the test; the tests labelled
#      no_sanitizer, which run nothing built in that tree, are left out),
#   4. the console reader's tests (the shell's and the progress windows') built with
#      ThreadSanitizer (build/native-tsan; only that test program is built),
#   5. the Wine tier (x86_64 build under wine64 on a virtual display),
#   6. the release archive: scripts/package.sh builds it and verifies its sums.
# Every tree is built with warnings as errors (VREL_WERROR in the presets), the
# 32-bit release included: it cannot run here, but it must build warning-free.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
echo "== build native-asan"
cmake --preset native-asan >/dev/null
cmake --build --preset native-asan
echo "== build native-tsan"
cmake --preset native-tsan >/dev/null
cmake --build --preset native-tsan
echo "== native tests"
ctest --preset native -j2
echo "== native tests under ASan and UBSan"
ctest --preset native-asan -j2
echo "== the console reader's tests under TSan"
ctest --preset native-tsan -j2
echo "== Wine tier"
bash tests/wine/run.sh build/win64
echo "== release archive"
bash scripts/package.sh
