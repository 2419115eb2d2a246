#!/usr/bin/env bash
# Boots a small disk image whose MBR was written by the tool in qemu-system-x86 and
# waits for the expected text on the serial console (SeaBIOS copies the screen there
# under -nographic; the test boot sector writes to COM1 itself).
#   boot_in_qemu.sh CASE TOOL MARKER_BOOT_SECTOR NO_EXTENSIONS_SHIM
set -euo pipefail
PATH=$PATH:/usr/sbin:/sbin
case_name=$1 tool=$2 marker=$3 shim=$4
work=$(mktemp -d)
qemu_pid=
cleanup() {
  if [[ -n $qemu_pid ]]; then
    kill "$qemu_pid" 2>/dev/null || true
    wait "$qemu_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
img=$work/disk.img

bootice() { VREL_DISKS=$img "$tool" "$@" >"$work/tool.txt" || { cat "$work/tool.txt"; exit 1; }; }
poke() { printf "$2" | dd of="$img" bs=1 seek=$(($1)) conv=notrunc status=none; }

# Two NTFS-typed partitions, none active; the test boot sector in the second.
truncate -s 8M "$img"
printf 'label: dos\nlabel-id: 0x1234abcd\nstart=2048, size=4096, type=7\nstart=8192, size=4096, type=7\n' |
  sfdisk -q "$img"
dd if="$marker" of="$img" bs=512 seek=8192 conv=notrunc status=none

case $case_name in
  boots)
    bootice /DEVICE=1:2 /partitions /activate /quiet
    bootice /DEVICE=1:2 /mbr /install  /type=nt60  /quiet
    expect="VREL TEST BOOT SECTOR: DL=80 ENTRY=80" ;;
  no_active)
    bootice /DEVICE=1:2 /mbr /install  /type=nt52  /quiet
    expect="No active partition" ;;
  two_active)
    bootice /DEVICE=1:2 /partitions /activate /quiet
    bootice /DEVICE=1:2 /mbr /install /quiet
    poke 0x1BE '\x80'
    expect="Invalid partition table" ;;
  no_boot_sector)
    bootice /DEVICE=1:1 /partitions /activate /quiet
    bootice /DEVICE=1:1 /mbr /install /quiet
    expect="Active partition has no boot sector" ;;
  read_error)
    bootice /DEVICE=1:2 /partitions /activate /quiet
    bootice /DEVICE=1:2 /mbr /install /quiet
    truncate -s 3M "$img"  # the active partition now lies past the disk's end
    expect="Error reading the active partition" ;;
  boots_chs)
    bootice /DEVICE=1:2 /partitions /activate /quiet
    bootice /DEVICE=1:2 /mbr /install  /type=nt60  /quiet
    # The entry's CHS address of sector 8192 in the geometry given to the disk below
    # (16 heads, 63 sectors): cylinder 8, head 2, sector 3. The MBR moves to sector 1
    # and the shim that hides the extensions takes sector 0.
    poke 0x1CF '\x02\x03\x08'
    dd if="$img" of="$img" bs=512 count=1 seek=1 conv=notrunc status=none
    dd if="$shim" of="$img" bs=440 count=1 conv=notrunc status=none
    expect="VREL TEST BOOT SECTOR: DL=80 ENTRY=80" ;;
  *) echo "unknown case $case_name" >&2; exit 2 ;;
esac

qemu-system-i386 -nographic -no-reboot -m 16 -nic none -drive "file=$img,format=raw,if=none,id=disk" \
  -device ide-hd,drive=disk,cyls=16,heads=16,secs=63 </dev/null >"$work/serial.txt" 2>&1 &
qemu_pid=$!
for _ in $(seq 1 300); do
  # SeaBIOS's copy of the screen can interleave its dots and line breaks with what the
  # boot sector writes to the port itself, so those are left out of the comparison.
  if tr -d '\r\n.' <"$work/serial.txt" | grep -qF "$expect"; then
    echo "booted: $expect"
    exit 0
  fi
  kill -0 "$qemu_pid" 2>/dev/null || break
  sleep 0.1
done
echo "expected on the console: $expect; got:" >&2
cat -v "$work/serial.txt" >&2
exit 1
