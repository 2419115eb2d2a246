#!/usr/bin/env bash
# The Linux build of the boot-record writer on disk images made by sfdisk, mkntfs and
# mkfs.vfat:   real_disks.sh GROUP TOOL MBR_BOOT_BIN
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin
group=$1 tool=$2 boot_code=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL: $*" >&2; exit 1; }
# Runs the tool on the disks given in DISKS; its GBK output is kept as UTF-8 in out.txt.
DISKS=
run() {
  local code=0
  VREL_DISKS=$DISKS "$tool" "$@" >raw.txt || code=$?
  iconv -f GBK -t UTF-8 raw.txt >out.txt
  return $code
}
expect_ok() { run "$@" || fail "$* failed: $(cat out.txt)"; }
expect_refused() {
  local part=$1; shift
  if run "$@"; then fail "$* succeeded: $(cat out.txt)"; fi
  grep -q "^错误: .*$part" out.txt || fail "$*: expected '$part', got: $(cat out.txt)"
}
sum() { sha1sum "$1" | cut -d' ' -f1; }
bootable() { sfdisk --dump "$1" | grep -c bootable || true; }
is_bootable() { sfdisk --dump "$1" | grep "^$1$2 " | grep -q bootable; }

# Three primaries and two logical partitions, the second primary active. As Windows
# numbers them, the logical ones are 4 and 5 (the extended container has no number).
make_mbr_disk() {
  truncate -s 64M "$1"
  sfdisk -q "$1" <<'TABLE'
label: dos
label-id: 0x5eedf00d
start=2048, size=8192, type=7
start=10240, size=8192, type=7, bootable
start=18432, size=8192, type=c
start=26624, type=5
start=28672, size=8192, type=7
start=38912, size=8192, type=7
TABLE
}

