#!/usr/bin/env bash
# Tests of the engine's Linux build on disk images made by sfdisk, with file systems
# made and checked by tools no one here wrote (mkntfs / ntfs-3g tools, mkfs.vfat /
# mtools / fsck.vfat).
#   real_files.sh GROUP ENGINE      GROUP: ntfs | fat16 | fat32 | gpt | exfat | raw | damage | designators
set -u
group=$1 engine=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"

make_files "$work/files"

case $group in
ntfs | gpt)
  label=dos; [[ $group == gpt ]] && label=gpt
  make_disk "$work/disk.img" $label 24 30
  # Random bytes under the file system: only used clusters may reach the image.
  head -c $((24 * MiB)) /dev/urandom >"$work/p1.img"; fill_ntfs "$work/p1.img"; put_part "$work/disk.img" "$work/p1.img" 1
  roundtrip $group
  check "$group: only used clusters stored ($(stat -c %s "$work/$group.gho") bytes)" test "$(stat -c %s "$work/$group.gho")" -lt $((4 * MiB))
  check "$group: ntfsfix -n passes" quiet ntfsfix -n "$work/restored.img"
  check "$group: files read back identical" same_ntfs_files "$work/restored.img"
  ;;
fat16 | fat32)
  bits=${group#fat}; size=20; [[ $bits == 32 ]] && size=40
  make_disk "$work/disk.img" dos $size $((size + 8))
  head -c $((size * MiB)) /dev/urandom >"$work/p1.img"
  if [[ $bits == 32 ]]; then
    mkfs.vfat -F 32 -s 1 -h "$(part_start "$work/disk.img" 1)" -n VRELTEST "$work/p1.img" >/dev/null || fail "mkfs.vfat 32"
    mcopy -i "$work/p1.img" "$work/files"/* :: || fail "mcopy"
  else
    fill_fat "$work/p1.img" 16
  fi
  put_part "$work/disk.img" "$work/p1.img" 1
  roundtrip $group
  check "$group: only used clusters stored ($(stat -c %s "$work/$group.gho") bytes)" test "$(stat -c %s "$work/$group.gho")" -lt $((3 * MiB))
  check "$group: fsck.vfat -n passes" quiet fsck.vfat -n "$work/restored.img"
  check "$group: files read back identical" same_fat_files "$work/restored.img"
  if [[ $bits == 32 ]]; then
    backup_sector=$(dd if="$work/restored.img" bs=512 skip=6 count=1 status=none | od -An -tu4 -j28 -N4 | tr -d ' ')
    check "fat32: the backup boot sector names the new start too" test "$backup_sector" -eq "$(part_start "$work/disk.img" 2)"
  fi
  ;;
exfat)
  # Stored sector by sector; the boot regions must name the new start and stay sealed.
  make_disk "$work/disk.img" dos 8 12
  head -c $((8 * MiB)) /dev/urandom >"$work/p1.img"
  mkfs.exfat -L VRELEXFAT "$work/p1.img" >/dev/null || fail "mkfs.exfat"
  put_part "$work/disk.img" "$work/p1.img" 1
  export VREL_DISKS=$work/disk.img
  backup 1:1 "$work/exfat.gho"; check "exfat: backup prints nothing" silent_success "$work/out"
  restore "$work/exfat.gho" 1:2; check "exfat: restore prints nothing" silent_success "$work/out"
  get_part "$work/disk.img" "$work/restored.img" 2
  start2=$(part_start "$work/disk.img" 2)
  for region in 0 12; do
    offset=$(od -An -tu8 -j$((region * 512 + 64)) -N8 "$work/restored.img" | tr -d ' ')
    check "exfat: boot region at sector $region names the new start ($offset)" test "$offset" -eq "$start2"
  done
  check "exfat: fsck.exfat -n passes" quiet fsck.exfat -n "$work/restored.img"
  # Each region's sector 11 against a checksum computed here, not by the engine.
  region_sealed() {
    python3 - "$1" "$2" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read()[int(sys.argv[2]) * 512:][:12 * 512]
total = 0
for i, b in enumerate(data[:11 * 512]):
    if i not in (106, 107, 112):
        total = (((total & 1) << 31) | (total >> 1)) + b & 0xFFFFFFFF
sys.exit(0 if data[11 * 512:] == struct.pack('<I', total) * 128 else 1)
PY
  }
  check "exfat: main boot region checksum" region_sealed "$work/restored.img" 0
  check "exfat: backup boot region checksum" region_sealed "$work/restored.img" 12
  check "exfat: label reads back" sh -c "exfatlabel '$work/restored.img' 2>/dev/null | grep -q VRELEXFAT"
  check "exfat: the rest of the volume is the source's, byte for byte" \
    cmp -s <(tail -c +$((24 * 512 + 1)) "$work/p1.img") <(head -c $((8 * MiB)) "$work/restored.img" | tail -c +$((24 * 512 + 1)))
  ;;
raw)
  # No file system: stored sector by sector. Zeros, read (a run written as zeros) or
  # known (a hole of the sparse disk image, never read), cost nothing in the image;
  # the restore writes them over old bytes and leaves a hole of the target a hole.
  make_disk "$work/disk.img" dos 64 64
  export VREL_DISKS=$work/disk.img
  p1=$(part_start "$work/disk.img" 1) p2=$(part_start "$work/disk.img" 2)
  put_at() { dd of="$work/disk.img" bs=512 seek="$1" conv=notrunc status=none; }
  # (whole 4 MiB chunks of each)
  head -c $((4 * MiB)) /dev/urandom | put_at "$p1"
  head -c $((8 * MiB)) /dev/zero | put_at $((p1 + 4 * 2048))
  head -c $((4 * MiB)) /dev/urandom | put_at $((p1 + 60 * 2048))
  yes 'old bytes' | head -c $((64 * MiB)) | put_at "$p2"
  backup 1:1 "$work/raw.gho"; check "raw: backup prints nothing" silent_success "$work/out"
  check "raw: zeros not stored ($(stat -c %s "$work/raw.gho") bytes)" test "$(stat -c %s "$work/raw.gho")" -lt $((8 * MiB + 16 * 1024))
  check_image "$work/raw.gho"; check "raw: check prints nothing" silent_success "$work/out"
  restore "$work/raw.gho" 1:2; check "raw: restore prints nothing" silent_success "$work/out"
  get_part "$work/disk.img" "$work/p1.img" 1; get_part "$work/disk.img" "$work/restored.img" 2
  check "raw: restored over old bytes, byte for byte" cmp -s "$work/p1.img" "$work/restored.img"
  fallocate --punch-hole -o $((p2 * 512)) -l $((64 * MiB)) "$work/disk.img"
  before=$(du -k "$work/disk.img" | cut -f1)
  restore "$work/raw.gho" 1:2; check "raw: restore onto a hole prints nothing" silent_success "$work/out"
  grown=$(($(du -k "$work/disk.img" | cut -f1) - before))
  check "raw: onto a hole only the data is written (${grown} KiB)" test "$grown" -lt $((9 * 1024))
  get_part "$work/disk.img" "$work/restored.img" 2
  check "raw: restored onto a hole, byte for byte" cmp -s "$work/p1.img" "$work/restored.img"
  ;;
damage)
  make_disk "$work/disk.img" dos 4 6
  export VREL_DISKS=$work/disk.img
  head -c $((4 * MiB)) /dev/urandom >"$work/p1.img"; put_part "$work/disk.img" "$work/p1.img" 1
  backup 1:1 "$work/good.gho"; check "damage: backup" silent_success "$work/out"
  size=$(stat -c %s "$work/good.gho")
  target_sum() { dd if="$work/disk.img" bs=512 skip="$(part_start "$work/disk.img" 2)" count="$(part_size "$work/disk.img" 2)" status=none | md5sum; }
  # name:offset:action:touches-target (only damaged chunk data is found after writing began)
  for damage in "magic:0:flip:no" "header:45:flip:no" "map:130:flip:no" "chunk:$((size / 2)):flip:yes" \
                "end:$((size - 8)):flip:no" "truncated:$((size / 3)):cut:no" "header-cut:60:cut:no" "empty:0:cut:no"; do
    IFS=: read -r name offset action touches <<<"$damage"
    cp "$work/good.gho" "$work/bad.gho"
    before=$(target_sum)
    if [[ $action == flip ]]; then
      byte=$(od -An -tu1 -j"$offset" -N1 "$work/bad.gho" | tr -d ' ')
      printf "\\$(printf %03o $((byte ^ 0x55)))" | dd of="$work/bad.gho" bs=1 seek="$offset" conv=notrunc status=none
    else
      truncate -s "$offset" "$work/bad.gho"
    fi
    check_image "$work/bad.gho"; check "damage $name: check fails" failed_cleanly "$work/out"
    restore_strict "$work/bad.gho" 1:2; check "damage $name: restore fails" failed_cleanly "$work/out"
    restore "$work/bad.gho" 1:2; check "damage $name: restore with -crcignore fails too" failed_cleanly "$work/out"
    if [[ $touches == no ]]; then
      check "damage $name: target untouched" test "$(target_sum)" == "$before"
    fi
  done
  ;;
designators)
  make_disk "$work/disk.img" dos 4 4
  export VREL_DISKS=$work/disk.img
  for d in 0:1 9:9 1:9 x:y; do
    backup "$d" "$work/d.gho"; check "designator $d refused" failed_cleanly "$work/out"
    check "designator $d: no image left" test ! -e "$work/d.gho"
  done
  run "$work/out" "-clone,mode=pdump,src=1:1,dst=\"$work/x.gho\"" -bogus
  check "unknown switch refused" failed_cleanly "$work/out"
  check "unknown switch: nothing written" test ! -e "$work/x.gho"
  unset VREL_DISKS
  backup 1:1 "$work/d.gho"; check "no disks at all" failed_cleanly "$work/out"
  ;;
*) echo "unknown group $group"; exit 2 ;;
esac

((failures == 0)) || { echo "$failures failure(s) in $group"; exit 1; }
echo "ok: $group"
