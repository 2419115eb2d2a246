#!/usr/bin/env bash
# Real-file tests of the engine's Linux build against Debian's wimlib tools.
#   real_files.sh GROUP ENGINE DATA_DIR      GROUP: roundtrip | peer | errors | recordings
#   real_files.sh record ENGINE DATA_DIR     rewrites the recorded outputs in DATA_DIR
set -u
group=$1 engine=$2 data=$3
work=$(mktemp -d /tmp/wimengine-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
export LC_ALL=C.UTF-8
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }

# Every line ends in CR LF; the program cannot read a CR-only overwrite.
crlf_clean() { perl -0777 -ne 'exit(/\r(?!\n)|(?<!\r)\n/ ? 1 : 0)' "$1"; }
says_success() { grep -qai 'successfully' "$1"; }

make_tree() {  # a small tree with what a system volume has: depth, Chinese names, links
  local t=$1
  mkdir -p "$t/目录 一/子目录/深层" "$t/empty dir" "$t/Program Files"
  printf 'hello\n' >"$t/文件.txt"
  : >"$t/empty.bin"
  : >"$t/目录 一/子目录/深层/空文件"
  head -c 300000 /dev/urandom >"$t/Program Files/random.bin"
  yes 'compressible line of text' | head -c 400000 >"$t/目录 一/text.log"
  truncate -s 48M "$t/sparse.img" && printf 'tail' >>"$t/sparse.img"
  ln -s 文件.txt "$t/link to file"
  ln -s "目录 一/子目录" "$t/link to dir"
}

same_tree() {
  diff -r --no-dereference "$1" "$2" >/dev/null &&
    [[ $(readlink "$2/link to file") == 文件.txt ]] && [[ $(readlink "$2/link to dir") == "目录 一/子目录" ]]
}

run() {  # run OUT ARGS...: engine output into OUT, exit code into $rc
  local out=$1; shift
  "$engine" "$@" >"$out" 2>&1
  rc=$?
}

failed_cleanly() {  # failed_cleanly OUT: non-zero, not a crash, Chinese error, no success
  local out=$1
  [[ $rc -ne 0 && $rc -lt 128 ]] || { echo "exit code $rc"; return 1; }
  says_success "$out" && { echo "success line in failure"; return 1; }
  iconv -f GBK -t UTF-8 "$out" | grep -q '^错误: ' || { echo "no error line"; return 1; }
  crlf_clean "$out" || { echo "bad line ends"; return 1; }
}

case $group in
roundtrip)
  make_tree "$work/src"
  mkdir "$work/src/ImagexTemp"; echo marker >"$work/src/ImagexTemp/marker"
  for compress in maximum fast none; do
    wim="$work/$compress.wim"
    run "$work/capture.out" /capture "$work/src" "$wim" "备份 $compress" "说明 <&> 文字" /Compress "$compress" \
      /FLAGS Professional /temp "$work/src/ImagexTemp"
    check "$compress: capture exit code" test "$rc" -eq 0
    check "$compress: capture success line" grep -q "^Successfully imaged $work/src"$'\r'"\$" "$work/capture.out"
    check "$compress: capture line ends" crlf_clean "$work/capture.out"
    check "$compress: no scratch file left" test ! -e "$wim.vrelpart"

    run "$work/info.out" /info "$wim"
    check "$compress: info exit code" test "$rc" -eq 0
    check "$compress: info count" grep -q $'^Image Count: 1\r$' "$work/info.out"
    check "$compress: info name" grep -q $'^    <NAME>备份 '"$compress"$'</NAME>\r$' "$work/info.out"
    check "$compress: info description" grep -q $'^    <DESCRIPTION>说明 &lt;&amp;&gt; 文字</DESCRIPTION>\r$' "$work/info.out"
    check "$compress: info flags" grep -q $'^    <FLAGS>Professional</FLAGS>\r$' "$work/info.out"
    check "$compress: info line ends" crlf_clean "$work/info.out"
    check "$compress: compression" grep -qi "^Compression: $( [[ $compress == maximum ]] && echo LZX || { [[ $compress == fast ]] && echo XPRESS || echo None; })" "$work/info.out"

    run "$work/apply.out" /apply "$wim" 1 "$work/dst-$compress"
    check "$compress: apply exit code" test "$rc" -eq 0
    check "$compress: apply success line" grep -q $'^Successfully applied image.\r$' "$work/apply.out"
    check "$compress: apply line ends" crlf_clean "$work/apply.out"
    # The temporary folder inside the source is left out; the rest comes back byte for byte.
    check "$compress: temp folder excluded" test ! -e "$work/dst-$compress/ImagexTemp"
    mkdir -p "$work/dst-$compress/ImagexTemp" && cp "$work/src/ImagexTemp/marker" "$work/dst-$compress/ImagexTemp/"
    check "$compress: tree reproduced" same_tree "$work/src" "$work/dst-$compress"
  done
  # Four blanks are "no edition": no FLAGS element.
  run "$work/capture.out" /capture "$work/src/目录 一" "$work/noflags.wim" "n" "d" /flags "    "
  run "$work/info.out" /info "$work/noflags.wim"
  check "blank flags leave no FLAGS" bash -c "! grep -q '<FLAGS>' '$work/info.out'"
  ;;

