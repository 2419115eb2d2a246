#!/usr/bin/env bash
# Sets up, builds, and starts the program in a simulated WinPE under Wine (on a
# virtual display when there is none), saving a screenshot to artifacts/start.png.
# With a real display the program stays open; on a virtual one it is closed after
# the screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
had_display=${DISPLAY:-}
source scripts/wine-env.sh

# The simulated WinPE's Windows directory may carry a configuration and an icon.
cp -n tests/data/simpe/VrelPELite.ini build/simpe/Windows/ 2>/dev/null || true

"$wine64" build/win64/tests/wine/VrelPELiteSim.exe &
program=$!
sleep "${VREL_SCREENSHOT_DELAY:-8}"
xwd -root -silent | convert xwd:- artifacts/start.png
echo "screenshot: artifacts/start.png"
if [[ -n $had_display ]]; then
  wait "$program"
else
  kill "$program" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
fi
