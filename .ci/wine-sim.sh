#!/usr/bin/env bash
# Stands in for talveron-update-sim in the protocol tests and runs the Windows build
# ($TALVERON_WINDOWS_SIM) under Wine, set up by .ci/windows.sh. Absolute paths in the arguments
# become paths of Wine's drive Z:. Standard output comes back as the Linux build prints it: each
# CR LF of the C runtime's text mode as LF, and cmd's key-press prompt as ours. A line feed
# without CR is left in and marked, so that the test fails. The Windows build pauses in the
# system's own Sleep, so it runs on real time: "--virtual-time yes" is dropped. A standard output
# nobody reads fails the write quietly, as it does for the program itself.
set -euo pipefail
trap '' PIPE
readonly wine_prompt='Press any key to continue... '
readonly our_prompt=$'Press any key to continue . . . \n'

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

text=$(cat "$raw"; echo .)
text=${text%.}
if [[ $text == $'\n'* || $text == *[!$'\r']$'\n'* ]]; then
  printf '%s[a line feed without CR: standard output is not in text mode]\n' "$text" || true
  exit "$status"
fi
text=${text//$'\r\n'/$'\n'}
[[ $text == *"$wine_prompt" ]] && text=${text%"$wine_prompt"}$our_prompt
printf '%s' "$text" || true
exit "$status"
