#!/usr/bin/env bash
# third_party/wimlib is wimlib 1.14.5 as its upstream export came, unchanged: every
# file matches the list of hashes made from the tarball, and there is no other file.
# Given the tarball (VREL_WIMLIB_TARBALL, or found in shared/vendor/ one or two folders
# above the checkout), its own hash and contents are checked against that list too.
#   check_vendored.sh [SOURCE_ROOT]
set -u
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
list=$root/third_party/wimlib-1.14.5.sha256
tree=$root/third_party/wimlib
tarball_sha256=1753024c070ed6817ed18f27afdb58a6c13136ff424b46446cfe2cf9948c5fe0
failed=0
fail() { echo "FAIL: $*"; failed=1; }

files_of() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); }

(cd "$tree" && sha256sum --quiet --strict -c "$list") || fail "a file of third_party/wimlib differs from the list"
extra=$(comm -13 <(awk '{ sub(/^[0-9a-f]+  /, ""); print }' "$list" | LC_ALL=C sort) <(files_of "$tree"))
[[ -z $extra ]] || fail "files in third_party/wimlib that upstream's export lacks: $extra"

tarball=${VREL_WIMLIB_TARBALL:-}
for candidate in "$root/../shared/vendor" "$root/../../shared/vendor"; do
  [[ -n $tarball ]] || [[ ! -f $candidate/wimlib-1.14.5.tar.gz ]] || tarball=$candidate/wimlib-1.14.5.tar.gz
done
if [[ -n $tarball && -f $tarball ]]; then
  [[ $(sha256sum <"$tarball" | cut -d' ' -f1) == "$tarball_sha256" ]] || fail "$tarball is not the expected tarball"
  work=$(mktemp -d /tmp/vendored.XXXXXX)
  trap 'rm -rf "$work"' EXIT
  tar -xzf "$tarball" -C "$work" --strip-components=1
  (cd "$work" && files_of . | xargs -d '\n' sha256sum) | cmp -s - "$list" || fail "the list of hashes is not the tarball's"
  echo "checked against $tarball"
else
  echo "no tarball found (set VREL_WIMLIB_TARBALL): checked against the list of hashes only"
fi
((failed)) && exit 1
echo "third_party/wimlib is upstream's wimlib 1.14.5, unchanged"
