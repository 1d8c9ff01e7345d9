# shellcheck shell=bash disable=SC2154,SC2034 # sourced: settings come from .ci/vm.sh and the jobs before
# Sourced by .ci/vm.sh after boot.sh: shows what the guest found, then judges every case of the
# manifest with tests/system/test_vm.py (each case against its emulated run) and ends the check
# with its verdict. JUnit XML in $build/junit/vm.xml.

visible() { sed -e 's/\r/\\r/g' -e 's/^/    /'; }
wine_out="$share/out"
times() { awk -v c="$1" '$1 == c { print $2 }' "$wine_out/times" 2>/dev/null | paste -sd/; }

echo
echo "== sequencer clients in the guest"
sed 's/^/    /' "$wine_out/clients" 2>/dev/null
[ -z "$usb_programs" ] || {
    echo "== USB: cards and sequencer clients in the guest (enumeration $(times plug) s)"
    sed 's/^/    /' "$wine_out/usb.cards" "$wine_out/usb.clients" 2>/dev/null
}
[ -z "$chromium_cases" ] ||
    echo "== Chromium: udev ready in $(times chromium-udev) s, Chromium started in" \
        "$(times chromium-start) s, the page loaded in $(times chromium-page) s, closed in" \
        "$(times chromium-close) s (guest clock)"
[ -z "$din_kits" ] || {
    echo "== DIN-rate port: cards and sequencer clients in the guest"
    sed 's/^/    /' "$wine_out/din.cards" "$wine_out/din.clients" 2>/dev/null
}
[ -z "$wine_bits" ] || [ -f "$wine_out/finished" ] || fail "the Wine runs did not finish"
[ -z "$usb_programs" ] || [ -f "$wine_out/usb-finished" ] || fail "the USB runs did not finish"
[ -z "$chromium_cases" ] || [ -f "$wine_out/chromium-finished" ] ||
    fail "the Chromium runs did not finish"
[ -z "$din_kits" ] || [ -f "$wine_out/din-finished" ] || fail "the DIN-rate runs did not finish"

phases="init seq"
for bits in $wine_bits; do phases+=" wine$bits"; done
for program in $usb_programs; do phases+=" usb-$program"; done
[ -z "$chromium_cases" ] || phases+=" chromium"
[ -z "$din_kits" ] || phases+=" din"
[ "$lab" != 1 ] || phases+=" lab"
echo
echo "== the cases (tests/system/vm_cases.tsv), phases: $phases"
mkdir -p "$build/junit"
VM_BUILD=$build VM_SHARE=$share VM_PHASES=$phases VM_KIT_NAME=$kit_name \
    /usr/bin/python3 -m pytest -q -rA -p no:cacheprovider --junitxml="$build/junit/vm.xml" \
    tests/system/test_vm.py || fail "cases failed (above; $build/junit/vm.xml)"

echo
echo "booted in $(awk '$1 == "@@@" && $2 == "BOOTED" { print $3 }' "$console.txt") s," \
    "all cases done at $(awk '$1 == "@@@" && $2 == "DONE" { print $3 }' "$console.txt") s" \
    "(guest clock); virtual machine $((vm_ms / 1000)).$(printf '%03d' $((vm_ms % 1000))) s, whole check $(($(date +%s) - started)) s"
if [ "$failures" -ne 0 ]; then
    echo "vm: $failures failure(s); console log in $console"
    exit 1
fi
echo "vm: all cases as expected"
