#!/usr/bin/env bash
# Disk images for the simulated WinPE: two disks partitioned by sfdisk, formatted by
# mkntfs and mkfs.vfat and filled through ntfs-3g's tools and mtools, plus a folder
# that serves as a writable drive for images. Made once; run again it only prints
# VREL_DISKS (Windows form: entries separated by ';').
#   usage: demo-disks.sh <folder>
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)
version=1  # bump when the layout below changes
stamp=$dir/made-$version

winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# Formats a volume file and writes it into the disk image at its partition's start.
put_volume() {  # disk partition-number make-command [fill-command]
  local disk=$1 number=$2 make=$3 fill=${4:-} start size volume=$dir/volume.tmp
  read -r start size < <(sfdisk -d "$disk" | sed -nE "s|^.*${number} : start= *([0-9]+), size= *([0-9]+).*|\1 \2|p")
  rm -f "$volume"
  truncate -s $((size * 512)) "$volume"
  ${make//%s/$volume} >/dev/null 2>&1
  [[ -z $fill ]] || $fill "$volume"
  dd if="$volume" of="$disk" bs=1M oflag=seek_bytes seek=$((start * 512)) conv=notrunc,sparse status=none
  rm -f "$volume"
}

# Sample files: text, a few system libraries, some random data.
samples=$dir/samples
make_samples() {
  rm -rf "$samples"
  mkdir -p "$samples"
  cp /usr/share/common-licenses/GPL-3 "$samples/license.txt"
  printf '这是演示分区上的文件。\r\n' > "$samples/readme.txt"
  cp /usr/bin/bash "$samples/program.bin"
  head -c 8000000 /dev/urandom > "$samples/data.bin"
}

fill_ntfs() {  # volume
  local f
  ntfsfix -q "$1" >/dev/null 2>&1 || true
  for f in "$samples"/*; do ntfscp -f -q "$1" "$f" "$(basename "$f")"; done
}
fill_fat() {  # volume
  mcopy -i "$1" "$samples"/* ::
}

if [[ ! -f $stamp ]]; then
  rm -f "$dir"/*.img "$dir"/made-*
  make_samples
  # Disk 1, MBR: a system and a data partition, a FAT32 logical and a larger empty
  # logical to restore onto.
  truncate -s 1G "$dir/disk1.img"
  printf 'label: dos\n,300M,7,*\n,160M,7\n,,5\n,100M,c\n,,7\n' |
    sfdisk -q --no-reread --no-tell-kernel "$dir/disk1.img"
  put_volume "$dir/disk1.img" 1 "mkntfs -F -Q -q -L System %s" fill_ntfs
  put_volume "$dir/disk1.img" 2 "mkntfs -F -Q -q -L Data %s" fill_ntfs
  put_volume "$dir/disk1.img" 5 "mkfs.vfat -F 32 -n USB %s" fill_fat
  put_volume "$dir/disk1.img" 6 "mkntfs -F -Q -q -L Restore %s"
  # Disk 2, GPT: ESP, MSR, a data partition and a recovery partition.
  truncate -s 600M "$dir/disk2.img"
  printf 'label: gpt\n,100M,U\n,16M,E3C9E316-0B5C-4DB8-817D-F92DF00215AE\n,400M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\n,,DE94BBA4-06D1-4D40-A16A-BFD50179D6AC\n' |
    sfdisk -q --no-reread --no-tell-kernel "$dir/disk2.img"
  put_volume "$dir/disk2.img" 1 "mkfs.vfat -F 32 -n ESP %s" fill_fat
  put_volume "$dir/disk2.img" 3 "mkntfs -F -Q -q -L Work %s" fill_ntfs
  rm -rf "$samples"
  touch "$stamp"
fi
mkdir -p "$dir/images"
echo "$(winpath "$dir/disk1.img");$(winpath "$dir/disk2.img")"
