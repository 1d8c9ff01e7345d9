#!/usr/bin/env bash
# Runs one update on a freshly generated sample kit in a scratch directory. Extra arguments go to
# the updater (the emulated one takes fault options).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
shift || true
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$build/make-sample-kit" "$scratch/Brevanto_demo.kit"
cd "$scratch"
if [ -x "$build/talveron-update-sim" ]; then
  "$build/talveron-update-sim" "$@" </dev/null
else
  "$build/talveron-update" </dev/null
fi
