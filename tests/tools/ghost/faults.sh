#!/usr/bin/env bash
# The engine's Linux build under faults built here with tools no one here wrote
# (mkntfs, ntfs-3g's tools, sfdisk, losetup, prlimit) and with the fault hook of the
# disk-image builds (VREL_DISK_FAULTS): nothing silent, nothing lost, bounded memory.
#   faults.sh GROUP ENGINE LISTER
#   GROUP: bitmap | kill | truncate | memory | crafted | sector | destination | messages | leftovers
set -u
group=$1 engine=$2 lister=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
# The interpreter itself, not a version-manager shim that costs seconds per start.
images() { if [[ -x /usr/bin/python3 ]]; then /usr/bin/python3 "$here/images.py" "$@"; else python3 "$here/images.py" "$@"; fi; }

# lines FILE: the engine's output as the user reads it, lines joined by '|'.
lines() { iconv -f GBK -t UTF-8 "$1" | tr -d '\r' | paste -sd '|'; }
said() {  # said WHAT EXPECTED: the output was exactly these lines
  local got; got=$(lines "$work/out")
  [[ $got == "$2" ]] || fail "$1: said '$got', expected '$2'"
}
target_sum() { dd if="$work/disk.img" bs=512 skip="$(part_start "$work/disk.img" 2)" count="$(part_size "$work/disk.img" 2)" status=none | md5sum; }
# The lister's file system and label columns for disk:partition.
listed() { "$lister" -tavrin 2>/dev/null | tr -d '\r' | awk -F'\t' -v p="$1" '$1 == p {print $6 "/" $7}'; }
ntfs_disk() {  # a source NTFS on 1:1 labelled VRELSRC with the test files, 1:2 full of random bytes
  make_disk "$work/disk.img" dos 24 30
  head -c $((24 * MiB)) /dev/urandom >"$work/p1.img"
  mkntfs -q -F -Q -L VRELSRC -p "$(part_start "$work/disk.img" 1)" "$work/p1.img" >/dev/null 2>&1 || fail "mkntfs"
  for f in "$work/files"/*; do ntfscp -q -f "$work/p1.img" "$f" "/$(basename "$f")" >/dev/null 2>&1 || fail "ntfscp $f"; done
  put_part "$work/disk.img" "$work/p1.img" 1
  head -c $((30 * MiB)) /dev/urandom >"$work/p2.img"; put_part "$work/disk.img" "$work/p2.img" 2
  export VREL_DISKS=$work/disk.img
}

make_files "$work/files"
rc=0

case $group in
bitmap)
  # $Bitmap says the clusters of two files are free; ntfs-3g's checker does not mind.
  ntfs_disk
  images clear-bitmap "$work/p1.img" /random.bin /text.log || fail "clearing \$Bitmap"
  check "bitmap: ntfsfix -n still passes the volume" quiet ntfsfix -n "$work/p1.img"
  put_part "$work/disk.img" "$work/p1.img" 1
  backup 1:1 "$work/b.gho"; check "bitmap: backup prints nothing" silent_success "$work/out"
  check_image "$work/b.gho"; check "bitmap: check prints nothing" silent_success "$work/out"
  restore "$work/b.gho" 1:2; check "bitmap: restore prints nothing" silent_success "$work/out"
  get_part "$work/disk.img" "$work/restored.img" 2
  check "bitmap: the files' data came back (not the target's old bytes)" same_ntfs_files "$work/restored.img"

  # A record in use whose update sequence fails: which clusters it holds is unknown.
  ntfs_disk
  record=$(images tear-record "$work/p1.img" /random.bin)
  put_part "$work/disk.img" "$work/p1.img" 1
  backup 1:1 "$work/t.gho"
  said "bitmap: a torn record" "错误: 不能确定源分区中哪些数据在使用,没有创建映像: NTFS 文件系统损坏: 主文件表记录 $record 不完整。"
  check "bitmap: a torn record leaves no image" test ! -e "$work/t.gho"
  # An MFT that cannot be read past its first records (the hook's bad sectors).
  ntfs_disk
  mft=$(( $(part_start "$work/disk.img" 1) * 512 + $(ntfsinfo -m "$work/p1.img" | sed -nE 's/.*LCN of Data Attribute for FILE_MFT: ([0-9]+).*/\1/p') * 4096 ))
  VREL_DISK_FAULTS="r:1:$((mft + 40 * 1024))+512" backup 1:1 "$work/u.gho"
  said "bitmap: an unreadable MFT" "错误: 不能确定源分区中哪些数据在使用,没有创建映像: 无法读取 NTFS 主文件表。"
  check "bitmap: an unreadable MFT leaves no image" test ! -e "$work/u.gho"
  ;;

kill)
  # A restore killed at 10%, 50% and 90% of its data (kill -9 at the write that reaches
  # that cluster) must leave a target that no one takes for the source's volume.
  ntfs_disk
  backup 1:1 "$work/k.gho"; check "kill: backup" silent_success "$work/out"
  start2=$(($(part_start "$work/disk.img" 2) * 512))
  read -r -a at <<<"$(images used-at "$work/p1.img" 0.1 0.5 0.9 | paste -sd ' ')"
  for i in 0 1 2; do
    percent=$((10 + 40 * i)); ((i == 2)) && percent=90
    head -c $((30 * MiB)) /dev/urandom >"$work/p2.img"; put_part "$work/disk.img" "$work/p2.img" 2
    VREL_DISK_FAULTS="k:1:$((start2 + at[i]))+1" restore "$work/k.gho" 1:2
    check "kill at $percent%: the engine was killed (exit $rc)" test "$rc" -eq 137
    get_part "$work/disk.img" "$work/half.img" 2
    seen=$(listed 1:2)
    boot=$(head -c 512 "$work/half.img" | tr -d '\0' | wc -c)
    if quiet ntfsfix -n "$work/half.img"; then ntfsfix=passes; else ntfsfix=fails; fi
    echo "kill at $percent%: the lister sees '$seen', ntfsfix -n $ntfsfix, boot sector bytes not zero: $boot"
    check "kill at $percent%: the lister sees no file system (got $seen)" test "$seen" == "RAW/"
    check "kill at $percent%: ntfsfix -n refuses the half-restored target" test $ntfsfix == fails
    check "kill at $percent%: the boot sector is cleared" test "$boot" -eq 0
  done
  restore "$work/k.gho" 1:2; check "kill: a new restore over the killed one succeeds" silent_success "$work/out"
  get_part "$work/disk.img" "$work/restored.img" 2
  check "kill: then the files read back" same_ntfs_files "$work/restored.img"
  check "kill: and the lister shows the label" test "$(listed 1:2)" == "NTFS/VRELSRC"
  ;;

