#!/usr/bin/env bash
# Installs what the build, the tests and the simulated WinPE need (Debian).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  wine64 wine xvfb x11-apps x11-utils imagemagick locales fonts-wqy-zenhei
  libwim-dev wimtools ntfs-3g dosfstools mtools fdisk exfatprogs
  genisoimage xorriso udftools python3 zip unzip
)
# Installed without their recommendations (the emulator's graphical front end and
# firmware collection are not needed to boot test disks on the serial console; the
# fuzzer's documentation is not needed to fuzz).
lean_packages=(qemu-system-x86 afl++)
missing_in() {
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_in "${packages[@]}")
mapfile -t missing_lean < <(missing_in "${lean_packages[@]}")
if ((${#missing[@]} + ${#missing_lean[@]})); then
  echo "setup: installing ${missing[*]} ${missing_lean[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  ((${#missing[@]} == 0)) || apt-get install -y -qq "${missing[@]}" >/dev/null
  ((${#missing_lean[@]} == 0)) || apt-get install -y -qq --no-install-recommends "${missing_lean[@]}" >/dev/null
fi
# Wine shows the program's GBK texts only with the Chinese locale (ANSI code page 936).
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
  sed -i 's/^# *zh_CN.UTF-8/zh_CN.UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
