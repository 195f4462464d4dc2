# Sourced by the scripts. Decides the test architecture: whether this host can
# run 32-bit Windows programs under Wine ("win32": the shipped programs are
# tested) or only 64-bit ones ("win64": the same sources built for x86-64 are
# tested under 64-bit Wine).
#
#   tavupd_probe_arch      prints win32 or win64; prints a reason on standard
#                          error and fails when neither route can work.
#
# TAVUPD_TEST_ARCH=win32|win64 in the environment overrides the probe.

WINE32_LOADER=/usr/lib/wine/wine
WINE64_LOADER=/usr/lib/wine/wine64

# Runs a 32-bit Windows program (Wine's own command interpreter in a throwaway
# 32-bit prefix) with a short timeout. Leaves no prefix and no Wine process.
tavupd_can_run_win32() {
    [ -x "$WINE32_LOADER" ] || return 1
    # A kernel without 32-bit user mode cannot even start the loader.
    timeout 20 "$WINE32_LOADER" --version >/dev/null 2>&1 || return 1
    local tmp out ok=1
    tmp=$(mktemp -d /tmp/tavupd-probe.XXXXXX)
    out=$(WINEPREFIX="$tmp/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
          DISPLAY= timeout 120 "$WINE32_LOADER" cmd.exe /c echo tavupd-probe-ok </dev/null 2>/dev/null) || true
    case "$out" in *tavupd-probe-ok*) ok=0 ;; esac
    WINEPREFIX="$tmp/prefix" timeout 20 wineserver -k >/dev/null 2>&1 || true
    rm -rf "$tmp"
    return $ok
}

tavupd_probe_arch() {
    case "${TAVUPD_TEST_ARCH:-}" in
        win32|win64) echo "$TAVUPD_TEST_ARCH"; return 0 ;;
        "") ;;
        *) echo "TAVUPD_TEST_ARCH must be win32 or win64, not '$TAVUPD_TEST_ARCH'" >&2; return 1 ;;
    esac
    if tavupd_can_run_win32; then echo win32; return 0; fi
    if [ -x "$WINE64_LOADER" ]; then echo win64; return 0; fi
    if [ -x "$WINE32_LOADER" ]; then
        echo "this host cannot run 32-bit programs under Wine, and 64-bit Wine (package wine64) is not installed" >&2
    else
        echo "Wine is not installed (packages wine and wine64)" >&2
    fi
    return 1
}

# The line that says which route a run takes (argument: win32 or win64).
tavupd_arch_line() {
    if [ "$1" = win32 ]; then
        echo "testing the shipped 32-bit programs under 32-bit Wine"
    elif [ "${TAVUPD_TEST_ARCH_FORCED:-}" = 1 ]; then
        echo "TAVUPD_TEST_ARCH=win64: testing the 64-bit build of the same sources under 64-bit Wine"
    else
        echo "this host cannot run 32-bit programs; testing the 64-bit build of the same sources under 64-bit Wine"
    fi
}

# Sets TAVUPD_TEST_ARCH (and TAVUPD_TEST_ARCH_FORCED when the caller chose it),
# or ends the calling script with the reason.
tavupd_choose_arch() {
    if [ -n "${TAVUPD_TEST_ARCH:-}" ] && [ -z "${TAVUPD_TEST_ARCH_FORCED:-}" ]; then
        export TAVUPD_TEST_ARCH_FORCED=1
    fi
    local arch
    if ! arch=$(tavupd_probe_arch); then
        echo "error: no way to run Windows programs on this host (see above)" >&2
        exit 1
    fi
    export TAVUPD_TEST_ARCH=$arch
    export TAVUPD_TEST_ARCH_FORCED=${TAVUPD_TEST_ARCH_FORCED:-0}
}
