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

# A disk image for the one-key flow through the main window (the simulated lister
# and imaging engine read it): partition 1 an NTFS volume with files, partition 2
# larger and empty, the restore target.
e2e=$root/build/wine-e2e
rm -rf "$e2e" && mkdir -p "$e2e/files"
truncate -s 80M "$e2e/disk.img"
printf 'label: dos\nstart=2048, size=40960, type=7\nstart=45056, size=102400, type=7\n' | sfdisk -q "$e2e/disk.img"
truncate -s $((40960 * 512)) "$e2e/p1.img"
mkntfs -q -Q -F -s 512 -L demo -p 2048 -H 16 -S 63 "$e2e/p1.img" >/dev/null 2>&1
head -c 12000000 /dev/urandom >"$e2e/files/random.bin"
printf '还原后应一字不差\r\n' >"$e2e/files/readme.txt"
for f in random.bin readme.txt; do ntfscp -f "$e2e/p1.img" "$e2e/files/$f" "$f" >/dev/null; done
dd if="$e2e/p1.img" of="$e2e/disk.img" bs=512 seek=2048 conv=notrunc status=none

# The real WIM engine's runs: S: a tree, W: holding that tree as wimlib-imagex
# captured it, T: and U: empty folders to restore onto.
wimtrees=$root/build/wine-wim
rm -rf "$wimtrees" && mkdir -p "$wimtrees/images" "$wimtrees/restored" "$wimtrees/back"
python3 "$root/tests/wine/wim_tree.py" "$wimtrees/tree"
wimlib-imagex capture "$wimtrees/tree" "$wimtrees/images/peer.wim" "同一棵树" "wimlib-imagex 做的映像" \
  --compress=maximum >/dev/null
for drive in s:tree t:restored u:back w:images; do
  ln -sfn "$wimtrees/${drive#*:}" "$WINEPREFIX/dosdevices/${drive%%:*}:"
done

echo "== Wine tier: platform layer, console shell, deployment, main window, WIM windows"
status=0
VREL_WIM_TREES=1 VREL_E2E_DISKS=$(winpath "$e2e/disk.img") VREL_ARTIFACTS=$(winpath "$artifacts") timeout 900 "$wine64" "$build/tests/wine/wine_tests.exe" --gtest_color=no || status=$?
for bmp in "$artifacts"/*.bmp; do
  [[ -e $bmp ]] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
# The partition the real engine restored must be a sound NTFS volume with the same files.
dd if="$e2e/disk.img" of="$e2e/p2.img" bs=512 skip=45056 count=102400 status=none
if ! ntfsfix -n "$e2e/p2.img" >"$e2e/ntfsfix.txt" 2>&1; then
  echo "Wine tier: the restored partition fails ntfsfix -n" >&2; cat "$e2e/ntfsfix.txt" >&2; status=1
fi
for f in random.bin readme.txt; do
  if ! ntfscat "$e2e/p2.img" "$f" 2>/dev/null | cmp -s - "$e2e/files/$f"; then
    echo "Wine tier: $f differs on the restored partition" >&2; status=1
  fi
done
# The real engine's restores hold the tree; the backup it wrote onto S: is a sound
# image by wimlib's own check and left out of itself, as was its temporary folder.
backup="$wimtrees/tree/备份 回环.wim"
if ! diff -r -x "备份 回环.wim" "$wimtrees/tree" "$wimtrees/restored" >"$wimtrees/diff.txt" 2>&1; then
  echo "Wine tier: the tree restored from wimlib-imagex's image differs" >&2; head -20 "$wimtrees/diff.txt" >&2; status=1
fi
if ! wimlib-imagex verify "$backup" >"$wimtrees/verify.txt" 2>&1; then
  echo "Wine tier: wimlib-imagex verify refuses the engine's backup" >&2; tail -5 "$wimtrees/verify.txt" >&2; status=1
fi
if ! diff -r -x "备份 回环.wim" "$wimtrees/tree" "$wimtrees/back" >"$wimtrees/diff.txt" 2>&1 ||
   [[ -e $wimtrees/back/备份\ 回环.wim || -e $wimtrees/back/ImagexTemp ]]; then
  echo "Wine tier: the tree restored from the engine's backup differs" >&2; head -20 "$wimtrees/diff.txt" >&2; status=1
fi
exit $status
