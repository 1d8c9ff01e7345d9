#!/usr/bin/env bash
# Installs the Debian packages that a group of tasks needs and this machine lacks.
# Usage: tools/install-deps.sh GROUP...   (groups are the files in tools/deps/)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
missing=()
for group in "${@:-base}"; do
  while read -r package; do
    [ -n "$package" ] || continue
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
  done <"$here/deps/$group.txt"
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
# A package named PACKAGE:ARCH (wine32:i386) needs that architecture enabled first.
for package in "${missing[@]}"; do
  arch=${package#*:}
  [ "$arch" != "$package" ] || continue
  [ "$arch" = "$(dpkg --print-architecture)" ] && continue
  dpkg --print-foreign-architectures | grep -qx "$arch" || $sudo dpkg --add-architecture "$arch"
done
$sudo apt-get update -qq
# Without --no-install-recommends, wine32 would make apt remove librtmidi-dev and JACK.
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
