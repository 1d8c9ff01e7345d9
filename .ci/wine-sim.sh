#!/usr/bin/env bash
# Stands in for talveron-update-sim in the protocol tests and runs the Windows build
# ($TALVERON_WINDOWS_SIM) under Wine, set up by .ci/windows.sh. Absolute paths in the arguments
# become paths of Wine's drive Z:. Standard output comes back as the Linux build prints it
# (as_linux in .ci/lib.sh): a line feed without CR is left in and marked, so that the test fails.
# The Windows build pauses in the system's own Sleep, so it runs on real time: "--virtual-time
# yes" is dropped. A standard output nobody reads fails the write quietly, as it does for the
# program itself.
set -euo pipefail
trap '' PIPE
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"

args=()
while [ $# -gt 0 ]; do
  case $1 in
    --virtual-time)
      if [ "${2:-}" = yes ]; then
        shift 2
        continue
      fi
      args+=("$1")
      ;;
    /*) args+=("Z:$1") ;;
    *) args+=("$1") ;;
  esac
  shift
done

raw=$(mktemp)
trap 'rm -f "$raw"' EXIT
status=0
timeout 60 /usr/lib/wine/wine64 "$TALVERON_WINDOWS_SIM" "${args[@]}" </dev/null >"$raw" \
  2>/dev/null || status=$?

as_linux "$raw" || true
exit "$status"
