# shellcheck shell=bash disable=SC2154,SC2034 # sourced: settings come from .ci/vm.sh and the jobs before
# Sourced by .ci/vm.sh: the distribution's kernel, unpacked, and the guest's initramfs (busybox,
# the programs and their libraries, the sound modules in load order, the kit and the cases), and
# the share the guest writes its results to. Sets package, kernel_root, vmlinuz and stage;
# writes $build/initramfs.cpio.gz.

echo "-- kernel"
# The distribution kernel, unpacked rather than installed: installing rebuilds an initramfs.
cache="$build/kernel"
mkdir -p "$cache"
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}
package=$(kernel_package)
if [ -z "$package" ]; then
    apt-get update -qq
    package=$(kernel_package)
fi
[ -n "$package" ] || { echo "vm: no linux-image-amd64 in the package lists" >&2; exit 1; }
if [ ! -d "$cache/$package" ]; then
    rm -rf "$cache"/linux-image-* "$cache"/*.deb
    download() { (cd "$cache" && apt-get download -q -o APT::Sandbox::User=root "$package" >/dev/null); }
    if ! download; then
        # Old package lists may name a kernel the mirror no longer has.
        apt-get update -qq
        package=$(kernel_package)
        download
    fi
    mkdir -p "$cache/$package.tmp"
    dpkg-deb -x "$cache"/"$package"_*.deb "$cache/$package.tmp"
    rm -f "$cache"/*.deb
    mv "$cache/$package.tmp" "$cache/$package"
fi
kernel_root="$cache/$package"
vmlinuz=$(ls "$kernel_root"/boot/vmlinuz-*)


echo "-- initramfs"
stage="$build/initramfs"
rm -rf "$stage"
mkdir -p "$stage"/{bin,dev,etc,proc,sys,tmp,kit,opt/talveron,lib/modules,usr/share/alsa}
# A user without privileges, and the group that may use the sequencer, as on a desktop.
printf 'root:x:0:0:root:/:/bin/sh\nnobody:x:65534:65534:nobody:/:/bin/sh\n' >"$stage/etc/passwd"
printf 'root:x:0:\naudio:x:29:\nnogroup:x:65534:\n' >"$stage/etc/group"
printf 'passwd: files\ngroup: files\n' >"$stage/etc/nsswitch.conf"
cp /bin/busybox "$stage/bin/busybox"
cp .ci/vm/guest-init.sh "$stage/init"
chmod 755 "$stage/init"
cp .ci/vm/guest-common.sh "$stage/lib/guest-common.sh"
for program in talveron-update brevanto-device; do
    cp "$build/$program" "$stage/opt/talveron/"
    for library in $(ldd "$build/$program" | grep -o '/[^ ]*'); do
        mkdir -p "$stage$(dirname "$library")"
        cp -L "$library" "$stage$library"
    done
done
# libasound reads its configuration to find the sequencer.
cp /usr/share/alsa/alsa.conf "$stage/usr/share/alsa/"
# stage_module NAME ORDER_FILE: the module and, first, those it depends on (busybox insmod
# resolves nothing), each once in each order file, in the order they must be loaded; a module is
# staged once for all of them, and the guest loads what is not loaded yet.
stage_module() {
    local module=$1 order=$2 file plain dependency
    grep -qx "$module" "$stage/lib/modules/$order" 2>/dev/null && return 0
    if [ ! -f "$stage/lib/modules/$module.ko" ]; then
        file=$(find "$kernel_root"/lib/modules/*/kernel \( -name "$module.ko*" -o \
            -name "${module//-/_}.ko*" \) | head -n 1)
        [ -n "$file" ] || { echo "vm: module $module is not in $package" >&2; exit 1; }
        plain=$(mktemp)
        # busybox insmod takes plain modules only.
        case "$file" in
        *.xz) xz -dc "$file" ;;
        *.zst) zstd -qdc "$file" ;;
        *) cat "$file" ;;
        esac >"$plain"
        mv "$plain" "$stage/lib/modules/$module.ko"
    fi
    for dependency in $(strings -a "$stage/lib/modules/$module.ko" | sed -n 's/^depends=//p' |
        tr ',' ' '); do
        stage_module "$dependency" "$order"
    done
    echo "$module" >>"$stage/lib/modules/$order"
}
for module in $modules; do stage_module "$module" order; done
for module in $results_modules; do stage_module "$module" order.results; done
for module in $wine_modules; do stage_module "$module" order.wine; done
for module in $usb_modules; do stage_module "$module" order.usb; done

