#!/bin/sh
# Installs, from Debian's packages, what building and testing id3v23fix
# needs and this machine lacks. Does nothing when all of it is there.
set -eu

packages="cmake ninja-build g++ clang libgtest-dev strace id3v2 util-linux python3 python3-mutagen"

missing=""
for package in $packages; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $package"
  fi
done
[ -n "$missing" ] || exit 0

as_root=""
[ "$(id -u)" -eq 0 ] || as_root=sudo
echo "installing:$missing"
$as_root apt-get update -q
# shellcheck disable=SC2086  # one word a package
DEBIAN_FRONTEND=noninteractive $as_root apt-get install -y -q --no-install-recommends $missing
