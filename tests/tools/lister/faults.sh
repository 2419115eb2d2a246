#!/usr/bin/env bash
# The lister's Linux build against disks that fight back: tables made by sfdisk, file
# systems by mkfs.vfat and mkntfs, bad sectors from the disk-image builds' fault hook
# (VREL_DISK_FAULTS), a pipe and a cut image among the disks. Every disk is listed or
# named in a diagnostic; the listing never hangs and never stops at the first bad disk.
#   faults.sh LISTER
set -u
lister=$1
here=$(cd "$(dirname "$0")" && pwd)
engine=unused
source "$here/../ghost/lib.sh"

# list: stdout and stderr as the program captures them (GBK, CR LF), one '|' a line.
list() {
  timeout 20 "$lister" -tavrin >"$work/out" 2>&1
  rc=$?
  got=$(iconv -f GBK -t UTF-8 "$work/out" | tr -d '\r' | paste -sd '|')
}
listed() {  # listed WHAT EXPECTED
  [[ $got == "$2" ]] || fail "$1: listed '$got', expected '$2'"
}

make_disk "$work/a.img" dos 8 8
mkfs.vfat -F 16 -s 1 -n FIRST -C "$work/p.img" 8192 >/dev/null 2>&1 || fail "mkfs.vfat"
put_part "$work/a.img" "$work/p.img" 1
make_disk "$work/b.img" gpt 4 4
start1=$(($(part_start "$work/a.img" 1) * 512)) start2=$(($(part_start "$work/a.img" 2) * 512))
a1='1:1		0.01GB	0.01GB	Primary	FAT16	FIRST	MBR	7'
a2='1:2		0.01GB	unknown	Primary	RAW		MBR	7'
b='2:1		0.00GB	unknown	Primary	RAW		GPT	0|2:2		0.00GB	unknown	Primary	RAW		GPT	0'
b2=${b//2:/3:}

export VREL_DISKS=$work/a.img:$work/b.img
list; listed "healthy disks" "$a1|$a2|$b"
check "healthy disks: exit 0" test "$rc" -eq 0

mkfifo "$work/pipe"
VREL_DISKS=$work/a.img:$work/pipe:$work/b.img list
listed "a pipe among the disks" "$a1|$a2|磁盘 2： 无法打开磁盘 $work/pipe： 不是磁盘映像文件或块设备。|$b2"
check "a pipe among the disks: returns, exit 1 (got $rc)" test "$rc" -eq 1

VREL_DISK_FAULTS="r:1:0+512" list
listed "sector 0 unreadable" "磁盘 1： 无法读取磁盘扇区 0。|$b"
VREL_DISK_FAULTS="r:1:$start2+512" list
listed "a boot sector unreadable" "$a1|分区 1：2： 无法读取分区的引导扇区。|${a2}|$b"
VREL_DISK_FAULTS="r:1:$((start1 + 4096))+512" list
listed "a FAT unreadable" "分区 1：1： 无法读取文件分配表。|1:1		0.01GB	unknown	Primary	FAT16		MBR	7|$a2|$b"
VREL_DISK_FAULTS="r:2:512+512" list
listed "the GPT's primary header unreadable (its backup serves)" "$a1|$a2|$b"

# Cut short after its first partition: the table names what is not there.
head -c $((start2 + 4096)) "$work/a.img" >"$work/cut.img"
VREL_DISKS=$work/cut.img:$work/b.img list
listed "a cut disk image" "磁盘 1： 分区表损坏： 分区 2 超出磁盘末尾。|$b"

# An NTFS whose MFT cannot be read past its first records: listed from its $Bitmap.
make_disk "$work/n.img" dos 8 4
mkntfs -q -F -Q -L NTFSVOL -p 2048 "$work/p.img" $((8 * 2048)) >/dev/null 2>&1 || fail "mkntfs"
put_part "$work/n.img" "$work/p.img" 1
mft=$(( $(part_start "$work/n.img" 1) * 512 + $(ntfsinfo -m "$work/p.img" | sed -nE 's/.*LCN of Data Attribute for FILE_MFT: ([0-9]+).*/\1/p') * 4096 ))
VREL_DISKS=$work/n.img VREL_DISK_FAULTS="r:1:$((mft + 40 * 1024))+512" list
check "an MFT with a bad sector past \$Bitmap still lists (got $got)" grep -q $'^1:1\t\t0.01GB\t0.01GB\tPrimary\tNTFS\tNTFSVOL\tMBR\t7' <<<"${got//|/$'\n'}"

((failures == 0)) || { echo "$failures failure(s)"; exit 1; }
echo "ok: lister faults"
