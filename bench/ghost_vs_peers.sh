#!/usr/bin/env bash
# Our imaging engine against the usual Linux peers on the same NTFS partition
# (1 GB, about 600 MB used: ~500 MB of system libraries and 100 MB of random data,
# written with ntfscp):
#   backup:  GhostVrelLite -z9  vs  ntfsclone --save-image -o - | pigz -6
#                               vs  partclone.ntfs -c | pigz -6
#   restore: GhostVrelLite      vs  pigz -dc | partclone.ntfs -r
# Prints times, sizes and the ratios ours / best peer (goal: time <= 0.8, size <= 1).
#   bash bench/ghost_vs_peers.sh [ENGINE]    (default build/native/tools/ghost/GhostVrelLite)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
engine=${1:-$root/build/native/tools/ghost/GhostVrelLite}
[[ -x $engine ]] || { echo "build the engine first: cmake --build build/native --target tool_ghost"; exit 1; }
for tool in pigz partclone.ntfs ntfsclone mkntfs ntfscp sfdisk; do
  command -v "$tool" >/dev/null || PATH=$PATH:/usr/sbin:/sbin
done
if ! command -v pigz >/dev/null || ! command -v partclone.ntfs >/dev/null; then
  echo "bench: installing pigz and partclone"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq pigz partclone >/dev/null
fi
# The prepared partition is kept between runs (BENCH_DIR, default /var/tmp/ghost-bench).
work=${BENCH_DIR:-/var/tmp/ghost-bench}
mkdir -p "$work"
trap 'rm -f "$work"/ours.gho* "$work"/*.img.gz "$work/target.img"' EXIT
MiB=$((1024 * 1024))
part=$work/part.img
disk=$work/disk.img

if [[ ! -f $work/prepared ]]; then
echo "== preparing a 1 GB NTFS partition (this takes a minute)"
rm -f "$part" "$disk"
truncate -s $((1024 * MiB)) "$part"
mkntfs -q -F -Q -p 2048 "$part" >/dev/null 2>&1
# ~500 MB of shared libraries and DLLs, in 10 MB pieces (one ntfscp per file).
mkdir -p "$work/libs"
# (tar is cut short on purpose: its broken pipe is not a failure)
set +o pipefail
find /usr/lib /usr/lib64 /usr/libexec -type f \( -name '*.so*' -o -name '*.dll' -o -name '*.a' \) -size +20k 2>/dev/null |
  head -n 20000 | tar -cf - -T - 2>/dev/null | head -c $((500 * MiB)) | split -b $((10 * MiB)) - "$work/libs/lib."
set -o pipefail
used=$(du -cb "$work/libs" | tail -1 | cut -f1)
for f in "$work/libs"/*; do ntfscp -q -f "$part" "$f" "/$(basename "$f")" >/dev/null; done
head -c $((100 * MiB)) /dev/urandom >"$work/random.bin"
ntfscp -q -f "$part" "$work/random.bin" /random.bin >/dev/null
rm -rf "$work/libs" "$work/random.bin"
echo "   libraries: $((used / MiB)) MB, random: 100 MB"

# The same bytes as partition 1 of a disk image (the engine reads disks), and an
# empty partition 2 of the same size to restore onto.
truncate -s $((2 * 1024 * MiB + 4 * MiB)) "$disk"
printf 'label: dos\nstart=2048, size=%d, type=7\nstart=%d, size=%d, type=7\n' \
  $((1024 * 2048)) $((1025 * 2048 + 2048)) $((1024 * 2048)) | sfdisk -q "$disk" >/dev/null
dd if="$part" of="$disk" bs=1M seek=1 conv=sparse,notrunc status=none
touch "$work/prepared"
fi
export VREL_DISKS=$disk
sync
echo 3 >/proc/sys/vm/drop_caches 2>/dev/null || true

timed() {  # timed VAR command...: seconds into VAR
  local start end
  start=$(date +%s.%N)
  "${@:2}"
  end=$(date +%s.%N)
  printf -v "$1" '%.2f' "$(calc "$end - $start")"
}
calc() { awk "BEGIN { print $1 }"; }
size_of() { du -cb "$@" | tail -1 | cut -f1; }

echo "== backup"
ours_backup() {
  local out
  out=$("$engine" "-clone,mode=pdump,src=1:1,dst=\"$work/ours.gho\"" -z9 -crcignore -noide -sure -fx -BATCH 2>&1) || true
  [[ -z $out ]] || { echo "engine: $out"; exit 1; }
}
ntfsclone_backup() { ntfsclone -q --save-image -o - "$part" 2>/dev/null | pigz -6 >"$work/ntfsclone.img.gz"; }
partclone_backup() { partclone.ntfs -q -c -s "$part" -o - 2>/dev/null | pigz -6 >"$work/partclone.img.gz"; }
timed t_ours ours_backup
timed t_ntfsclone ntfsclone_backup
timed t_partclone partclone_backup
s_ours=$(size_of "$work"/ours.gho*)
s_ntfsclone=$(size_of "$work/ntfsclone.img.gz")
s_partclone=$(size_of "$work/partclone.img.gz")
printf '   %-28s %7s s %8s MB\n' "GhostVrelLite -z9" "$t_ours" "$((s_ours / MiB))" \
  "ntfsclone | pigz -6" "$t_ntfsclone" "$((s_ntfsclone / MiB))" \
  "partclone.ntfs | pigz -6" "$t_partclone" "$((s_partclone / MiB))"

echo "== restore"
ours_restore() {
  local out
  out=$("$engine" "-clone,mode=pload,src=\"$work/ours.gho\":1,dst=1:2" -crcignore -noide -sure -fx -BATCH 2>&1) || true
  [[ -z $out ]] || { echo "engine: $out"; exit 1; }
}
truncate -s $((1024 * MiB)) "$work/target.img"
partclone_restore() { pigz -dc "$work/partclone.img.gz" | partclone.ntfs -q -r -s - -O "$work/target.img" >/dev/null 2>&1; }
timed r_ours ours_restore
timed r_partclone partclone_restore
printf '   %-28s %7s s\n' "GhostVrelLite" "$r_ours" "pigz -dc | partclone.ntfs -r" "$r_partclone"

best_t=$t_ntfsclone best_s=$s_ntfsclone best=ntfsclone
if [[ $(calc "$t_partclone < $t_ntfsclone") == 1 ]]; then best_t=$t_partclone best_s=$s_partclone best=partclone; fi
echo "== ratios (ours / best peer = $best; goal: time <= 0.80, size <= 1.00)"
printf '   backup time  %.2f\n' "$(calc "$t_ours / $best_t")"
printf '   backup size  %.3f\n' "$(calc "$s_ours / $best_s")"
printf '   restore time %.2f\n' "$(calc "$r_ours / $r_partclone")"
