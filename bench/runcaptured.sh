#!/usr/bin/env bash
# The program's processor time while a tool runs (Wine, x86_64 build): the command
# runner waits 10 s for a child that sleeps, beside a loop that polls the pipe without
# sleeping, as a naive runner would. Goal: at most 1% of one core (about 0.7% is
# expected: the runner wakes for the message loop and the pipe only).
#   VREL_DISPLAY=N bash bench/runcaptured.sh     (the virtual display Wine may use)
source "$(dirname "$0")/lib.sh"
bench_need /usr/lib/wine/wine64=wine64 wineserver=wine64 Xvfb=xvfb xdpyinfo=x11-utils
bench_build win64 bench_runcaptured test_child
# shellcheck source=../scripts/wine-env.sh
source "$bench_root/scripts/wine-env.sh"
# (wine-env.sh replaces the exit trap when it starts a display: both clean-ups run)
trap bench_on_exit EXIT
[[ -z ${vrel_xvfb_pid:-} ]] || bench_cleanups+=("kill $vrel_xvfb_pid; wineserver -k")
out=$bench_tmp/runcaptured.txt
timeout 300 "$wine64" "$bench_root/build/win64/tests/wine/bench_runcaptured.exe" >"$out" 2>&1 ||
  { cat "$out" >&2; bench_die "bench_runcaptured.exe failed under Wine"; }
tr -d '\r' <"$out" | sed 's/^/   /'
# The share of one core from "... program used S s of CPU (P% of one core)".
share() { tr -d '\r' <"$out" | sed -n "s/^$1.*(\([0-9.]*\)% of one core)$/\1/p"; }
ours=$(share runCaptured) busy=$(share 'polling without sleep')
[[ -n $ours && -n $busy ]] || bench_die "unexpected output from bench_runcaptured.exe (above)"
bench_result 'runner.cpu_while_tool_runs[%core]' "$ours" "$busy" 'ours<=1.0'