peer)
  make_tree "$work/a"
  mkdir -p "$work/b/other" && echo second >"$work/b/other/file"
  wimlib-imagex capture "$work/a" "$work/peer.wim" "第一" "描述一" --flags=Ultimate >/dev/null
  wimlib-imagex append "$work/b" "$work/peer.wim" "第二" >/dev/null
  run "$work/info.out" /info "$work/peer.wim"
  check "peer info count" grep -q $'^Image Count: 2\r$' "$work/info.out"
  check "peer info names in order" bash -c "grep -o '<NAME>[^<]*</NAME>' '$work/info.out' | tr '\n' ' ' | grep -q '^<NAME>第一</NAME> <NAME>第二</NAME> \$'"
  run "$work/apply.out" /apply "$work/peer.wim" 1 "$work/a-back"
  check "peer image 1 applied" same_tree "$work/a" "$work/a-back"
  run "$work/apply.out" /apply "$work/peer.wim" 2 "$work/b-back"
  check "peer image 2 applied" diff -r "$work/b" "$work/b-back"

  run "$work/capture.out" /capture "$work/a" "$work/ours.wim" "我们的" "描述" /flags "Enterprise"
  check "wimlib verifies ours" wimlib-imagex verify "$work/ours.wim" >/dev/null 2>&1
  wimlib-imagex info "$work/ours.wim" 1 >"$work/peer-info.txt" 2>&1
  check "peer sees the name" grep -q '^Name: *我们的$' "$work/peer-info.txt"
  check "peer sees the description" grep -q '^Description: *描述$' "$work/peer-info.txt"
  check "peer sees the flags" grep -q '^Flags: *Enterprise$' "$work/peer-info.txt"
  wimlib-imagex apply "$work/ours.wim" 1 "$work/peer-back" >/dev/null 2>&1
  check "peer applies ours" same_tree "$work/a" "$work/peer-back"

  # What a system volume holds but an image leaves out, at the root only (as WIMGAPI).
  mkdir -p "$work/w/System Volume Information" "$work/w/sub"
  echo page >"$work/w/pagefile.sys" && echo nested >"$work/w/sub/pagefile.sys"
  echo tracking >"$work/w/System Volume Information/tracking.log" && echo keep >"$work/w/keep.txt"
  run "$work/capture.out" /capture "$work/w" "$work/w.wim" "n" "d"
  wimlib-imagex dir "$work/w.wim" 1 >"$work/w.list" 2>&1
  check "root pagefile left out" bash -c "! grep -qx '/pagefile.sys' '$work/w.list'"
  check "System Volume Information left out" bash -c "! grep -q '^/System Volume Information' '$work/w.list'"
  check "nested pagefile kept" grep -qx '/sub/pagefile.sys' "$work/w.list"
  check "other files kept" grep -qx '/keep.txt' "$work/w.list"
  # The GUID as WIMGAPI prints it: the first three fields of the stored bytes reversed.
  g=$(wimlib-imagex info "$work/w.wim" | sed -n 's/^GUID: *0x//p')
  run "$work/info.out" /info "$work/w.wim"
  check "GUID in the Windows form" grep -q "^GUID:        {${g:6:2}${g:4:2}${g:2:2}${g:0:2}-${g:10:2}${g:8:2}-${g:14:2}${g:12:2}-${g:16:4}-${g:20:12}}"$'\r$' "$work/info.out"
  ;;

