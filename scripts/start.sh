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

# Disk images that the simulated builds of the carried tools read as its disks (made
# once), and drive D: for the images backed up from them.
VREL_DISKS=$(bash scripts/demo-disks.sh build/simpe/disks)
export VREL_DISKS
ln -sfn "$root/build/simpe/disks/images" "$WINEPREFIX/dosdevices/d:"
echo "disks: $VREL_DISKS; images on D: ($root/build/simpe/disks/images)"

"$wine64" build/win64/tests/wine/VrelPELiteSim.exe &
program=$!
# Wine may take a while to start: wait until the window is on screen, then let it settle.
for _ in $(seq 60); do
  sleep 1
  mean=$(xwd -root -silent | convert xwd:- -format '%[fx:mean]' info: 2>/dev/null || echo 0)
  awk -v m="$mean" 'BEGIN { exit !(m > 0.02) }' && break
done
sleep "${VREL_SCREENSHOT_DELAY:-4}"
xwd -root -silent | convert xwd:- artifacts/start.png
echo "screenshot: artifacts/start.png"
if [[ -n $had_display ]]; then
  wait "$program"
else
  kill "$program" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
fi