echo "-- DIN-rate MIDI port"
# Our UART MIDI driver, built against the headers of the kernel the guest boots; it loads
# unsigned. Headers of another version than the lists' metapackage installs come here.
version=${package#linux-image-}
headers=/usr/src/linux-headers-$version
if [ ! -d "$headers" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get install -y -qq --no-install-recommends "linux-headers-$version" >/dev/null
fi
rm -rf "$build/din-uart"
cp -r .ci/vm/din-uart "$build/din-uart"
make -s -C "$headers" M="$build/din-uart" modules >"$build/din-uart/build.log" 2>&1 ||
    { echo "vm: the DIN-rate MIDI driver did not build:" >&2; cat "$build/din-uart/build.log" >&2; exit 1; }
cp "$build/din-uart/din_uart.ko" "$stage/lib/modules/din_uart.ko"
for module in $din_modules din_uart; do stage_module "$module" order.din; done
gcc -O2 -Wall -Wextra -Werror -o "$build/seq-hold" .ci/vm/seq-hold.c -lasound

"$build/make-sample-kit" "$stage/kit/$kit_name" "$kit_bytes"
echo "$cases" >"$stage/kit/cases"
for case in $cases; do
    echo "${options[$case]}" >"$stage/kit/$case.options"
done
mkdir -p "$share"
rm -rf "$share/out" "$share"/*.options
mkdir "$share/out"
cp "$stage/kit/$kit_name" "$share/"
for case in $cases; do
    echo "${options[$case]}" >"$share/$case.options"
done
printf 'root=%q\nbuild=%q\nkit_name=%q\nwine_cases=%q\nwine_bits=%q\nopen_close_tries=%q\n' \
    "$root" "$build" "$kit_name" "$cases" "$wine_bits" "${VM_OPEN_CLOSE_TRIES:-1}" >"$share/config"
# The cable is pulled after about a third of what a whole update sends, which is the kit's hex
# text with a few bytes around each record.
unplug_bytes=$(($(tr -d '\r\n' <"$stage/kit/$kit_name" | wc -c) / 3))
printf 'usb_programs=%q\nusb_cases=%q\nunplug_bytes=%q\n' "$usb_programs" "$usb_cases" \
    "$unplug_bytes" >>"$share/config"
printf 'chromium_cases=%q\n' "$chromium_cases" >>"$share/config"
[ -z "$wine_bits" ] || touch "$stage/kit/wine"
[ -z "$usb_programs" ] || touch "$stage/kit/usb"
[ -z "$chromium_cases" ] || touch "$stage/kit/chromium"
# The DIN-rate port's kits, one directory each, and their cases' settings.
rm -rf "$share/din"
[ -z "$din_kits" ] || for kit in $(printf '%s\n' $din_kits "$din_wine_kit" "$din_pull_kit" | sort -u); do
    mkdir -p "$share/din/$kit"
    # shellcheck disable=SC2086 # the kit's options are words
    "$build/make-sample-kit" ${din_kit_options[$kit]} "$share/din/$kit/$kit_name" \
        "${din_kit_bytes[$kit]}"
done
# The cable is pulled after about a third of what the pulled kit's update sends.
din_pull_bytes=0
[ -z "$din_kits" ] ||
    din_pull_bytes=$(($(tr -d '\r\n' <"$share/din/$din_pull_kit/$kit_name" | wc -c) / 3))
printf 'din_kits=%q\ndin_seq_seconds=%q\ndin_wine_kit=%q\ndin_pull_kit=%q\ndin_pull_bytes=%q\ndin_lab=%q\n' \
    "$din_kits" "$din_seq_seconds" "$din_wine_kit" "$din_pull_kit" "$din_pull_bytes" "$lab" \
    >>"$share/config"
[ -z "$din_kits" ] || touch "$stage/kit/din"
(cd "$stage" && find . | cpio -o -H newc --quiet | gzip -1) >"$build/initramfs.cpio.gz"

