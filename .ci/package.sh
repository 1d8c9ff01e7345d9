#!/usr/bin/env bash
# The packages users get: `make package` builds them, then each is checked as a user meets it.
# - the Windows ZIPs hold exactly the product and a README.txt with CR LF line ends; each
#   executable carries a manifest asking for no elevation (asInvoker, supported Windows
#   versions) and a version resource with the project's version;
# - the Debian package passes lintian without errors, depends on the RtMidi and ALSA libraries,
#   installs with dpkg into an empty root, and the installed talveron-update prints the exact
#   transcript of a run that ends at the kit file; its manual pages render without warnings;
# - the web ZIP holds exactly the page's files as make web makes them and a README.txt; the page
#   names only files of the ZIP and loads nothing from elsewhere, its WebAssembly modules are
#   modules, and served from the unpacked ZIP alone it runs its demo to a successful update in
#   headless Chromium (tests/web/packaged_page_test.js).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=lib.sh
. .ci/lib.sh
tools/install-deps.sh package web
root=$PWD
started=$(date +%s)
make package >/dev/null
version=$(sed -n 's/^project(talveron-update VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
out=$root/out
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The Windows ZIPs.
for arch in win32 win64; do
  zip=$out/talveron-update-$version-$arch.zip
  top=talveron-update-$version-$arch
  [ -f "$zip" ] || { fail "no $zip"; continue; }
  listed=$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')
  [ "$listed" = "$top/README.txt $top/talveron-update.exe " ] ||
    fail "$zip holds $listed instead of README.txt and talveron-update.exe"
  unzip -q -o "$zip" -d "$scratch/$arch"
  readme=$scratch/$arch/$top/README.txt
  exe=$scratch/$arch/$top/talveron-update.exe
  # Every line ends in CR LF: no LF without a CR before it.
  if [ -f "$readme" ] && grep -q $'[^\r]$' "$readme"; then
    fail "$arch README.txt has lines without CR LF"
  fi
  grep -q "TALVERON Update $version for Windows" "$readme" ||
    fail "$arch README.txt does not name version $version"
  [ -f "$exe" ] || continue
  case $arch in
    win32) kind="PE32 executable (console) Intel 80386" ;;
    win64) kind="PE32+ executable (console) x86-64" ;;
  esac
  file -b "$exe" | grep -q "^$kind" || fail "$arch exe is not a $kind"
  # The manifest is UTF-8 text in the resources, the version strings UTF-16.
  x86_64-w64-mingw32-objdump -h "$exe" | grep -q ' \.rsrc ' || fail "$arch exe has no resources"
  manifest=$(strings -a "$exe")
  grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$manifest" ||
    fail "$arch exe's manifest does not ask for asInvoker"
  grep -q "name=\"TALVERON.talveron-update\" version=\"$version.0\"" <<<"$manifest" ||
    fail "$arch exe's manifest does not name version $version"
  [ "$(grep -c '<supportedOS Id=' <<<"$manifest")" -ge 5 ] ||
    fail "$arch exe's manifest does not declare the supported Windows versions"
  resource=$(strings -a -el "$exe" | tr '\n' ' ')
  for field in "ProductName TALVERON Update" "FileDescription TALVERON Brevanto firmware update" \
    "FileVersion $version" "ProductVersion $version" "OriginalFilename talveron-update.exe"; do
    [[ " $resource" == *" $field "* ]] || fail "$arch exe's version resource lacks $field"
  done
  echo "ok   $arch ZIP: talveron-update.exe with manifest and version $version, README.txt"
done

# The Debian package.
deb=$out/talveron-update_${version}_amd64.deb
if [ ! -f "$deb" ]; then
  fail "no $deb"
