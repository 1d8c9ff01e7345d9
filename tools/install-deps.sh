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
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
