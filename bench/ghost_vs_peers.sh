#!/usr/bin/env bash
# Our imaging engine against the usual Linux peers on the same 1 GB NTFS partition
# (about 600 MB used, see ghost_disks.sh):
#   backup:  GhostVrelLite -z9  vs  ntfsclone --save-image -o - | pigz -6
#                               vs  partclone.ntfs -c | pigz -6
#   restore: GhostVrelLite      vs  pigz -dc | partclone.ntfs -r
#                               vs  pigz -dc | ntfsclone --restore-image
#   check:   GhostVrelLite -CHKIMG, against our own restore of the same image
# Every side makes its output durable before its clock stops (the engine syncs its
# files, the peers' pipelines end with a sync of their output). Rounds rotate the
# first place, caches are settled before every run (bench/lib.sh), the best run of
# each side counts, and the fastest peer is the reference for time and size. Our
# restored partition is compared with the source before any figure is printed.
# Goals: backup <= 0.35x the best peer's time at <= 1.00x its size, restore <= 0.35x,
# check no slower than restore, peak resident memory under 200 MB each.
#   bash bench/ghost_vs_peers.sh [ROUNDS]      (3 rounds; ENGINE=path for another engine)
source "$(dirname "$0")/lib.sh"
bench_need pigz=pigz partclone.ntfs=partclone cmp=diffutils
source "$bench_root/bench/ghost_disks.sh"
rounds=${1:-3}
export VREL_DISKS=$disk
bench_cleanups+=("rm -f '$work'/ours.gho* '$work'/*.img.gz '$work/target.img' '$work/restored.img'"
  "fallocate --punch-hole -o $((1026 * MiB)) -l $((1024 * MiB)) '$disk'")

bench_say "backup, $rounds rounds"
cmd_ours_backup=$(ghost_backup_cmd 1:1 "$work/ours.gho")
cmd_ntfsclone_backup='ntfsclone -q --save-image -o - "$part" | pigz -6 >"$work/ntfsclone.img.gz"; sync "$work/ntfsclone.img.gz"'
cmd_partclone_backup='partclone.ntfs -q -L /dev/null -c -s "$part" -o - | pigz -6 >"$work/partclone.img.gz"
  sync "$work/partclone.img.gz"'
reset_ours_backup() { rm -f "$work"/ours.gho*; }
reset_ntfsclone_backup() { rm -f "$work/ntfsclone.img.gz"; }
reset_partclone_backup() { rm -f "$work/partclone.img.gz"; }
warm_ours_backup=("$disk") warm_ntfsclone_backup=("$part") warm_partclone_backup=("$part")
bench_silent[ours_backup]=1
bench_rounds "$rounds" ours_backup ntfsclone_backup partclone_backup
bench_report ours_backup ntfsclone_backup partclone_backup

bench_say "restore and check, $rounds rounds"
p2_offset=$((1026 * MiB)) p2_size=$((1024 * MiB))
cmd_ours_restore=$(ghost_restore_cmd "$work/ours.gho" 1:2)
cmd_ours_check=$(ghost_check_cmd "$work/ours.gho")
cmd_partclone_restore='pigz -dc "$work/partclone.img.gz" | partclone.ntfs -q -L /dev/null -r -s - -O "$work/target.img"
  sync "$work/target.img"'
cmd_ntfsclone_restore='pigz -dc "$work/ntfsclone.img.gz" | ntfsclone -q --restore-image --overwrite "$work/target.img" -
  sync "$work/target.img"'
# Every restore starts on an empty (sparse) target.
reset_ours_restore() { fallocate --punch-hole -o "$p2_offset" -l "$p2_size" "$disk"; }
reset_target() { rm -f "$work/target.img" && truncate -s "$p2_size" "$work/target.img"; }
reset_partclone_restore() { reset_target; }
reset_ntfsclone_restore() { reset_target; }
warm_ours_restore=("$work/ours.gho") warm_ours_check=("$work/ours.gho")
warm_partclone_restore=("$work/partclone.img.gz") warm_ntfsclone_restore=("$work/ntfsclone.img.gz")
bench_silent[ours_restore]=1 bench_silent[ours_check]=1
bench_rounds "$rounds" ours_restore partclone_restore ntfsclone_restore ours_check
bench_report ours_restore partclone_restore ntfsclone_restore ours_check

# Our restore must give back the source partition: every byte the same but the boot
# sector's count of hidden sectors (and its copy in the last sector), as the volume
# now starts further into the disk.
dd if="$disk" of="$work/restored.img" bs=1M skip=1026 count=1024 conv=sparse status=none
differing=$(cmp -l "$part" "$work/restored.img" | awk '$1 > 512 && $1 <= '"$p2_size"' - 512' | wc -l || true)
((differing == 0)) || bench_die "our restore differs from the source partition in $differing bytes outside the boot sectors"
rm -f "$work/restored.img"

t_ours=$(bench_best ours_backup) t_ntfsclone=$(bench_best ntfsclone_backup) t_partclone=$(bench_best partclone_backup)
if [[ $(calc "$t_partclone < $t_ntfsclone" 0) == 1 ]]; then best=partclone best_t=$t_partclone; else best=ntfsclone best_t=$t_ntfsclone; fi
s_ours=$(calc "$(ghost_size "$work/ours.gho") / $MiB" 2)
s_best=$(calc "$(stat -c %s "$work/$best.img.gz") / $MiB" 2)
r_ours=$(bench_best ours_restore)
r_partclone=$(bench_best partclone_restore) r_ntfsclone=$(bench_best ntfsclone_restore)
if [[ $(calc "$r_partclone < $r_ntfsclone" 0) == 1 ]]; then r_peer=partclone r_best=$r_partclone; else r_peer=ntfsclone r_best=$r_ntfsclone; fi
echo "   fastest peer in backup: $best ($best_t s, $s_best MB; ours $s_ours MB); in restore: $r_peer ($r_best s)"
bench_result 'gho.backup.time[s]' "$t_ours" "$best_t" 'ratio<=0.35'
bench_result 'gho.backup.size[MB]' "$s_ours" "$s_best" 'ratio<=1.00'
bench_result 'gho.restore.time[s]' "$r_ours" "$r_best" 'ratio<=0.35'
bench_result 'gho.check_vs_restore.time[s]' "$(bench_best ours_check)" "$r_ours" 'ratio<=1.00'
bench_result 'gho.backup.peak[MB]' "$(bench_peak_mb ours_backup)" - 'ours<=200'
bench_result 'gho.restore.peak[MB]' "$(bench_peak_mb ours_restore)" - 'ours<=200'
bench_result 'gho.check.peak[MB]' "$(bench_peak_mb ours_check)" - 'ours<=200'
