# shellcheck shell=bash
# Sourced by the CI scripts (bash): timing, failures counted rather than fatal, the texts the
# programs print (from tests/golden/), Wine's output read as the Linux build's, Wine's environment
# and a file's bytes in hex.
ci_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
golden_dir=$(cd "$ci_dir/../tests/golden" && pwd)

now() { date +%s.%N; }
# since START: the seconds from START (a `now`) until now, as "12.3 s".
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

# fail MESSAGE...: reports a failure and counts it; the script decides at its end.
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# read_exact VAR FILE: sets VAR to the file's bytes, its last line breaks included.
read_exact() {
  local read_exact_bytes # a name no caller's VAR has
  read_exact_bytes=$(cat "$2"; echo .)
  printf -v "$1" '%s' "${read_exact_bytes%.}"
}
# golden VAR NAME: sets VAR to the text of tests/golden/NAME.txt.
golden() { read_exact "$1" "$golden_dir/$2.txt"; }
# say NAME: the line of tests/golden/NAME.txt without its line break, for grep -x.
say() { cat "$golden_dir/$1.txt"; }
# shellcheck disable=SC2034 # banner is for the scripts that source this
banner='' linux_prompt='' wine_prompt='' # set by golden
golden banner banner
golden linux_prompt prompt
golden wine_prompt prompt-wine

# as_linux FILE: a Windows program's standard output under Wine as the Linux build prints it:
# each CR LF of the C runtime's text mode as LF, and cmd's key-press prompt as ours. A line feed
# without CR is left in and marked, and the status is 1.
as_linux() {
  local text
  read_exact text "$1"
  if [[ $text == $'\n'* || $text == *[!$'\r']$'\n'* ]]; then
    printf '%s[a line feed without CR: standard output is not in text mode]\n' "$text"
    return 1
  fi
  text=${text//$'\r\n'/$'\n'}
  [[ $text == *"$wine_prompt" ]] && text=${text%"$wine_prompt"}$linux_prompt
  printf '%s' "$text"
}

# wine_env PREFIX ARCH: Wine in a prefix of our own, without debug chatter, in the C locale (cmd's
# pause prompt is translated), without Mono, Gecko, desktop menus or a display.
wine_env() {
  export WINEPREFIX=$1 WINEARCH=$2 WINEDEBUG=-all LC_ALL=C LANG=C
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  unset DISPLAY WAYLAND_DISPLAY
}

# hex FILE: the file's bytes as upper-case hex digits without spaces, as a kit's text has them.
hex() { od -An -v -tx1 "$1" | tr -d ' \n' | tr a-f A-F; }
