#!/usr/bin/env bash
# A bounded AFL++ run of each parser target (tests/fuzz/parsers_fuzz.cpp) from its
# committed corpus in tests/data/fuzz/<target>/. Fails when AFL++ finds a crash (a
# broken rule aborts) or a hang. Built like the image reader's run in
# tests/tools/ghost/fuzz.sh: AFL++'s classic GCC mode, as our literals are GBK.
#   fuzz.sh SOURCE_DIR [SECONDS_PER_TARGET [TARGET...]]
#   VREL_FUZZ_KEEP=DIR keeps each target's queue in DIR/<target> (to grow the corpus).
set -u
src=$1 seconds=${2:-6}
shift $(($# < 2 ? $# : 2))
targets=("$@")
((${#targets[@]})) || targets=(lister wiminfo progress texttools gbk)
work=$(mktemp -d /tmp/parsers-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
command -v afl-g++ >/dev/null || { echo "afl-g++ missing (apt install afl++)"; exit 1; }
export AFL_CC_COMPILER=GCC

sources=(tests/fuzz/parsers_fuzz.cpp tests/fakes/{fake_os,fake_ui}.cpp platform/{gbk,os,ui}.cpp
         runner/{text_tools,command_runner}.cpp disks/{partition_inventory,volumes,cell_colours}.cpp
         wim/{wim_info,progress_monitor}.cpp)
# Undefined behaviour traps, so AFL++ sees it as a crash (the replay test runs the
# corpus under the address checks as well).
(cd "$src" && AFL_QUIET=1 afl-g++ -std=c++17 -O1 -finput-charset=UTF-8 -fexec-charset=GBK -I. \
  -fsanitize=undefined,float-cast-overflow -fsanitize-undefined-trap-on-error -D_GLIBCXX_ASSERTIONS \
  "${sources[@]}" -o "$work/parsers_fuzz") >"$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }

export AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_UI=1 AFL_NO_AFFINITY=1 AFL_QUIET=1
export AFL_SKIP_CRASHES=1 AFL_FORKSRV_INIT_TMOUT=20000
# The committed corpus has been calibrated before: the seconds go to fuzzing.
export AFL_FAST_CAL=1 AFL_NO_STARTUP_CALIBRATION=1
status=0
for target in "${targets[@]}"; do
  out=$work/out-$target
  timeout $((seconds + 60)) afl-fuzz -V "$seconds" -i "$src/tests/data/fuzz/$target" -o "$out" -m none -t 1000 \
    -- "$work/parsers_fuzz" "$target" @@ >"$work/afl-$target.log" 2>&1
  stats=$out/default/fuzzer_stats
  if [[ ! -f $stats ]]; then
    echo "$target: afl-fuzz did not run:"; tail -30 "$work/afl-$target.log"; status=1; continue
  fi
  if [[ -n ${VREL_FUZZ_KEEP:-} ]]; then mkdir -p "$VREL_FUZZ_KEEP/$target" && cp "$out"/default/queue/id* "$VREL_FUZZ_KEEP/$target/"; fi
  crashes=$(awk '/^saved_crashes/ {print $3}' "$stats")
  hangs=$(awk '/^saved_hangs/ {print $3}' "$stats")
  echo "$target: $(awk '/^execs_done/ {print $3}' "$stats") runs, corpus $(awk '/^corpus_count/ {print $3}' "$stats"), crashes $crashes, hangs $hangs"
  if ((crashes > 0 || hangs > 0)); then
    for f in "$out"/default/crashes/id* "$out"/default/hangs/id*; do
      [[ -e $f ]] || continue
      echo "input: $f"; xxd "$f" | head -20; "$work/parsers_fuzz" "$target" "$f" 2>&1 | tail -3
    done
    status=1
  fi
done
((status == 0)) && echo "ok: no crash or hang in ${seconds}s for each of ${targets[*]}"
exit $status
