#!/usr/bin/env bash
# The ISO tool's copy of one large file against peers:
#   ISO 9660 image: ISO /X   vs  xorriso -osirrox on -extract of the same file
#   UDF image:      ISO /X   vs  cp of the same bytes from a plain file
# Rounds rotate the first place, and every run starts with nothing left to write
# back and its input read once (bench/lib.sh), so the ratio compares the copy paths,
# not the disk or the run before; two passes, with and without dropping the page
# cache first (see below). No side syncs its output. Our copies are compared with
# the source. Goal: at most 1.1x each.
#   bash bench/iso_extract_vs_peers.sh [SIZE_MB] [ROUNDS]   (2048 MB, 3 rounds;
#   needs about 4x SIZE_MB of space in TMPDIR, default /var/tmp)
source "$(dirname "$0")/lib.sh"
bench_need openssl=openssl xorriso=xorriso genisoimage=genisoimage cmp=diffutils /usr/bin/time=time
bench_build native tool_iso
export tool=$bench_root/build/native/tools/iso/ISO
size_mb=${1:-2048}
rounds=${2:-3}
export work
work=$(mktemp -d "${TMPDIR:-/var/tmp}/isobench.XXXXXX")
bench_cleanups+=("rm -rf '$work'")

bench_say "making a $size_mb MB file and its ISO 9660 and UDF images in $work"
mkdir "$work/src"
# Incompressible bytes without zero runs (a copy may leave those as holes).
head -c $((size_mb * MiB)) /dev/zero | openssl enc -aes-128-ctr -pass pass:vrel -nosalt -pbkdf2 >"$work/src/big.wim" ||
  bench_die "could not make the test file with openssl"
(($(stat -c %s "$work/src/big.wim") == size_mb * MiB)) || bench_die "the test file came out short"
xorriso -as mkisofs -quiet -iso-level 3 -o "$work/iso9660.iso" "$work/src" >"$bench_tmp/mkiso.log" 2>&1 ||
  { cat "$bench_tmp/mkiso.log" >&2; bench_die "xorriso could not make the ISO 9660 image"; }
genisoimage -quiet -udf -allow-limited-size -o "$work/udf.iso" "$work/src" >"$bench_tmp/mkudf.log" 2>&1 ||
  { cat "$bench_tmp/mkudf.log" >&2; bench_die "genisoimage could not make the UDF image"; }

cmd_ours_iso9660='"$tool" /X:"$work/out-ours-iso9660" /I:"$work/iso9660.iso"'
cmd_xorriso='xorriso -osirrox on -indev "$work/iso9660.iso" -extract /big.wim "$work/out-xorriso.wim"'
cmd_ours_udf='"$tool" /X:"$work/out-ours-udf" /I:"$work/udf.iso"'
cmd_cp='cp "$work/src/big.wim" "$work/out-cp.wim"'
reset_ours_iso9660() { rm -rf "$work/out-ours-iso9660"; }
reset_xorriso() { rm -f "$work/out-xorriso.wim"; }
reset_ours_udf() { rm -rf "$work/out-ours-udf"; }
reset_cp() { rm -f "$work/out-cp.wim"; }
warm_ours_iso9660=("$work/iso9660.iso") warm_xorriso=("$work/iso9660.iso")
warm_ours_udf=("$work/udf.iso") warm_cp=("$work/src/big.wim")
results=()
# Two passes: with the page cache dropped before every run (memory the kernel has
# just freed, as after a boot), and after a sync only (memory recycled from the last
# run). The chunk size of a copy can weigh very differently in the two.
drop_allowed=$bench_drop
for pass in dropped kept; do
  if [[ $pass == dropped ]]; then
    [[ $drop_allowed == 1 ]] || { echo "   (the page cache cannot be dropped here: that pass is left out)"; continue; }
    bench_drop=1
  else
    bench_drop=0
  fi
  bench_say "copies, $rounds rounds, page cache $pass before every run (sync in both)"
  bench_t=() bench_cpu=() bench_kb=()
  bench_rounds "$rounds" ours_iso9660 xorriso ours_udf cp
  bench_report ours_iso9660 xorriso ours_udf cp
  for kind in iso9660 udf; do
    cmp -s "$work/src/big.wim" "$work/out-ours-$kind/big.wim" || bench_die "our copy from the $kind image differs from the source"
  done
  results+=("$(bench_result "iso.copy_${size_mb}MB_iso9660.$pass.time[s]" "$(bench_best ours_iso9660)" "$(bench_best xorriso)" 'ratio<=1.10')")
  results+=("$(bench_result "iso.copy_${size_mb}MB_udf.$pass.time[s]" "$(bench_best ours_udf)" "$(bench_best cp)" 'ratio<=1.10')")
done
printf '%s\n' "${results[@]}"
