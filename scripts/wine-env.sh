# Sourced by the scripts that run Windows programs: a Wine prefix of the project's
# own, the Chinese locale, a virtual display when there is none, and drive X: mapped
# to a folder that plays the WinPE system drive.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
wine64=/usr/lib/wine/wine64
artifacts=$root/artifacts
mkdir -p "$artifacts"

if [[ -z ${DISPLAY:-} ]]; then
  export DISPLAY=:${VREL_DISPLAY:-97}
  if ! xdpyinfo >/dev/null 2>&1; then
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    vrel_xvfb_pid=$!
    trap 'kill $vrel_xvfb_pid 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  fi
fi

if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "wine: creating the prefix $WINEPREFIX"
  timeout 300 "$wine64" wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
fi
# X:\Windows, the simulated WinPE's Windows directory.
mkdir -p "$root/build/simpe/Windows"
ln -sfn "$root/build/simpe" "$WINEPREFIX/dosdevices/x:"

# Windows path of a Unix path (Wine maps / to Z:).
winpath() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }
