#!/usr/bin/env bash
# A bounded AFL++ run over the image reader, from the committed corpus. Fails when
# AFL++ finds a crash or a hang. Built with GCC (our literals are GBK): Debian's
# AFL++ 4.04c GCC plugin refuses Debian's GCC 12.2.0-14+deb12u1 ("incompatible
# versions"), so AFL++'s classic GCC mode (instrumenting assembler) is used.
#   fuzz.sh SOURCE_DIR [SECONDS]
set -u
src=$1 seconds=${2:-30}
work=$(mktemp -d /tmp/ghost-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
command -v afl-g++ >/dev/null || { echo "afl-g++ missing (apt install afl++)"; exit 1; }
export AFL_CC_COMPILER=GCC

sources=(tests/tools/ghost/fuzz_image.cpp tools/ghost/{args,block_map,engine,errors,image_format,pipeline,progress_window,spans,sync}.cpp
         tools/common/{crc32,disk_common,disk_error,disk_faults,disk_layout,fs,fs_exfat,fs_fat,fs_ntfs,device_posix,console_out,progress_window,scratch_file,text_markers,utf}.cpp platform/gbk.cpp)
# The chunk compressor (C, not part of what is fuzzed) is built plainly.
mkdir -p "$work/deflate"
(cd "$work/deflate" && gcc -O2 -w -c -DBUILDING_LIBDEFLATE -I"$src/third_party/libdeflate" \
  "$src"/third_party/libdeflate/lib/*.c "$src"/third_party/libdeflate/lib/x86/*.c) >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; exit 1; }
(cd "$src" && AFL_QUIET=1 afl-g++ -std=c++17 -O1 -finput-charset=UTF-8 -fexec-charset=GBK -I. \
  -Ithird_party/libdeflate "${sources[@]}" "$work"/deflate/*.o \
  -lz -pthread -o "$work/fuzz_image") >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }

export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 AFL_NO_AFFINITY=1 AFL_QUIET=1
export AFL_SKIP_CRASHES=1 AFL_FORKSRV_INIT_TMOUT=20000
timeout $((seconds + 60)) afl-fuzz -V "$seconds" -i "$src/tests/data/ghost/fuzz" -o "$work/out" -m none -t 2000 \
  -- "$work/fuzz_image" @@ >"$work/afl.log" 2>&1
status=$?
stats=$work/out/default/fuzzer_stats
if [[ ! -f $stats ]]; then
  echo "afl-fuzz did not run (status $status):"; tail -30 "$work/afl.log"; exit 1
fi
grep -E '^(execs_done|corpus_count|saved_crashes|saved_hangs) ' "$stats"
crashes=$(awk '/^saved_crashes/ {print $3}' "$stats")
hangs=$(awk '/^saved_hangs/ {print $3}' "$stats")
if ((crashes > 0 || hangs > 0)); then
  for f in "$work"/out/default/crashes/id* "$work"/out/default/hangs/id*; do
    [[ -e $f ]] && { echo "input: $f"; xxd "$f" | head -20; }
  done
  exit 1
fi
echo "ok: no crash or hang in ${seconds}s"
