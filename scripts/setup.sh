#!/usr/bin/env bash
# Installs what building needs on Debian 12, only where missing.
#   bash scripts/setup.sh demo   what reproject and the Linux plug-ins need
#   bash scripts/setup.sh        everything the tests need as well: the
#                                Windows cross compilers and wine, clang for
#                                the fuzz targets, Chromium and Selenium for
#                                the preview's browser test
set -euo pipefail

packages=(cmake g++ make pkg-config
          libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev libavfilter-dev ffmpeg
          libcpp-httplib-dev)
if [ "${1:-}" != "demo" ]; then
  packages+=(libgtest-dev g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 zip)
  # The fuzz targets: clang with libFuzzer and the sanitizer runtimes, and
  # clang's OpenMP runtime.
  packages+=(clang-14 libclang-rt-14-dev libomp-14-dev)
  # reproject preview's page in a real browser.
  packages+=(chromium chromium-driver python3-selenium)
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

if [ "${1:-}" != "demo" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
