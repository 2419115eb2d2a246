#!/usr/bin/env bash
# The progress parse at the 30000-byte cap (Google Benchmark, native build): time per
# parse against one copy of the box's text, and the share of the 50 ms tick it uses.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build/native --target bench_progress_parse >/dev/null
build/native/bench/bench_progress_parse --benchmark_format=console --benchmark_min_time=0.2 2>&1 | tee /tmp/progress_parse.txt
# Processor time (the machine may be shared, so wall time says little).
awk 'function ns(v, u) { return u == "us" ? v * 1000 : u == "ms" ? v * 1e6 : v }
     /^BM_ParseFullBox /{p = ns($4, $5)} /^BM_ParseFullBoxWithBareLineFeed/{b = ns($4, $5)} /^BM_CopyBoxText/{c = ns($4, $5)}
     END { printf "parse at the cap: %.1f us of processor time per 50 ms tick (%.3f%% of it), %.1fx one copy of the box; with a stray line feed %.1f us\n", p/1000, p/50e6*100, p/c, b/1000 }' /tmp/progress_parse.txt
