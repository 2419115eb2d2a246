#!/usr/bin/env bash
# Tests of the engine's Linux build on disk images made by sfdisk, with file systems
# made and checked by tools no one here wrote (mkntfs / ntfs-3g tools, mkfs.vfat /
# mtools / fsck.vfat).
#   real_files.sh GROUP ENGINE      GROUP: ntfs | fat16 | fat32 | gpt | exfat | raw | damage | designators
set -u
group=$1 engine=$2
work=$(mktemp -d /tmp/ghost-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }
quiet() { "$@" >/dev/null 2>&1; }

MiB=$((1024 * 1024))

# disk FILE LABEL SRC_MIB DST_MIB: a disk with two partitions, the second larger and
# at another offset (a gap of 3 MiB between them).
make_disk() {
  local file=$1 label=$2 src=$3 dst=$4
  truncate -s $(((1 + src + 3 + dst + 2) * MiB)) "$file"
  local t1=7 t2=7
  [[ $label == gpt ]] && t1=EBD0A0A2-B9E5-4433-87C0-68B4E0C99EB7 t2=$t1
  printf 'label: %s\nstart=2048, size=%d, type=%s\nstart=%d, size=%d, type=%s\n' \
    "$label" $((src * 2048)) "$t1" $(((1 + src + 3) * 2048)) $((dst * 2048)) "$t2" |
    sfdisk -q "$file" >/dev/null || fail "sfdisk $label"
}
part_field() { sfdisk -d "$1" | grep 'start=' | sed -n "$2p" | sed -E "s/.*$3= *([0-9]+).*/\1/"; }
part_start() { part_field "$1" "$2" start; }
part_size() { part_field "$1" "$2" size; }
put_part() { dd if="$2" of="$1" bs=512 seek="$(part_start "$1" "$3")" conv=notrunc status=none; }
get_part() { dd if="$1" of="$2" bs=512 skip="$(part_start "$1" "$3")" count="$(part_size "$1" "$3")" status=none; }
hidden_sectors() { od -An -tu4 -j28 -N4 "$1" | tr -d ' '; }

# Files of several shapes: compressible text, random bytes, an empty file, a Chinese name.
make_files() {
  local d=$1
  mkdir -p "$d"
  yes 'C:\Windows\System32\kernel32.dll loaded' | head -c 700000 >"$d/text.log"
  head -c 900000 /dev/urandom >"$d/random.bin"
  : >"$d/empty.txt"
  printf '中文内容\n' >"$d/中文.txt"
}

run() {  # run OUT ARGS...: output into OUT, exit code into $rc
  local out=$1; shift
  "$engine" "$@" >"$out" 2>&1
  rc=$?
}
silent_success() { [[ $rc -eq 0 && ! -s $1 ]] || { echo "rc=$rc output: $(iconv -f GBK -t UTF-8 "$1")"; return 1; }; }
failed_cleanly() {
  [[ $rc -ne 0 && $rc -lt 128 ]] || { echo "exit code $rc"; return 1; }
  iconv -f GBK -t UTF-8 "$1" | grep -q '^错误: ' || { echo "no error line: $(cat "$1")"; return 1; }
}

backup() { run "$work/out" "-clone,mode=pdump,src=$1,dst=\"$2\"" -z9 -crcignore -noide -sure -fx -BATCH; }
restore() { run "$work/out" "-clone,mode=pload,src=\"$1\":1,dst=$2" -crcignore -noide -sure -fx -BATCH; }
restore_strict() { run "$work/out" "-clone,mode=pload,src=\"$1\":1,dst=$2" -sure -fx -BATCH; }
check_image() { run "$work/out" "-CHKIMG,\"$1\"" -sure -fx -BATCH; }

# roundtrip NAME: back up 1:1, check, restore onto 1:2 (larger, elsewhere).
roundtrip() {
  local name=$1 disk=$work/disk.img
  export VREL_DISKS=$disk
  backup 1:1 "$work/$name.gho"; check "$name: backup prints nothing" silent_success "$work/out"
  check_image "$work/$name.gho"; check "$name: check prints nothing" silent_success "$work/out"
  restore "$work/$name.gho" 1:2; check "$name: restore prints nothing" silent_success "$work/out"
  get_part "$disk" "$work/restored.img" 2
  check "$name: hidden sectors name the new start" test "$(hidden_sectors "$work/restored.img")" -eq "$(part_start "$disk" 2)"
}

fill_ntfs() {
  local img=$1
  mkntfs -q -F -Q -p "$(part_start "$work/disk.img" 1)" "$img" >/dev/null 2>&1 || fail "mkntfs"
  for f in "$work/files"/*; do ntfscp -q -f "$img" "$f" "/$(basename "$f")" >/dev/null 2>&1 || fail "ntfscp $f"; done
}
same_ntfs_files() {
  local img=$1 ok=0
  for f in "$work/files"/*; do
    ntfscat "$img" "/$(basename "$f")" 2>/dev/null | cmp -s - "$f" || { echo "differs: $f"; ok=1; }
  done
  return $ok
}
fill_fat() {
  local img=$1 bits=$2
  mkfs.vfat -F "$bits" -h "$(part_start "$work/disk.img" 1)" -n VRELTEST "$img" >/dev/null || fail "mkfs.vfat $bits"
  mcopy -i "$img" "$work/files"/* :: || fail "mcopy"
}
same_fat_files() {
  local img=$1 ok=0
  for f in "$work/files"/*; do
    mcopy -n -i "$img" "::$(basename "$f")" "$work/back" 2>/dev/null && cmp -s "$work/back" "$f" || { echo "differs: $f"; ok=1; }
    rm -f "$work/back"
  done
  return $ok
}

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
  # name:offset:action:touches-target
  for damage in "magic:0:flip:no" "header:45:flip:no" "map:130:flip:no" "chunk:$((size / 2)):flip:yes" \
                "end:$((size - 8)):flip:yes" "truncated:$((size / 3)):cut:yes" "header-cut:60:cut:no" "empty:0:cut:no"; do
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