truncate)
  # Cut short: refused before the first write. Padded after its end record: restored.
  ntfs_disk
  backup 1:1 "$work/good.gho"; check "truncate: backup" silent_success "$work/out"
  size=$(stat -c %s "$work/good.gho")
  for cut in $((size / 3)) $((size - 40)) $((size - 1)); do
    head -c "$cut" "$work/good.gho" >"$work/cut.gho"
    before=$(target_sum)
    restore "$work/cut.gho" 1:2
    said "truncate at $cut of $size" "错误: 映像文件不完整(文件被截断或缺少分卷文件)。|目标分区没有被改动。"
    check "truncate at $cut: target untouched" test "$(target_sum)" == "$before"
  done
  cp "$work/good.gho" "$work/padded.gho"; head -c 4096 /dev/zero >>"$work/padded.gho"
  check_image "$work/padded.gho"; check "padded: check passes" silent_success "$work/out"
  restore "$work/padded.gho" 1:2; check "padded: restore succeeds" silent_success "$work/out"
  get_part "$work/disk.img" "$work/restored.img" 2
  check "padded: files read back" same_ntfs_files "$work/restored.img"
  ;;

memory)
  # A valid image of 64 MiB chunks under an address-space limit: it succeeds or says
  # "内存不足", and is never killed by its own allocation failure (exit 134).
  make_disk "$work/disk.img" dos 200 200
  export VREL_DISKS=$work/disk.img
  images chunky "$work/big.gho" 192 64 || fail "making the image"
  for limit in 400 150; do
    for mode in check restore; do
      if [[ $mode == check ]]; then args=("-CHKIMG,$work/big.gho"); else args=("-clone,mode=pload,src=\"$work/big.gho\":1,dst=1:2" -sure); fi
      prlimit --as=$((limit * MiB)) "$engine" "${args[@]}" >"$work/out" 2>&1
      rc=$?
      echo "$mode under $limit MB: exit $rc, said '$(lines "$work/out")'"
      check "$mode under $limit MB: not aborted (exit $rc)" test "$rc" -lt 128
      if ((rc != 0)); then
        check "$mode under $limit MB: says it is out of memory" sh -c "iconv -f GBK -t UTF-8 '$work/out' | grep -q '^错误: 内存不足。'"
      fi
    done
  done
  prlimit --as=$((400 * MiB)) "$engine" "-clone,mode=pload,src=\"$work/big.gho\":1,dst=1:2" -sure >"$work/out" 2>&1
  rc=$?
  check "restore under 400 MB succeeds" silent_success "$work/out"
  ;;

