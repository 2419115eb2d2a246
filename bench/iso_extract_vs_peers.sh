#!/usr/bin/env bash
# The ISO tool's copy against peers on a 2 GB file, in one run:
#   ISO 9660 image: ISO /X   vs  xorriso -osirrox on -extract of the same file
#   UDF image:      ISO /X   vs  cp of the same bytes from a plain file
# Both sides read warm data (each image is read once beforehand), so the ratio
# compares the copy paths, not the disk. Goal: at most 1.1x.
# Usage: bash bench/iso_extract_vs_peers.sh [size-in-MB]  (needs ~4x that much space)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=$root/build/native/tools/iso/ISO
[[ -x $tool ]] || cmake --build "$root/build/native" --target tool_iso
size_mb=${1:-2048}
work=$(mktemp -d "${TMPDIR:-/tmp}/isobench.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir src
# Incompressible, non-zero bytes (zero runs would be skipped as holes).
openssl enc -aes-128-ctr -pass pass:vrel -nosalt -pbkdf2 </dev/zero 2>/dev/null | head -c $((size_mb << 20)) > src/big.wim
xorriso -as mkisofs -quiet -iso-level 3 -o iso9660.iso src 2>/dev/null
genisoimage -quiet -udf -allow-limited-size -o udf.iso src
cat iso9660.iso udf.iso src/big.wim > /dev/null  # warm

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }

ours_iso=$(seconds "$tool" /X:out1 /I:iso9660.iso); rm -rf out1
peer_iso=$(seconds xorriso -osirrox on -indev iso9660.iso -extract /big.wim out2.wim); rm -f out2.wim
ours_udf=$(seconds "$tool" /X:out3 /I:udf.iso); rm -rf out3
peer_udf=$(seconds cp src/big.wim out4.wim); rm -f out4.wim

printf 'ISO 9660, %d MB: ISO /X %.2f s, xorriso -extract %.2f s, ratio %.2fx\n' "$size_mb" "$ours_iso" "$peer_iso" \
  "$(echo "$ours_iso / $peer_iso" | bc -l)"
printf 'UDF,      %d MB: ISO /X %.2f s, cp %.2f s, ratio %.2fx\n' "$size_mb" "$ours_udf" "$peer_udf" \
  "$(echo "$ours_udf / $peer_udf" | bc -l)"
