#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian 12 machine (run as root).
# Safe to run again: apt skips what is already there.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake ninja-build pkg-config git ca-certificates \
  clang libclang-rt-14-dev \
  zlib1g-dev libcurl4-openssl-dev libssl-dev nlohmann-json3-dev libgtest-dev googletest \
  libcpp-httplib-dev \
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 \
  mingw-w64-i686-dev libz-mingw-w64-dev \
  wine wine32:i386 wine64 \
  xvfb xdotool imagemagick x11-utils fonts-wqy-microhei \
  python3 python3-pil curl aria2 nginx-light time openssl coreutils procps psmisc \
  grub-pc-bin grub-common syslinux-common \
  qemu-system-x86 mtools dosfstools ntfs-3g xorriso binutils tar >/dev/null
echo "setup: done"
