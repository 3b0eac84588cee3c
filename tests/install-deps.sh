#!/bin/sh
# Installs, from Debian's packages, what building and testing id3v23fix
# needs and this machine lacks. Does nothing when all of it is there.
#
# The Windows build and its tests under Wine need 32-bit packages (i386).
# Where those cannot be had, the script says so and goes on: the Windows
# tests then report themselves as skipped.
set -eu

packages="cmake ninja-build g++ clang libclang-rt-14-dev clang-tidy clang-format cppcheck libgtest-dev
strace id3v2 util-linux python3 python3-mutagen"
windows_packages="g++-mingw-w64-i686 wine wine32:i386 xvfb fonts-ipafont-gothic python3-pefile"

missing_from() {
  missing=""
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
      missing="$missing $package"
    fi
  done
  echo "$missing"
}

as_root=""
[ "$(id -u)" -eq 0 ] || as_root=sudo

install() {
  echo "installing:$*"
  # shellcheck disable=SC2086  # one word a package
  DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -q --no-install-recommends "$@"
}

# shellcheck disable=SC2086  # one word a package
missing=$(missing_from $packages)
# shellcheck disable=SC2086
missing_windows=$(missing_from $windows_packages)
[ -n "$missing$missing_windows" ] || exit 0

if [ -n "$missing_windows" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $as_root dpkg --add-architecture i386
fi
$as_root apt-get update -q
# shellcheck disable=SC2086
[ -z "$missing" ] || install $missing
# shellcheck disable=SC2086
if [ -n "$missing_windows" ] && ! install $missing_windows; then
  echo "warning: could not install$missing_windows; the Windows tests will be skipped" >&2
fi