crafted)
  # 531 KB that declare a 512 MiB map of an empty 2 TiB partition with one used block:
  # refused without holding the map, a restore before it is even inflated.
  make_disk "$work/disk.img" dos 8 8
  export VREL_DISKS=$work/disk.img
  images huge-map "$work/huge.gho" || fail "making the image"
  for mode in check restore; do
    if [[ $mode == check ]]; then args=("-CHKIMG,$work/huge.gho"); else args=("-clone,mode=pload,src=\"$work/huge.gho\":1,dst=1:2" -sure); fi
    /usr/bin/time -f '%M %e' -o "$work/cost" "$engine" "${args[@]}" >"$work/out" 2>&1
    read -r kb seconds < <(tail -n 1 "$work/cost")
    echo "crafted $mode: peak $((kb / 1024)) MB, $seconds s, said '$(lines "$work/out")'"
    check "crafted $mode: peak memory under 32 MB (was $((kb / 1024)) MB)" test "$kb" -lt $((32 * 1024))
  done
  said "crafted restore" "错误: 目标分区小于映像中的源分区,无法还原(需要 2097152 MB,目标分区只有 8 MB)。|目标分区没有被改动。"
  check_image "$work/huge.gho"; said "crafted check" "错误: 映像中的分区块表已损坏,映像无法使用。"
  ;;