case $group in
  mbr)
    make_mbr_disk disk.img
    head -c 440 /dev/urandom | dd of=disk.img conv=notrunc status=none
    sfdisk --dump disk.img >table.before
    dd if=disk.img bs=1 skip=440 count=72 status=none >tail.before
    DISKS=disk.img
    expect_ok /DEVICE=1:5 /mbr /install  /type=nt60  /quiet
    cmp <(head -c 440 disk.img) "$boot_code" || fail "boot code not written"
    cmp <(dd if=disk.img bs=1 skip=440 count=72 status=none) tail.before || fail "signature or table changed"
    sfdisk --dump disk.img | diff table.before - || fail "sfdisk reads another table"
    # Writing again changes nothing.
    before=$(sum disk.img)
    expect_ok /device=1:1 /MBR /Install /Type=NT52
    [[ $(sum disk.img) == "$before" ]] || fail "second install changed the disk"
    ;;

  activate)
    make_mbr_disk disk.img
    DISKS=disk.img
    expect_ok /DEVICE=1:3 /partitions /activate /quiet
    is_bootable disk.img 3 || fail "partition 3 not active"
    [[ $(bootable disk.img) == 1 ]] || fail "more than one active partition"
    # A logical partition cannot be active: nothing changes.
    before=$(sum disk.img)
    expect_refused "逻辑分区" /DEVICE=1:5 /partitions /activate /quiet
    [[ $(sum disk.img) == "$before" ]] || fail "refused activation changed the disk"
    # The second of two listed disks.
    make_mbr_disk other.img
    DISKS=disk.img:other.img
    expect_ok /DEVICE=2:1 /partitions /activate
    is_bootable other.img 1 && ! is_bootable other.img 2 || fail "disk 2 not activated"
    [[ $(sum disk.img) == "$before" ]] || fail "disk 1 changed"
    ;;

  gpt)
    truncate -s 64M gpt.img
    printf 'label: gpt\nstart=2048, size=8192, type=C12A7328-F81F-11D2-BA4B-00A0C93EC93B\nstart=10240, size=16384\n' |
      sfdisk -q gpt.img
    before=$(sum gpt.img)
    DISKS=gpt.img
    expect_refused "GPT" /DEVICE=1:2 /mbr /install  /type=nt60  /quiet
    expect_refused "GPT" /DEVICE=1:2 /partitions /activate /quiet
    [[ $(sum gpt.img) == "$before" ]] || fail "GPT disk changed"
    ;;

  devices)
    make_mbr_disk disk.img
    before=$(sum disk.img)
    DISKS=disk.img
    expect_refused "未指定设备" /DEVICE= /mbr /install  /type=nt60  /quiet
    expect_refused "未指定设备" /mbr /install
    expect_refused "1:6" /DEVICE=1:6 /mbr /install
    expect_refused "1:9" /DEVICE=1:9 /partitions /activate
    expect_refused "逻辑分区" /DEVICE=1:4 /partitions /activate
    expect_refused "磁盘 2" /DEVICE=2:1 /mbr /install
    expect_refused 'C:\\' '/DEVICE=C:\' /mbr /install
    expect_refused "x1" /DEVICE=x1 /partitions /activate
    expect_refused "/backup" /DEVICE=1:1 /mbr /backup
    DISKS=missing.img
    expect_refused "磁盘 1" /DEVICE=1:1 /mbr /install
    [[ $(sum disk.img) == "$before" ]] || fail "a refused command changed the disk"
    # A damaged table (the second partition now starts inside the first) is left alone.
    cp disk.img damaged.img
    printf '\x00\x10' | dd of=damaged.img bs=1 seek=$((0x1CE + 8)) conv=notrunc status=none
    before=$(sum damaged.img)
    DISKS=damaged.img
    expect_refused "重叠.*未做任何修改" /DEVICE=1:1 /mbr /install
    expect_refused "未做任何修改" /DEVICE=1:1 /partitions /activate
    [[ $(sum damaged.img) == "$before" ]] || fail "a damaged table was written to"
    # A disk that is one volume without a table: boot code there would wreck it.
    truncate -s 40M whole.img
    mkfs.vfat whole.img >/dev/null
    before=$(sum whole.img)
    DISKS=whole.img
    expect_refused "没有分区表" /DEVICE=1:1 /mbr /install
    expect_refused "没有分区表" /DEVICE=1:1 /partitions /activate
    [[ $(sum whole.img) == "$before" ]] || fail "a disk without a table was written to"
    ;;

  pbr)
    make_mbr_disk disk.img
    truncate -s 4M ntfs.img
    mkntfs -q -F -Q -p 2048 -H 255 -S 63 ntfs.img >/dev/null 2>&1
    dd if=ntfs.img of=disk.img bs=512 seek=2048 conv=notrunc status=none
    truncate -s 80M fat.img
    printf 'label: dos\nstart=2048, type=c\n' | sfdisk -q fat.img
    mkfs.vfat -F 32 --offset 2048 fat.img >/dev/null
    DISKS=disk.img:fat.img
    before=$(sum disk.img)-$(sum fat.img)
    # Freshly made by Linux tools: no Windows loader in either boot area.
    expect_refused "NTFS.*不是 Windows 引导代码" /DEVICE=1:1 /pbr /install  /type=bootmgr  /quiet
    expect_refused "FAT32.*不是 Windows 引导代码" /DEVICE=2:1 /pbr /install  /type=ntldr  /quiet
    expect_refused "分区引导扇区是空的" /DEVICE=1:3 /pbr /install
    # NTFS names its loader in UTF-16 further into $Boot; FAT32 in its later boot sector.
    printf 'B\0O\0O\0T\0M\0G\0R\0' | dd of=disk.img bs=1 seek=$((2048 * 512 + 3 * 512 + 64)) conv=notrunc status=none
    printf 'BOOTMGR    ' | dd of=fat.img bs=1 seek=$((2048 * 512 + 12 * 512 + 100)) conv=notrunc status=none
    before=$(sum disk.img)-$(sum fat.img)
    expect_ok /DEVICE=1:1 /pbr /install  /type=bootmgr  /quiet
    grep -q "NTFS" out.txt || fail "file system not named: $(cat out.txt)"
    expect_ok /DEVICE=2:1 /pbr /install  /type=bootmgr  /quiet
    expect_refused "加载的是 BOOTMGR" /DEVICE=2:1 /pbr /install  /type=ntldr  /quiet
    [[ $(sum disk.img)-$(sum fat.img) == "$before" ]] || fail "the check wrote to a disk"
    ;;

  *) echo "unknown group $group" >&2; exit 2 ;;
esac
echo "ok: $group"
