#!/usr/bin/env bash
# Whether the imaging engine's cost follows the used data or the partition size:
#   the 1 GB benchmark partition (ghost_disks.sh), and the same volume grown to
#   16 GB by ntfsresize (same files, same clusters): backup time and size, restore
#   time, peak memory;
#   a new, nearly empty 100 GB NTFS partition (one small file): backup time and
#   peak memory.
# All disks are sparse files (about 2.5 GB on disk while it runs, removed at the end).
# Goals: 16 GB at most 1.15x the 1 GB time and 1.02x its size; the 100 GB backup in
# seconds (10 s at most); peak memory under 200 MB throughout.
#   bash bench/ghost_scale.sh [ROUNDS]      (3 rounds; ENGINE=path for another engine)
source "$(dirname "$0")/lib.sh"
source "$bench_root/bench/ghost_disks.sh"
rounds=${1:-3}
scale=$work/scale
bench_cleanups+=("rm -rf '$scale'")
rm -rf "$scale" && mkdir -p "$scale"

bench_say "making the 1 GB, 16 GB and 100 GB disks in $scale"
GHOST_TARGET=1 ghost_ntfs_disk "$scale/d1.img" 1024 "$part"
GHOST_TARGET=1 ghost_ntfs_disk "$scale/d16.img" 16384 "$part"
ghost_ntfs_disk "$scale/d100.img" 102400
export VREL_DISKS=$scale/d1.img:$scale/d16.img:$scale/d100.img

bench_say "backup, $rounds rounds"
cmd_backup_1g=$(ghost_backup_cmd 1:1 "$scale/b1.gho")
cmd_backup_16g=$(ghost_backup_cmd 2:1 "$scale/b16.gho")
cmd_backup_100g=$(ghost_backup_cmd 3:1 "$scale/b100.gho")
reset_backup_1g() { rm -f "$scale"/b1.gho*; }
reset_backup_16g() { rm -f "$scale"/b16.gho*; }
reset_backup_100g() { rm -f "$scale"/b100.gho*; }
# The disks are sparse: reading them whole reads their data once.
warm_backup_1g=("$scale/d1.img") warm_backup_16g=("$scale/d16.img") warm_backup_100g=("$scale/d100.img")
bench_silent[backup_1g]=1 bench_silent[backup_16g]=1 bench_silent[backup_100g]=1
bench_rounds "$rounds" backup_1g backup_16g backup_100g
bench_report backup_1g backup_16g backup_100g

bench_say "restore, $rounds rounds"
cmd_restore_1g=$(ghost_restore_cmd "$scale/b1.gho" 1:2)
cmd_restore_16g=$(ghost_restore_cmd "$scale/b16.gho" 2:2)
reset_restore_1g() { fallocate --punch-hole -o $((1025 * MiB)) -l $((1024 * MiB)) "$scale/d1.img"; }
reset_restore_16g() { fallocate --punch-hole -o $((16385 * MiB)) -l $((16384 * MiB)) "$scale/d16.img"; }
warm_restore_1g=("$scale/b1.gho") warm_restore_16g=("$scale/b16.gho")
bench_silent[restore_1g]=1 bench_silent[restore_16g]=1
bench_rounds "$rounds" restore_1g restore_16g
bench_report restore_1g restore_16g
written=$(du -B1 "$scale/d16.img" | cut -f1)
echo "   the 16 GB disk holds $((written / MiB)) MB after the restore (both partitions)"

s1=$(calc "$(ghost_size "$scale/b1.gho") / $MiB" 2)
s16=$(calc "$(ghost_size "$scale/b16.gho") / $MiB" 2)
s100=$(calc "$(ghost_size "$scale/b100.gho") / $MiB" 2)
echo "   images: 1 GB $s1 MB, 16 GB $s16 MB, 100 GB $s100 MB"
bench_result 'gho.scale16.backup.time[s]' "$(bench_best backup_16g)" "$(bench_best backup_1g)" 'ratio<=1.15'
bench_result 'gho.scale16.backup.size[MB]' "$s16" "$s1" 'ratio<=1.02'
bench_result 'gho.scale16.restore.time[s]' "$(bench_best restore_16g)" "$(bench_best restore_1g)" 'ratio<=1.15'
bench_result 'gho.scale16.backup.peak[MB]' "$(bench_peak_mb backup_16g)" "$(bench_peak_mb backup_1g)" 'ours<=200'
bench_result 'gho.scale16.restore.peak[MB]' "$(bench_peak_mb restore_16g)" "$(bench_peak_mb restore_1g)" 'ours<=200'
bench_result 'gho.empty100.backup.time[s]' "$(bench_best backup_100g)" - 'ours<=10'
bench_result 'gho.empty100.backup.peak[MB]' "$(bench_peak_mb backup_100g)" - 'ours<=200'
