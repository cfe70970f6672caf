#!/usr/bin/env bash
# Installs everything the project needs on a Debian 12 machine (run as root,
# or with sudo).
#
# When every package is installed already (asked of dpkg), it runs no apt
# command at all. Otherwise it tolerates a failing `apt-get update` (a mirror
# in the middle of a sync answers with mismatching indexes), tries the
# install, and if that fails tries once more preferring the release's own
# packages (a half-synced security index can offer a 64-bit library whose
# i386 twin it does not have yet, and such a pair must share one version).
# If that fails too it names the packages still missing and exits non-zero.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  clang libclang-rt-14-dev
  zlib1g-dev libcurl4-openssl-dev libssl-dev nlohmann-json3-dev libgtest-dev googletest
  libcpp-httplib-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  mingw-w64-i686-dev mingw-w64-x86-64-dev libz-mingw-w64-dev
  wine wine32:i386 wine64
  xvfb xdotool imagemagick x11-utils fonts-wqy-microhei
  python3 python3-pil curl aria2 nginx-light time openssl coreutils procps psmisc
  grub-pc-bin grub-common syslinux-common
  qemu-system-x86 mtools dosfstools ntfs-3g xorriso binutils tar
)

# Prints the packages of the list that dpkg does not know as installed
# (a name without an architecture means the native one, or "all").
missing_packages() {
  local native
  native="$(dpkg --print-architecture)"
  { dpkg-query -W -f='${Package}:${Architecture} ${db:Status-Status}\n' "${packages[@]}" 2>/dev/null || true; } |
    awk -v native="$native" -v wanted="${packages[*]}" '
      $2 == "installed" { have[$1] = 1 }
      END {
        n = split(wanted, list, " ")
        for (i = 1; i <= n; i++) {
          p = list[i]
          if (p ~ /:/) { if (!(p in have)) print p }
          else if (!((p ":" native) in have) && !((p ":all") in have)) print p
        }
      }'
}

missing="$(missing_packages)"
if [ -z "$missing" ]; then
  echo "setup: every package is installed"
  exit 0
fi
echo "setup: to install:" $missing

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi

if ! $SUDO apt-get update -qq; then
  echo "setup: apt-get update failed (a mirror in the middle of a sync?); going on with the indexes there are"
fi

install() { $SUDO apt-get install -y -qq --no-install-recommends "$@" $missing; }
if ! install; then
  release="$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")"
  release="${release:-bookworm}"
  echo "setup: the install failed; trying once more with the packages of the release '$release' preferred"
  install -o "APT::Default-Release=$release" || true
fi

missing="$(missing_packages)"
if [ -n "$missing" ]; then
  echo "setup: FAILED: these packages could not be installed:" $missing >&2
  exit 1
fi
echo "setup: done"
