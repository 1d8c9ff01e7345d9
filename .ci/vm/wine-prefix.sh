# shellcheck shell=bash disable=SC2154,SC2034 # sourced: settings come from .ci/vm.sh and the jobs before
# Sourced by .ci/vm.sh: the 64-bit Wine prefix the guest's Wine runs use, kept between checks.

# The 64-bit prefix is made here, where it takes seconds rather than minutes.
prefix64="$build/wine-prefix64"
if [ -n "$wine_bits" ] && [ ! -f "$prefix64/.talveron-ready" ]; then
    echo "-- Wine prefix"
    rm -rf "$prefix64"
    (wine_env "$prefix64" win64
    export HOME=/tmp
    timeout 300 /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
    timeout 60 /usr/lib/wine/wineserver64 -w)
    touch "$prefix64/.talveron-ready"
fi