else
  if ! lintian --fail-on error "$deb" >"$scratch/lintian.txt" 2>&1; then
    fail "lintian finds errors in $deb"
  fi
  cat "$scratch/lintian.txt"
  depends=$(dpkg-deb -f "$deb" Depends)
  for library in librtmidi libasound2; do
    grep -q "$library" <<<"$depends" || fail "the package does not depend on $library: $depends"
  done
  # An empty root: dpkg's database and nothing else. The libraries it depends on are the host's,
  # which has them; dpkg is told so rather than given a whole system.
  instroot=$scratch/root
  mkdir -p "$instroot/var/lib/dpkg/info" "$instroot/var/lib/dpkg/updates"
  touch "$instroot/var/lib/dpkg/status"
  if dpkg --root="$instroot" --force-depends -i "$deb" >"$scratch/dpkg.txt" 2>&1; then
    for path in usr/bin/talveron-update usr/bin/talveron-update-sim usr/bin/brevanto-device \
      usr/share/doc/talveron-update/copyright usr/share/man/man1/talveron-update.1.gz \
      usr/share/man/man1/talveron-update-sim.1.gz usr/share/man/man1/brevanto-device.1.gz; do
      [ -e "$instroot/$path" ] || fail "the installed package lacks /$path"
    done
    for page in "$instroot"/usr/share/man/man1/*.1.gz; do
      warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
      [ -z "$warnings" ] || fail "$(basename "$page") renders with warnings: $warnings"
      zcat "$page" | sed -n 1p | grep -q "\"talveron-update $version\"" ||
        fail "$(basename "$page") does not name version $version"
    done
    # The installed product on a kit whose checksum fails: the run ends before any MIDI port.
    run=$scratch/run
    mkdir "$run"
    printf '00 05 01 02 03 FF FA\r\n' >"$run/Brevanto.kit"
    status=0
    (cd "$run" && timeout 30 "$instroot/usr/bin/talveron-update" </dev/null >../run.out \
      2>../run.err) || status=$?
    file_open='' upgrade_error='' # set by golden
    golden file_open file-open
    golden upgrade_error upgrade-error
    # shellcheck disable=SC2059 # the golden file is the format
    printf "$banner$file_open$upgrade_error\n$linux_prompt" Brevanto.kit >"$scratch/expected.out"
    if [ "$status" -ne 0 ] || ! cmp -s "$scratch/run.out" "$scratch/expected.out" ||
      [ -s "$scratch/run.err" ]; then
      fail "the installed talveron-update (status $status) printed:"
      cat -A "$scratch/run.out" "$scratch/run.err" >&2
    else
      echo "ok   installed talveron-update: exact transcript of a bad checksum"
    fi
    for tool in talveron-update-sim brevanto-device; do
      "$instroot/usr/bin/$tool" --help | grep -q "^usage: $tool " ||
        fail "the installed $tool --help does not print its usage"
    done
  else
    fail "dpkg cannot install $deb into an empty root"
    cat "$scratch/dpkg.txt" >&2
  fi
  echo "ok   Debian package: $(dpkg-deb -f "$deb" Package) $(dpkg-deb -f "$deb" Version), Depends: $depends"
fi

# The web ZIP.
zip=$out/talveron-update-$version-web.zip
top=talveron-update-$version-web
page_files=(device_picker.js emulated-device.js emulated-device.wasm emulated_midi_access.js endings.js
  index.html page.css
  page.js page_host.js talveron-update.js talveron-update.wasm xterm.css xterm.js)
# Addresses in the page's text that load nothing: the XML namespaces xterm.js creates elements in,
# a link in one of its error messages, and the credits in xterm.css's comments.
inert_urls=(http://www.w3.org/1999/xhtml http://www.w3.org/2000/svg
  https://developer.mozilla.org/en-US/docs/Web/Security/Secure_Contexts
  https://github.com/chjj/term.js http://bellard.org/jslinux/)
web_failures=$failures
if [ ! -f "$zip" ]; then
  fail "no $zip"
else
  listed=$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')
  expected=$(printf "$top/%s\n" README.txt "${page_files[@]}" | sort | tr '\n' ' ')
  [ "$listed" = "$expected" ] || fail "$zip holds $listed instead of $expected"
  unzip -q -o "$zip" -d "$scratch/web"
  site=$scratch/web/$top
  for file in "${page_files[@]}"; do
    cmp -s "$site/$file" "out/web/$file" || fail "the web ZIP's $file is not out/web's"
  done
  readme=$site/README.txt
  if [ -f "$readme" ] && [ "$(grep -c $'\r$' "$readme")" -ne "$(wc -l <"$readme")" ]; then
    fail "web README.txt has lines without CR LF"
  fi
  grep -q "TALVERON Update $version for web browsers" "$readme" ||
    fail "web README.txt does not name version $version"
  # What the HTML and CSS load (src, href, url(), @import) must be files of the ZIP or inline.
  references=$(
    grep -ohE '(src|href)="[^"]*"' "$site"/*.html | sed -E 's/^[a-z]+="(.*)"$/\1/'
    grep -ohE "url\(['\"]?[^'\")]*|@import +['\"]?[^'\";]*" "$site"/*.css |
      sed -E "s/^(url\(|@import +)['\"]?//"
  ) || true
  for reference in $references; do
    [[ $reference == data:* || -f $site/$reference ]] ||
      fail "the page loads $reference, which is not in the web ZIP"
  done
  # Any other address, or one without its scheme (//host/...), in the HTML, JS or CSS.
  urls=$(grep -ohE "https?://[^\"' )\`]*|[\"'\`(]//[a-zA-Z0-9][^\"' )\`]*" \
    "$site"/*.html "$site"/*.js "$site"/*.css | sed -E "s/^[\"'\`(]//" | sort -u) || true
  for url in $urls; do
    [[ " ${inert_urls[*]} " == *" $url "* ]] || fail "the page's files name $url"
  done
  for module in talveron-update.wasm emulated-device.wasm; do
    # The magic "\0asm" and the binary format's version, 1.
    [ "$(head -c 8 "$site/$module" | od -An -tx1 | tr -d ' \n')" = 0061736d01000000 ] ||
      fail "$module is not a WebAssembly module"
  done
  node tests/web/packaged_page_test.js "$site" || fail "the page from the web ZIP failed its demo"
  [ "$failures" -ne "$web_failures" ] ||
    echo "ok   web ZIP: ${#page_files[@]} page files as in out/web and README.txt, none from elsewhere"
fi

if [ "$failures" -ne 0 ]; then
  echo "package: $failures failure(s)" >&2
  exit 1
fi
echo "package: all checks passed in $(($(date +%s) - started)) s"
