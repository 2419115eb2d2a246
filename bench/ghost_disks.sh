# Sourced by the imaging engine's benchmarks (after lib.sh): the engine, the peers'
# packages, and the prepared 1 GB NTFS partition they all read.
#
# The partition (about 600 MB used: ~500 MB of the system's shared libraries in 10 MB
# pieces and 100 MB of random data, written with ntfscp) is kept between runs in
# BENCH_DIR (default /var/tmp/ghost-bench, about 1.5 GB on disk): part.img is the bare
# partition the peers read, disk.img the same bytes as partition 1 of a disk image
# (the engine reads disks) with an empty partition 2 of the same size to restore onto.
# BENCH_CLEAN=1 removes it when the script ends.

bench_need /usr/bin/time=time mkntfs=ntfs-3g ntfscp=ntfs-3g ntfsclone=ntfs-3g ntfsresize=ntfs-3g \
  ntfsfix=ntfs-3g sfdisk=fdisk fallocate=util-linux flock=util-linux
bench_engine tool_ghost tools/ghost/GhostVrelLite
work=${BENCH_DIR:-/var/tmp/ghost-bench}
part=$work/part.img
disk=$work/disk.img
export work part disk MiB
mkdir -p "$work"
# Two runs on the same partition would spoil each other's figures and files.
exec 9>"$work/lock"
flock -n 9 || bench_die "another benchmark is using $work (set BENCH_DIR to use another folder)"
[[ ${BENCH_CLEAN:-0} != 1 ]] || bench_cleanups+=("rm -rf '$work'")

# The recipe's version: a partition made by an older recipe is made again.
ghost_recipe=2
if [[ ! -f $work/prepared.$ghost_recipe ]]; then
  bench_say "preparing a 1 GB NTFS partition in $work (about a minute; kept for later runs)"
  rm -rf "$work/libs" "$part" "$disk" "$work"/prepared.*
  mkdir -p "$work/libs"
  truncate -s $((1024 * MiB)) "$part"
  mkntfs -q -F -Q -p 2048 "$part" >/dev/null 2>&1 || bench_die "mkntfs failed on $part"
  # (the file list and tar are cut short on purpose: their broken pipes are not failures)
  set +o pipefail
  find /usr/lib /usr/lib64 /usr/libexec -type f \( -name '*.so*' -o -name '*.dll' -o -name '*.a' \) -size +20k 2>/dev/null |
    head -n 20000 | tar -cf - -T - 2>/dev/null | head -c $((500 * MiB)) | split -b $((10 * MiB)) - "$work/libs/lib."
  set -o pipefail
  used=$(du -cb "$work/libs" | tail -n 1 | cut -f1)
  ((used > 100 * MiB)) || bench_die "found only $((used / MiB)) MB of libraries to fill the partition with"
  for f in "$work/libs"/*; do ntfscp -q -f "$part" "$f" "/$(basename "$f")" >/dev/null; done
  head -c $((100 * MiB)) /dev/urandom >"$work/random.bin"
  ntfscp -q -f "$part" "$work/random.bin" /random.bin >/dev/null
  rm -rf "$work/libs" "$work/random.bin"
  echo "   libraries: $((used / MiB)) MB, random: 100 MB"
  truncate -s $((2 * 1024 * MiB + 4 * MiB)) "$disk"
  printf 'label: dos\nstart=2048, size=%d, type=7\nstart=%d, size=%d, type=7\n' \
    $((1024 * 2048)) $((1026 * 2048)) $((1024 * 2048)) | sfdisk -q "$disk" >/dev/null 2>&1 ||
    bench_die "sfdisk could not write the partition table of $disk"
  dd if="$part" of="$disk" bs=1M seek=1 conv=sparse,notrunc status=none
  touch "$work/prepared.$ghost_recipe"
fi

# ghost_ntfs_disk DISK SIZE_MB [SOURCE]: DISK, a sparse disk image whose partition 1
# (at 1 MB) is an NTFS volume of SIZE_MB: a copy of SOURCE's volume (grown to that
# size by ntfsresize, its files where they were), or a new one holding one small file;
# followed by an empty partition 2 of the same size when GHOST_TARGET=1.
# Holes stay holes: the volume is made as a file of its own, then 1 MB is inserted
# before it for the partition table.
ghost_ntfs_disk() {
  local out=$1 mb=$2 src=${3:-}
  rm -f "$out"
  truncate -s $((mb * MiB)) "$out"
  if [[ -n $src ]]; then
    dd if="$src" of="$out" bs=1M conv=sparse,notrunc status=none
    if (($(stat -c %s "$src") < mb * MiB)); then
      ntfsresize -f -f "$out" </dev/null >"$bench_tmp/ntfsresize.log" 2>&1 ||
        { cat "$bench_tmp/ntfsresize.log" >&2; bench_die "ntfsresize could not grow $src to $mb MB"; }
    fi
  else
    mkntfs -q -F -Q -p 2048 "$out" >/dev/null 2>&1 || bench_die "mkntfs failed on $out"
    printf 'a nearly empty volume\r\n' >"$bench_tmp/readme.txt"
    ntfscp -q -f "$out" "$bench_tmp/readme.txt" /readme.txt >/dev/null
  fi
  # The resize leaves the volume marked for a check; every volume made here gets the
  # same pass, so that a grown one and the reference differ in size only.
  ntfsfix -d "$out" >"$bench_tmp/ntfsfix.log" 2>&1 || { cat "$bench_tmp/ntfsfix.log" >&2; bench_die "ntfsfix failed on $out"; }
  fallocate --insert-range -o 0 -l "$MiB" "$out"
  local table="label: dos\nstart=2048, size=$((mb * 2048)), type=7\n"
  if [[ ${GHOST_TARGET:-0} == 1 ]]; then
    truncate -s $(((2 * mb + 2) * MiB)) "$out"
    table+="start=$(((mb + 1) * 2048)), size=$((mb * 2048)), type=7\n"
  else
    truncate -s $(((mb + 2) * MiB)) "$out"
  fi
  printf "$table" | sfdisk -q "$out" >"$bench_tmp/sfdisk.log" 2>&1 ||
    { cat "$bench_tmp/sfdisk.log" >&2; bench_die "sfdisk could not write the partition table of $out"; }
}

# The engine's backup, check and restore, as bash command lines for bench_rounds.
ghost_backup_cmd() { printf '"$engine" %q -z9 -crcignore -noide -sure -fx -BATCH' "-clone,mode=pdump,src=$1,dst=\"$2\""; }
ghost_restore_cmd() { printf '"$engine" %q -crcignore -noide -sure -fx -BATCH' "-clone,mode=pload,src=\"$1\":1,dst=$2"; }
ghost_check_cmd() { printf '"$engine" %q -sure -fx -BATCH' "-chkimg,\"$1\""; }
# Bytes of an image with its spans (NAME.gho, NAME.gho.002, ...).
ghost_size() {
  find "$(dirname "$1")" -maxdepth 1 \( -name "$(basename "$1")" -o -name "$(basename "$1").[0-9]*" \) -printf '%s\n' |
    awk '{ s += $1 } END { print s + 0 }'
}
