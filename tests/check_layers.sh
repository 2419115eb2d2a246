#!/usr/bin/env bash
# Keeps the folders layered: a folder includes only itself and the folders below it
# (bottom up: platform payload core runner disks search prep wim onekey app), the
# carried tools only themselves and platform/, and Win32 headers stay behind
# platform/win32/, the tools' Win32 backends and the Wine tests. Code from elsewhere
# (third_party/) follows its own rules.
set -u
root=${1:-$(dirname "$0")/..}
cd "$root" || exit 2

layers=(platform payload core runner disks search prep wim onekey app)
declare -A rank
for i in "${!layers[@]}"; do rank[${layers[$i]}]=$i; done

failed=0
fail() {
  echo "$1"
  failed=1
}

# The layer a file belongs to: its top folder, or for tests/<folder>/ that folder.
layer_of() {
  local path=$1 top rest
  top=${path%%/*}
  if [[ $top == tests ]]; then
    rest=${path#tests/}
    top=${rest%%/*}
    case $top in
      fakes | support) echo platform; return ;;
      wine) echo app; return ;;
    esac
  fi
  echo "$top"
}

while IFS= read -r file; do
  file=${file#./}
  from=$(layer_of "$file")
  while IFS= read -r included; do
    to=${included%%/*}
    if [[ $to == tests ]]; then
      [[ $file == tests/* ]] || fail "$file includes $included: only tests use tests/"
      continue
    fi
    if [[ $from == tools ]]; then
      [[ $to == tools || $to == platform ]] || fail "$file includes $included: the carried tools use only tools/ and platform/"
      continue
    fi
    [[ -n ${rank[$from]:-} && -n ${rank[$to]:-} ]] || continue
    if ((rank[$to] > rank[$from])); then
      fail "$file includes $included: $from/ lies below $to/"
    fi
    # Only the composition roots choose the real platform.
    if [[ $included == platform/win32/* && $file != platform/win32/* && $file != app/program_win32.cpp &&
          $file != tests/wine/* && $file != tools/* ]]; then
      fail "$file includes $included: only the composition roots use platform/win32/"
    fi
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$file")
done < <(find . \( -path ./build -o -path ./third_party \) -prune -o -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cc' -o -name '*.cpp' \) -print | sort)

win32=$(grep -rlIE '#include\s*[<"](windows|winbase|winuser|commctrl|shellapi|shlobj|tlhelp32|winioctl|commdlg|winnt|windef|wingdi|shlwapi|winver)\.h[">]' \
  --include='*.c' --include='*.cc' --include='*.cpp' --include='*.h' --include='*.hpp' . \
  | sed 's|^\./||' | grep -vE '^(platform/win32/|tools/|tests/wine/|build/|third_party/)')
[[ -z $win32 ]] || fail "Win32 headers included outside platform/win32/, tools/ and tests/wine/:
$win32"

((failed)) && exit 1
echo "Every include points down; Win32 headers stay behind the platform layer."
