#!/usr/bin/env bash
# The progress windows' 50 ms parse with the engine's log box at its 30000-byte cap
# (Google Benchmark, native build): processor time per parse (the machine may be
# shared, so wall time says little), against one copy of the box's text, and the
# share of the 50 ms tick it uses. Goal: at most 1% of the tick.
#   bash bench/progress_parse.sh
source "$(dirname "$0")/lib.sh"
bench_need /usr/include/benchmark/benchmark.h=libbenchmark-dev /usr/include/wimlib.h=libwim-dev
bench_build native bench_progress_parse
out=$bench_tmp/progress_parse.json
"$bench_root/build/native/bench/bench_progress_parse" --benchmark_min_time=0.2 \
  --benchmark_out="$out" --benchmark_out_format=json || bench_die "the benchmark failed"
# Nanoseconds of processor time per iteration of one benchmark.
cpu_ns() {
  python3 -c '
import json, sys
units = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b["name"] == sys.argv[2]:
        print("%.1f" % (b["cpu_time"] * units[b["time_unit"]]))
        break
else:
    sys.exit("no result for " + sys.argv[2])
' "$out" "$1"
}
bench_need python3=python3
parse=$(cpu_ns BM_ParseFullBox) stray=$(cpu_ns BM_ParseFullBoxWithBareLineFeed) copy=$(cpu_ns BM_CopyBoxText)
echo "   parse at the cap: $(calc "$parse / 1000" 1) us of processor time, $(calc "$parse / $copy" 1)x one copy of" \
  "the box; with a stray line feed $(calc "$stray / 1000" 1) us"
bench_result 'progress.parse_at_cap[us]' "$(calc "$parse / 1000" 1)" 50000 'ratio<=0.01'
bench_result 'progress.parse_stray_lf[us]' "$(calc "$stray / 1000" 1)" 50000 'ratio<=0.01'