errors)
  mkdir -p "$work/src/d" && head -c 200000 /dev/urandom >"$work/src/d/r.bin" && echo x >"$work/src/t.txt"
  "$engine" /capture "$work/src" "$work/ok.wim" "n" "d" >/dev/null
  wimlib-imagex append "$work/src/d" "$work/ok.wim" "二" >/dev/null
  size=$(stat -c %s "$work/ok.wim")

  run "$work/o" /info "$work/missing.wim";               check "missing file (info)" failed_cleanly "$work/o"
  check "missing file named as cause" bash -c "iconv -f GBK -t UTF-8 '$work/o' | grep -q 找不到映像文件"
  run "$work/o" /apply "$work/missing.wim" 1 "$work/t0";  check "missing file (apply)" failed_cleanly "$work/o"
  run "$work/o" /apply "$work/ok.wim" 0 "$work/t1";       check "index 0" failed_cleanly "$work/o"
  run "$work/o" /apply "$work/ok.wim" 3 "$work/t2";       check "index too large" failed_cleanly "$work/o"
  check "index range named" bash -c "iconv -f GBK -t UTF-8 '$work/o' | grep -q '共有 2 个映像'"
  run "$work/o" /apply "$work/ok.wim" 99999999999 "$work/t3"; check "index overflow" failed_cleanly "$work/o"
  run "$work/o" /apply "$work/ok.wim" abc "$work/t4";     check "index text" failed_cleanly "$work/o"
  run "$work/o" /apply "$work/ok.wim";                    check "missing arguments" failed_cleanly "$work/o"
  run "$work/o" /apply "$work/ok.wim" 1 "$work/src/t.txt/under-a-file"
  check "unwritable target" failed_cleanly "$work/o"
  check "nothing applied" test ! -e "$work/t1" -a ! -e "$work/t2"

  # Each refusal names the real cause, not a neighbouring one.
  names() { iconv -f GBK -t UTF-8 "$work/o" | grep -q "$1"; }
  run "$work/o" /apply "$work/ok.wim" 1 "$work/src/t.txt"; check "target is a file" failed_cleanly "$work/o"
  check "file target named" names '目标路径是一个文件'
  mkdir "$work/folder.wim"
  run "$work/o" /info "$work/folder.wim";                 check "WIM is a folder (info)" names '是一个文件夹'
  run "$work/o" /apply "$work/folder.wim" 1 "$work/t7";   check "WIM is a folder (apply)" names '是一个文件夹'
  head -c 400000 /dev/urandom >"$work/src/d/big.bin"
  "$engine" /capture "$work/src" "$work/big.wim" "n" "d" /compress none >/dev/null
  wimlib-imagex split "$work/big.wim" "$work/part.swm" 0.2 >/dev/null
  for part in part part2; do
    run "$work/o" /apply "$work/$part.swm" 1 "$work/t8"; check "$part.swm" failed_cleanly "$work/o"
    check "$part.swm named as split" names '拆分WIM映像'
  done
  rm "$work/src/d/big.bin"
  # A source file the engine may not read (as an ordinary user: root reads everything).
  mkdir -p "$work/locked/d" && echo x >"$work/locked/a.txt" && echo secret >"$work/locked/d/s.txt"
  chmod 000 "$work/locked/d/s.txt"; chmod 777 "$work"
  as_user=(); [[ $(id -u) -eq 0 ]] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  "${as_user[@]}" "$engine" /capture "$work/locked" "$work/locked.wim" "n" "d" >"$work/o" 2>&1; rc=$?
  check "unreadable source" failed_cleanly "$work/o"
  check "unreadable source named" names '无法读取要备份的文件'

  head -c $((size / 2)) "$work/ok.wim" >"$work/truncated.wim"
  run "$work/o" /info "$work/truncated.wim";              check "truncated (info)" failed_cleanly "$work/o"
  run "$work/o" /apply "$work/truncated.wim" 1 "$work/t5"; check "truncated (apply)" failed_cleanly "$work/o"
  head -c 16 /dev/zero >"$work/notawim.wim"
  run "$work/o" /info "$work/notawim.wim";                check "not a WIM" failed_cleanly "$work/o"
  # Flipped bytes: in the header, and in the middle of the file data.
  for offset in 10 $((size / 3)) $((size / 2)); do
    cp "$work/ok.wim" "$work/flipped.wim"
    byte=$(od -An -tu1 -j "$offset" -N1 "$work/flipped.wim" | tr -d ' ')
    printf "$(printf '\\%03o' $((byte ^ 0xFF)))" | dd of="$work/flipped.wim" bs=1 seek="$offset" conv=notrunc status=none
    run "$work/o" /apply "$work/flipped.wim" 1 "$work/t6-$offset"
    check "flipped byte at $offset" failed_cleanly "$work/o"
  done

  # A capture that fails creates nothing; an older file of the same name survives it.
  run "$work/o" /capture "$work/no-such-src" "$work/new.wim" "n" "d"
  check "missing source" failed_cleanly "$work/o"
  check "missing source leaves no file" test ! -e "$work/new.wim" -a ! -e "$work/new.wim.vrelpart"
  run "$work/o" /capture "$work/src" "$work/no-such-dir/new.wim" "n" "d"
  check "missing destination folder" failed_cleanly "$work/o"
  run "$work/o" /capture "$work/src" "$work/new.wim" "n" "d" /temp "$work/no-such-temp"
  check "missing temp folder" failed_cleanly "$work/o"
  echo "older backup" >"$work/old.wim"
  # The disk fills up halfway: a file size limit makes writes fail as on a full disk.
  ( trap '' XFSZ; ulimit -f 100; "$engine" /capture "$work/src" "$work/old.wim" "n" "d" /compress none ) >"$work/o" 2>&1
  rc=$?
  check "disk full" failed_cleanly "$work/o"
  check "disk full named" bash -c "iconv -f GBK -t UTF-8 '$work/o' | grep -q 磁盘空间不足"
  check "older file kept" grep -q "older backup" "$work/old.wim"
  check "no scratch left" test ! -e "$work/old.wim.vrelpart"
  ;;