sector)
  # Images of a 4096-byte-sector disk (a loop device) and of a 512-byte one meet the
  # other kind: refused before anything is written, naming both sizes.
  if [[ $(id -u) -ne 0 ]] || ! command -v losetup >/dev/null; then echo "skipped: needs root and losetup"; exit 0; fi
  make_disk "$work/disk.img" dos 24 30
  truncate -s $((64 * MiB)) "$work/disk4k.img"
  loop=$(losetup --sector-size 4096 -f --show "$work/disk4k.img") || { echo "skipped: no loop device"; exit 0; }
  trap 'losetup -d "$loop"; rm -rf "$work"' EXIT
  # Sectors of 4096 bytes: partitions at 1 MiB and at 33 MiB.
  printf 'label: dos\nsector-size: 4096\nstart=256, size=6144, type=7\nstart=8448, size=6144, type=7\n' |
    sfdisk -q "$loop" >/dev/null 2>&1 || fail "sfdisk on $loop"
  truncate -s $((24 * MiB)) "$work/p4k.img"
  mkntfs -q -F -Q -s 4096 -p 256 "$work/p4k.img" >/dev/null 2>&1 || fail "mkntfs -s 4096"
  ntfscp -q -f "$work/p4k.img" "$work/files/text.log" /text.log >/dev/null 2>&1
  dd if="$work/p4k.img" of="$loop" bs=1M seek=1 conv=notrunc status=none
  head -c $((24 * MiB)) /dev/urandom >"$work/p1.img"; fill_ntfs "$work/p1.img"; put_part "$work/disk.img" "$work/p1.img" 1
  export VREL_DISKS=$work/disk.img:$loop
  backup 2:1 "$work/4k.gho"; check "sector: backup of the 4096-byte disk" silent_success "$work/out"
  backup 1:1 "$work/512.gho"; check "sector: backup of the 512-byte disk" silent_success "$work/out"
  before=$(target_sum)
  restore "$work/4k.gho" 1:2
  said "4096 onto 512" "错误: 映像来自扇区大小为 4096 字节的磁盘,目标磁盘的扇区大小为 512 字节,不能还原。|目标分区没有被改动。"
  check "sector: the 512-byte target untouched" test "$(target_sum)" == "$before"
  before=$(dd if="$loop" bs=1M skip=33 count=24 status=none | md5sum)
  restore "$work/512.gho" 2:2
  said "512 onto 4096" "错误: 映像来自扇区大小为 512 字节的磁盘,目标磁盘的扇区大小为 4096 字节,不能还原。|目标分区没有被改动。"
  check "sector: the 4096-byte target untouched" test "$(dd if="$loop" bs=1M skip=33 count=24 status=none | md5sum)" == "$before"
  restore "$work/4k.gho" 2:2; check "sector: 4096 onto 4096 is fine" silent_success "$work/out"
  ;;

destination)
  # A backup never renames over what is not a regular file, and says what it found.
  make_disk "$work/disk.img" dos 4 4
  export VREL_DISKS=$work/disk.img
  mknod "$work/null" c 1 3 2>/dev/null || mkfifo "$work/null"
  mkfifo "$work/fifo"
  mkdir "$work/folder"
  backup 1:1 "$work/null"
  said "onto a device" "错误: 保存位置已存在且不是普通文件(是设备、管道或其他特殊文件),不能用映像替换它。"
  check "the device is still there" test ! -f "$work/null"
  timeout 20 "$engine" "-clone,mode=pdump,src=1:1,dst=\"$work/fifo\"" >"$work/out" 2>&1
  said "onto a pipe" "错误: 保存位置已存在且不是普通文件(是设备、管道或其他特殊文件),不能用映像替换它。"
  check "the pipe is still a pipe" test -p "$work/fifo"
  backup 1:1 "$work/folder"
  said "onto a folder" "错误: 保存位置是一个文件夹,请给出映像文件的名称。"
  check "the folder is still a folder, empty" test -d "$work/folder" -a -z "$(ls -A "$work/folder")"
  check "no scratch file beside them" test -z "$(ls "$work" | grep vrelpart)"
  ;;

