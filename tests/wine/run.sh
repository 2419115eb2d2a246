#!/usr/bin/env bash
# The Wine tier: the x86_64 builds run under wine64 on a virtual display.
set -euo pipefail
source "$(dirname "$0")/../../scripts/wine-env.sh"
build=${1:-$root/build/win64}

# Drive M: holds the folder tree the image-search tests build.
mkdir -p "$root/build/wine-m"
ln -sfn "$root/build/wine-m" "$WINEPREFIX/dosdevices/m:"
# R:, the drive the tests restore a "system" onto.
mkdir -p "$root/build/wine-restored"
ln -sfn "$root/build/wine-restored" "$WINEPREFIX/dosdevices/r:"
# Wine serves any file named cmd.exe from its own built-in program, whose version
# resource is not the file's: the restored system's interpreter is read as it is.
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;R:\\Windows\\System32\\cmd.exe=n"

echo "== Wine tier: platform layer, console shell, deployment, main window"
status=0
VREL_ARTIFACTS=$(winpath "$artifacts") timeout 600 "$wine64" "$build/tests/wine/wine_tests.exe" --gtest_color=no || status=$?
for bmp in "$artifacts"/*.bmp; do
  [[ -e $bmp ]] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
exit $status