recordings|record)
  if [[ $group == record ]]; then
    mkdir -p "$work/a/sys" "$work/b"
    head -c 500000000 /dev/urandom >"$work/a/sys/random.bin"
    yes '系统文件 compressible' | head -c 700000000 >"$work/a/sys/text.log"
    echo hi >"$work/b/x"
    "$engine" /capture "$work/a" "$work/rec.wim" "Windows 7 旗舰版" "恢复映像" /flags Ultimate /compress maximum \
      >"$data/capture_run.txt"
    wimlib-imagex append "$work/b" "$work/rec.wim" "数据 二" "第二个映像" >/dev/null
    "$engine" /info "$work/rec.wim" >"$data/info_two_images.txt"
    "$engine" /apply "$work/rec.wim" 1 "$work/out" >"$data/apply_run.txt"
    "$engine" /apply "$work/rec.wim" 3 "$work/out2" >"$data/apply_failure_index.txt"
    "$engine" /info "$work/missing.wim" >"$data/info_failure_missing.txt"
    exit 0
  fi
  for f in capture_run apply_run info_two_images apply_failure_index info_failure_missing; do
    check "$f recorded with CR LF" crlf_clean "$data/$f.txt"
  done
  check "recorded apply succeeded" grep -q $'^Successfully applied image.\r$' "$data/apply_run.txt"
  check "recorded apply has estimates" grep -q '% ] Applying progress: .* remaining' "$data/apply_run.txt"
  check "recorded capture succeeded" grep -q '^Successfully imaged ' "$data/capture_run.txt"
  check "recorded info has two names" test "$(grep -c '<NAME>' "$data/info_two_images.txt")" -eq 2
  check "recorded failures say no success" bash -c "! grep -qi successfully '$data/apply_failure_index.txt' '$data/info_failure_missing.txt'"
  ;;
*)
  echo "unknown group $group"; exit 2 ;;
esac

if ((failures)); then echo "$failures check(s) failed"; exit 1; fi
echo "all $group checks passed"
