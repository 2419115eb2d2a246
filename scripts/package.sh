#!/usr/bin/env bash
# Makes the release archive dist/VrelPELite-<version>.zip from the shipped builds:
# the 32-bit program, the 64-bit one for 64-bit WinPE (x64/, which has no WOW64 to
# start the other), a sample VrelPELite.ini (GBK, CR LF), the icon, the guide with
# its pictures, the third-party notices and licence files, and SHA256SUMS over them.
# Checks that the version agrees in the archive's name, the program's version
# resource and its status bar text, and that the sums verify in the unpacked archive.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset win32 >/dev/null
cmake --build --preset win32 >/dev/null
cmake --preset win64 >/dev/null
cmake --build --preset win64 --target VrelPELite >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
[[ -n $version ]] || { echo "package: no project version in build/win32" >&2; exit 1; }
exe=build/win32/app/VrelPELite.exe
exe64=build/win64/app/VrelPELite.exe
name=VrelPELite-$version

# The version resource (UTF-16) and the status bar's built-in text (GBK bytes).
python3 - "$version" "$exe" "$exe64" <<'PY'
import sys
version = sys.argv[1]
for path, machine, bits in ((sys.argv[2], 0x14C, 32), (sys.argv[3], 0x8664, 64)):
    data = open(path, "rb").read()
    pe = int.from_bytes(data[0x3C:0x40], "little")
    if data[pe:pe + 4] != b"PE\0\0" or int.from_bytes(data[pe + 4:pe + 6], "little") != machine:
        sys.exit(f"package: {path} is not a {bits}-bit Windows program")
    for key in ("FileVersion", "ProductVersion"):
        wanted = (key + "\0").encode("utf-16-le")
        at = data.find(wanted)
        if at < 0:
            sys.exit(f"package: no {key} in the version resource of {path}")
        at += len(wanted)
        at += at % 4  # values start on a 32-bit boundary
        value = data[at:at + 2 * len(version) + 2].decode("utf-16-le")
        if value != version + "\0":
            sys.exit(f"package: {key} of {path} is {value!r}, the project's version is {version}")
    if ("Ver:" + version + "\0").encode() not in data:
        sys.exit(f"package: the status bar's text of {path} is not Ver:{version}")
PY

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
root=$stage/$name
mkdir -p "$root/third-party" "$root/guide" "$root/x64"
cp "$exe" "$root/VrelPELite.exe"
cp "$exe64" "$root/x64/VrelPELite.exe"
cp app/res/app.ico "$root/VrelPELite.ICO"
iconv -f UTF-8 -t GBK docs/VrelPELite.ini | sed 's/$/\r/' >"$root/VrelPELite.ini"
cp "docs/用户指南.md" "$root/用户指南.md"
cp docs/guide/*.png "$root/guide/"
cp THIRD-PARTY.md "$root/"
cp -r build/win32/app/third-party/. "$root/third-party/"
(cd "$root" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' sha256sum >SHA256SUMS)

mkdir -p dist
rm -f "dist/$name.zip"
(cd "$stage" && zip -q -X -r "$OLDPWD/dist/$name.zip" "$name")

# Unpacked afresh, every file must match its sum.
check=$(mktemp -d)
trap 'rm -rf "$stage" "$check"' EXIT
unzip -q "dist/$name.zip" -d "$check"
(cd "$check/$name" && sha256sum --quiet -c SHA256SUMS)
echo "package: dist/$name.zip"
unzip -l "dist/$name.zip"
