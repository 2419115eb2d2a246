#!/usr/bin/env bash
# Win32 headers belong to platform/win32/, the tools' Win32 backends and the Wine
# tests; logic elsewhere goes through the platform interfaces.
set -u
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2
hits=$(grep -rlIE '#include\s*[<"](windows|winbase|winuser|commctrl|shellapi|shlobj|tlhelp32|winioctl|commdlg|winnt|windef|wingdi|shlwapi|winver)\.h[">]' \
  --include='*.c' --include='*.cc' --include='*.cpp' --include='*.h' --include='*.hpp' . \
  | sed 's|^\./||' | grep -vE '^(platform/win32/|tools/|tests/wine/|build/)' )
if [[ -n $hits ]]; then
  echo "Win32 headers included outside platform/win32/, tools/ and tests/wine/:"
  echo "$hits"
  exit 1
fi
echo "Win32 headers stay behind the platform layer."
