#!/usr/bin/env bash
# Stands in for talveron-update-sim in the protocol tests and runs the Windows build
# ($TALVERON_WINDOWS_SIM) under Wine, set up by .ci/windows.sh. Absolute paths in the arguments
# become paths of Wine's drive Z:. Standard output comes back as the Linux build prints it: each
# CR LF of the C runtime's text mode as LF, and cmd's key-press prompt as ours. A line feed
# without CR is left in and marked, so that the test fails.
set -euo pipefail
readonly wine_prompt='Press any key to continue... '
readonly our_prompt=$'Press any key to continue . . . \n'

args=()
for arg in "$@"; do
  case $arg in
    /*) args+=("Z:$arg") ;;
    *) args+=("$arg") ;;
  esac
done

raw=$(mktemp)
trap 'rm -f "$raw"' EXIT
status=0
timeout 60 /usr/lib/wine/wine64 "$TALVERON_WINDOWS_SIM" "${args[@]}" </dev/null >"$raw" \
  2>/dev/null || status=$?

text=$(cat "$raw"; echo .)
text=${text%.}
if [[ $text == $'\n'* || $text == *[!$'\r']$'\n'* ]]; then
  printf '%s[a line feed without CR: standard output is not in text mode]\n' "$text"
  exit "$status"
fi
text=${text//$'\r\n'/$'\n'}
[[ $text == *"$wine_prompt" ]] && text=${text%"$wine_prompt"}$our_prompt
printf '%s' "$text"
exit "$status"
