# Shared by the imaging engine's shell tests: disks made by sfdisk, file systems made
# and read back by tools no one here wrote, and the engine's four command lines.
# The caller sets $engine and sources this file.
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
  rm -f "$file"
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