messages)
  # Each failure names its cause and what became of the target.
  ntfs_disk
  backup 1:1 "$work/m.gho"; check "messages: backup" silent_success "$work/out"
  map=$(od -An -tu8 -j104 -N8 "$work/m.gho" | tr -d ' ')
  # Chunk 0's data damaged: found before its first byte is written.
  cp "$work/m.gho" "$work/bad0.gho"
  printf '\xff' | dd of="$work/bad0.gho" bs=1 seek=$((128 + map + 32 + 5000)) conv=notrunc status=none
  before=$(target_sum)
  restore_strict "$work/bad0.gho" 1:2
  said "chunk 0 damaged" "错误: 映像中的数据块已损坏(校验失败)。|目标分区没有被改动。"
  check "chunk 0 damaged: target untouched" test "$(target_sum)" == "$before"
  # A read error in the image file is no "access denied".
  VREL_DISK_FAULTS="r:image:$((128 + map / 2))+1" restore "$work/m.gho" 1:2
  said "image read error" "错误: 读取映像文件时出错(保存映像的磁盘或网络读取失败)。|目标分区没有被改动。"
  VREL_DISK_FAULTS="r:image:$((128 + map / 2))+1" check_image "$work/m.gho"
  said "image read error (check)" "错误: 读取映像文件时出错(保存映像的磁盘或网络读取失败)。"
  # A folder, a header cut short.
  mkdir "$work/folder.gho"
  check_image "$work/folder.gho"; said "a folder as image" "错误: 映像路径是一个文件夹,不是映像文件。"
  head -c 100 "$work/m.gho" >"$work/short.gho"
  check_image "$work/short.gho"; said "100 bytes of an image" "错误: 映像文件不完整(文件被截断或缺少分卷文件)。"
  head -c 100 /dev/urandom >"$work/other.gho"
  check_image "$work/other.gho"; said "100 bytes of something else" "错误: 不是本引擎的GHO映像文件(文件标识不符)。"
  # All data written, then the copy in the larger target's last sector cannot be.
  last=$(( ($(part_start "$work/disk.img" 2) + $(part_size "$work/disk.img" 2) - 1) * 512 ))
  VREL_DISK_FAULTS="w:1:$last+512" restore "$work/m.gho" 1:2
  said "the last sector's copy" "错误: 写入目标分区失败。|映像的数据已全部写入目标分区,但最后写入引导扇区时失败,目标分区可能无法使用,请重新还原。"
  # A valid primary on a disk whose extended chain loops.
  truncate -s $((40 * MiB)) "$work/loop.img"
  printf 'label: dos\nstart=2048, size=8192, type=7\nstart=12288, size=40000, type=5\nstart=14336, size=8192, type=7\n' |
    sfdisk -q "$work/loop.img" >/dev/null || fail "sfdisk loop.img"
  ebr=$((12288 * 512))
  # The logical's link entry points back at its own table.
  printf '\x00\x00\x00\x00\x05\x00\x00\x00\x00\x00\x00\x00\x00\x20\x00\x00' |
    dd of="$work/loop.img" bs=1 seek=$((ebr + 446 + 16)) conv=notrunc status=none
  VREL_DISKS=$work/loop.img restore "$work/m.gho" 1:1
  said "a looping chain" "错误: 磁盘 1: 分区表损坏: 扩展分区链接成环。|目标分区没有被改动。"
  VREL_DISKS=$work/loop.img backup 1:1 "$work/l.gho"
  said "a looping chain (backup)" "错误: 磁盘 1: 分区表损坏: 扩展分区链接成环。"
  ;;

leftovers)
  # A backup killed half-way leaves its scratch file; the next one of that name cleans up.
  make_disk "$work/disk.img" dos 16 16
  export VREL_DISKS=$work/disk.img
  head -c $((16 * MiB)) /dev/urandom >"$work/p1.img"; put_part "$work/disk.img" "$work/p1.img" 1
  VREL_DISK_FAULTS="k:image:$((8 * MiB))+1" backup 1:1 "$work/x.gho"
  check "leftovers: the backup was killed (exit $rc)" test "$rc" -eq 137
  check "leftovers: a killed backup leaves only its scratch file" test -e "$work/x.gho.vrelpart" -a ! -e "$work/x.gho"
  backup 1:1 "$work/x.gho"; check "leftovers: the next backup succeeds" silent_success "$work/out"
  check "leftovers: and leaves no scratch file" test ! -e "$work/x.gho.vrelpart"
  # A pipe with no writer as the image: refused at once, never a hang.
  mkfifo "$work/pipe.gho"
  timeout 20 "$engine" "-CHKIMG,$work/pipe.gho" -sure -fx -BATCH >"$work/out" 2>&1
  rc=$?
  check "leftovers: -CHKIMG on a pipe returns (exit $rc)" test "$rc" -ne 124
  said "a pipe as image" "错误: 映像路径不是普通文件(是设备、管道或其他特殊文件)。"
  ;;
*) echo "unknown group $group"; exit 2 ;;
esac

((failures == 0)) || { echo "$failures failure(s) in $group"; exit 1; }
echo "ok: $group"
