# Sourced by every script in bench/. Gives each script:
#   - loud failures: any failing command stops the script with its name and line;
#   - bench_need / bench_build: the Debian packages and native targets it uses,
#     installed or built on first use, so a fresh clone runs as it is;
#   - bench_rounds: timed runs whose order cannot decide the result (rotated first
#     place, caches settled before every run, best of the rounds reported);
#   - bench_result: the machine-readable line bench/all.sh collects,
#       RESULT <measure> <ours> <peer> <ratio> <goal>
#     where peer and ratio are "-" when there is nothing to compare with, and goal
#     is "ratio<=X" or "ours<=X".
set -Eeuo pipefail
export LC_ALL=C.UTF-8
export PATH=$PATH:/usr/sbin:/sbin
MiB=$((1024 * 1024))
bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_name=$(basename "$0" .sh)
trap 'echo "$bench_name: FAILED: \"$BASH_COMMAND\" exited with $? (${BASH_SOURCE[0]##*/} line $LINENO)" >&2' ERR

bench_die() {
  echo "$bench_name: FAILED: $*" >&2
  exit 1
}

bench_say() { echo "== $*"; }

# bench_need NAME=PACKAGE...: installs each PACKAGE whose NAME is missing; NAME is a
# command, or an absolute path for a header or a library.
bench_need() {
  local item name pkg missing=() packages=()
  for item; do
    name=${item%%=*} pkg=${item#*=}
    if [[ $name == /* ]]; then [[ -e $name ]] && continue; else command -v "$name" >/dev/null && continue; fi
    missing+=("$name")
    [[ " ${packages[*]} " == *" $pkg "* ]] || packages+=("$pkg")
  done
  ((${#packages[@]})) || return 0
  [[ $(id -u) == 0 ]] || bench_die "missing ${missing[*]}: run as root, or apt-get install ${packages[*]}"
  echo "$bench_name: installing ${packages[*]} (for ${missing[*]})"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || bench_die "apt-get update failed"
  apt-get install -y -qq "${packages[@]}" >/dev/null || bench_die "apt-get install ${packages[*]} failed"
  for name in "${missing[@]}"; do
    if [[ $name == /* ]]; then [[ -e $name ]]; else command -v "$name" >/dev/null; fi ||
      bench_die "$name is still missing after installing ${packages[*]}"
  done
}

bench_tmp=$(mktemp -d "${TMPDIR:-/tmp}/bench-$bench_name.XXXXXX")
bench_cleanups=("rm -rf '$bench_tmp'")
bench_on_exit() {
  local i
  for ((i = ${#bench_cleanups[@]} - 1; i >= 0; i--)); do eval "${bench_cleanups[i]}" || true; done
}
trap bench_on_exit EXIT

# bench_build PRESET TARGET...: configures the preset's tree (cheap when it exists,
# and it picks up packages installed since) and builds the targets; the build's own
# output is shown only when it fails.
bench_build() {
  local preset=$1 log=$bench_tmp/build.log
  shift
  bench_need cmake=cmake ninja=ninja-build g++=build-essential /usr/include/zlib.h=zlib1g-dev \
    /usr/include/gtest/gtest.h=libgtest-dev /usr/src/googletest=googletest
  if [[ $preset == win* ]]; then
    bench_need x86_64-w64-mingw32-g++=g++-mingw-w64-x86-64 i686-w64-mingw32-g++=g++-mingw-w64-i686 \
      /usr/x86_64-w64-mingw32/lib/libz.a=libz-mingw-w64-dev
  fi
  echo "$bench_name: building $* ($preset tree)"
  (cd "$bench_root" && cmake --preset "$preset") >"$log" 2>&1 || { tail -n 40 "$log" >&2; bench_die "cmake --preset $preset failed"; }
  (cd "$bench_root" && cmake --build --preset "$preset" -j2 --target "$@") >"$log" 2>&1 ||
    { tail -n 40 "$log" >&2; bench_die "cmake --build --preset $preset --target $* failed"; }
}

# bench_engine TARGET PATH: sets and exports engine, the native build of TARGET at PATH
# (below build/native), or ENGINE when it is set, to measure another build.
bench_engine() {
  if [[ -n ${ENGINE:-} ]]; then
    engine=$ENGINE
  else
    bench_build native "$1"
    engine=$bench_root/build/native/$2
  fi
  [[ -x $engine ]] || bench_die "no engine at $engine"
  export engine
}

calc() { awk "BEGIN { printf \"%.${2:-3}f\", $1 }"; }

# Caches before every timed run: nothing left to write back (sync), the page cache
# dropped (root only; BENCH_DROP_CACHES=0 keeps it), then the run's own inputs read
# once, so every side starts from the same warm inputs and a clean write-back queue.
bench_drop=${BENCH_DROP_CACHES:-1}
if [[ $bench_drop == 1 && ! -w /proc/sys/vm/drop_caches ]]; then
  echo "$bench_name: cannot drop the page cache (not root?): runs start after sync and warm reads only"
  bench_drop=0
fi
bench_settle() {
  sync
  if [[ $bench_drop == 1 ]]; then echo 3 >/proc/sys/vm/drop_caches; fi
  (($# == 0)) || bench_read "$@"
}
# Reads files (folders: every file in them) once, the data of sparse files only: the
# holes of a 100 GB disk image would take longer to read than any engine does.
bench_read() {
  bench_need python3=python3
  find "$@" -type f -print0 | python3 -c '
import os, sys
for path in sys.stdin.buffer.read().split(b"\0")[:-1]:
    fd = os.open(path, os.O_RDONLY)
    end, pos = os.fstat(fd).st_size, 0
    while pos < end:
        try:
            pos = os.lseek(fd, pos, os.SEEK_DATA)
        except OSError:  # no data after pos
            break
        hole = os.lseek(fd, pos, os.SEEK_HOLE)
        while pos < hole:
            got = len(os.pread(fd, min(1 << 20, hole - pos), pos))
            if not got:
                break
            pos += got
        pos = max(pos, hole)
    os.close(fd)
'
}

# bench_rounds ROUNDS NAME...: runs every NAME ROUNDS times; round r starts with the
# r-th name (ABAB... for two), so no side always pays for the one before it. For each
# run: reset_NAME if defined (removes what its last run wrote), bench_settle on the
# files of the array warm_NAME, then the bash command line cmd_NAME under
# /usr/bin/time. A NAME listed in bench_silent must print nothing (our engines print
# only failures). Collects the seconds in bench_t[NAME], the processor seconds (user
# and system) in bench_cpu[NAME] and peak kB in bench_kb[NAME].
declare -A bench_t=() bench_cpu=() bench_kb=() bench_silent=()
bench_load() { cut -d' ' -f1-3 /proc/loadavg; }
bench_rounds() {
  local rounds=$1 r i
  shift
  local names=("$@")
  echo "   load average before: $(bench_load) ($(nproc) cores)"
  for ((r = 0; r < rounds; r++)); do
    for ((i = 0; i < ${#names[@]}; i++)); do bench_run_once "${names[(r + i) % ${#names[@]}]}"; done
  done
}
bench_run_once() {
  local name=$1 cmd_var=cmd_$1 warm_var=warm_$1 log=$bench_tmp/$1.log mem=$bench_tmp/$1.mem t0 t1 warm=()
  [[ -n ${!cmd_var:-} ]] || bench_die "no command for $name"
  if declare -p "$warm_var" >/dev/null 2>&1; then
    local -n warm_list=$warm_var
    warm=("${warm_list[@]}")
  fi
  if declare -F "reset_$name" >/dev/null; then "reset_$name"; fi
  bench_settle "${warm[@]}"
  t0=$EPOCHREALTIME
  if ! /usr/bin/time -f '%M %U %S' -o "$mem" bash -c "set -eo pipefail; ${!cmd_var}" >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    bench_die "$name failed: ${!cmd_var}"
  fi
  t1=$EPOCHREALTIME
  if [[ -n ${bench_silent[$name]:-} && -s $log ]]; then
    cat "$log" >&2
    bench_die "$name printed the lines above (it prints only failures): ${!cmd_var}"
  fi
  bench_t[$name]+="$(calc "$t1 - $t0") "
  local kb user sys
  read -r kb user sys < <(tail -n 1 "$mem")
  bench_kb[$name]+="$kb "
  bench_cpu[$name]+="$(calc "$user + $sys" 2) "
}

# The best (smallest) time of NAME's runs, its least processor time, and its peak
# resident memory in MB.
bench_best() { printf '%s\n' ${bench_t[$1]} | sort -g | head -n 1; }
bench_least_cpu() { printf '%s\n' ${bench_cpu[$1]} | sort -g | head -n 1; }
bench_peak_mb() { printf '%s\n' ${bench_kb[$1]} | sort -g | tail -n 1 | awk '{ printf "%.1f", $1 / 1024 }'; }
# One line per NAME: every run's time, the best, the least processor time (user and
# system, all threads: less sensitive to a loaded machine than the time), the peak
# memory; then the load average.
bench_report() {
  local name
  for name; do
    printf '   %-22s runs %s s   best %s s   cpu %s s   peak %s MB\n' "$name" "${bench_t[$name]% }" \
      "$(bench_best "$name")" "$(bench_least_cpu "$name")" "$(bench_peak_mb "$name")"
  done
  echo "   load average after: $(bench_load)"
}

# bench_result MEASURE OURS PEER GOAL
bench_result() {
  local ratio=-
  [[ $3 == - ]] || ratio=$(awk "BEGIN { r = $2 / $3; printf (r < 0.01 ? \"%.5f\" : \"%.4g\"), r }")
  echo "RESULT $1 $2 $3 $ratio $4"
}
