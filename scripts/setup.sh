#!/usr/bin/env bash
# Installs what the build, the tests and the simulated WinPE need (Debian).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config googletest libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev
  wine64 wine xvfb x11-apps x11-utils imagemagick locales fonts-wqy-zenhei
  libwim-dev wimtools ntfs-3g dosfstools mtools fdisk
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# Wine shows the program's GBK texts only with the Chinese locale (ANSI code page 936).
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
  sed -i 's/^# *zh_CN.UTF-8/zh_CN.UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi
