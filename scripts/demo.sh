#!/usr/bin/env bash
# Demonstration of the patch installer, start to end, with no questions asked:
#  - installs what is missing and builds TAVUPD.EXE and RESTARTER.EXE as they
#    ship (build/ship) and the example kit's helper TVSETUP.EXE (build/win),
#  - creates a throwaway Wine prefix (never ~/.wine; removed at the end),
#  - installs the example product (examples/product) and applies the example
#    patch kit (examples/patch) as an administrator would: once as Windows 98,
#    once as NT 4, each time with the product's viewer left running so that
#    its replacement waits for the next start of Windows,
#  - shows the console output, the log and everything that changed, applies
#    the patch a second time (it is refused as already installed), restarts
#    Windows and shows the waiting replacement carried out,
#  - finally lets TAVUPD.EXE start RESTARTER.EXE and answers its question No.
#
# On a host that cannot run 32-bit programs the demo runs the 64-bit build of
# the same sources under 64-bit Wine and says so (see scripts/probe.sh;
# TAVUPD_TEST_ARCH=win32|win64 chooses).
set -Eeuo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
# Never a bare status: a step that fails says which.
trap 'rc=$?; [[ $- == *e* ]] && echo "DEMO FAILED (status $rc) at scripts/demo.sh line $LINENO: $BASH_COMMAND" >&2' ERR

if [ -t 1 ]; then B=$'\033[1m'; N=$'\033[0m'; else B=""; N=""; fi
heading() { printf '\n%s######## %s%s\n' "$B" "$*" "$N"; }
step() { printf '\n%s---- %s%s\n' "$B" "$*" "$N"; }
note() { printf '%s\n' "$*"; }

heading "Packages and build"
scripts/deps.sh
# shellcheck source=scripts/probe.sh
source scripts/probe.sh
tavupd_choose_arch
note "$(tavupd_arch_line "$TAVUPD_TEST_ARCH" | sed 's/^testing/showing/; s/; testing/; showing/')"
if [ "$TAVUPD_TEST_ARCH" = win64 ]; then
  # Programs and tools of the 64-bit build of the same sources.
  BUILD=${DEMO_BUILD_DIR:-build/win64}
  PROGRAMS=$BUILD
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  ninja -C "$BUILD" tavupd restarter tvsetup | tail -1
else
  # The programs as they ship; TVSETUP.EXE from the 32-bit test tree.
  BUILD=${DEMO_BUILD_DIR:-build/win}
  PROGRAMS=${DEMO_SHIPPED_DIR:-build/ship}
  cmake -S . -B "$PROGRAMS" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686-ship.cmake >/dev/null
  ninja -C "$PROGRAMS" tavupd restarter | tail -1
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DTAVUPD_SHIPPED_DIR="$(realpath "$PROGRAMS")" >/dev/null
  ninja -C "$BUILD" tvsetup | tail -1
fi

heading "A throwaway Windows machine (Wine prefix)"
WINE_ROOT=$(mktemp -d /tmp/tavupd-demo.XXXXXX)
export WINE_ROOT
unset WINEPREFIX_OVERRIDE
cleanup() {
    if declare -F wine_cleanup >/dev/null; then wine_cleanup; fi
    rm -rf "$WINE_ROOT"
}
trap cleanup EXIT
# shellcheck source=scripts/wineenv.sh
source scripts/wineenv.sh
C=$WINEPREFIX/drive_c
WINDIR=$C/windows
KIT=$C/PATCH
note "prefix: $WINEPREFIX"

# Tools of the demo in C:\DEMO: TVSETUP.EXE installs the example product and
# holds a file open the way Windows holds a running program.
mkdir -p "$C/DEMO"
cp "$BUILD/TVSETUP.exe" "$C/DEMO/TVSETUP.EXE"
PRODUCT_LIST=$(winepath -w "$ROOT/examples/product/PRODUCT.LST" 2>/dev/null)

install_product() {
    wine 'C:\DEMO\TVSETUP.EXE' install "$PRODUCT_LIST"
}

# The patch kit in C:\PATCH: the two programs, the language file, the
# installation profile and the patch files, dated as when the patch was built.
# With restarter=no the demo's copy of the profile has an empty
# "Reboot Program", so that the run ends with message 8 instead of a question.
stage_kit() {
    rm -rf "$KIT"
    mkdir -p "$KIT"
    cp "$PROGRAMS/TAVUPD.exe" "$KIT/TAVUPD.EXE"
    cp "$PROGRAMS/restarter/RESTARTER.exe" "$KIT/RESTARTER.EXE"
    cp tavupd/TAVUPD.MSG examples/patch/* "$KIT/"
    touch -d '1999-06-15 12:00:00' "$KIT"/TV*
    if [ "$1" = no ]; then sed -i 's/^Reboot Program=.*/Reboot Program=/' "$KIT/TAVUPD.DAT"; fi
}

windows_version() {
    wine reg add 'HKCU\Software\Wine\AppDefaults\TAVUPD.EXE' /v Version /d "$1" /f >/dev/null 2>&1
}

# Runs TAVUPD.EXE from the patch directory; shows standard output, standard
# error (the bell character as <BEL>) and the exit status.
run_patch() {
    local rc
    set +e
    (cd "$KIT" && wine TAVUPD.EXE "$@" >"$WINE_ROOT/out" 2>"$WINE_ROOT/err")
    rc=$?
    set -e
    note "> C:\\PATCH\\TAVUPD.EXE $*"
    tr -d '\r' <"$WINE_ROOT/out"
    if [ -s "$WINE_ROOT/err" ]; then
        note "(standard error:)"
        tr -d '\r' <"$WINE_ROOT/err" | sed 's/\x07/<BEL>/g'
    fi
    case $rc in
        0) note "exit status 0: finished (or a follow-on program was started)" ;;
        1) note "exit status 1: not applied" ;;
        194) note "exit status 194, that is 3010 as Linux sees it (3010 & 255): Windows must be restarted" ;;
        *) note "exit status $rc" ;;
    esac
    LAST_RC=$rc
}

expect_status() {
    if [ "$LAST_RC" != "$1" ]; then
        note "DEMO FAILED: expected exit status $1, got $LAST_RC" >&2
        exit 1
    fi
}

# Holds C:\TAVRO\TVVIEW.EXE open ("the user left the viewer running").
HOLD_PID=""
hold_viewer() {
    rm -f "$C/DEMO/HELD" "$C/DEMO/RELEASE"
    wine 'C:\DEMO\TVSETUP.EXE' hold 'C:\TAVRO\TVVIEW.EXE' 'C:\DEMO\HELD' 'C:\DEMO\RELEASE' &
    HOLD_PID=$!
    for _ in $(seq 1 200); do [ -e "$C/DEMO/HELD" ] && break; sleep 0.1; done
    [ -e "$C/DEMO/HELD" ] || { note "DEMO FAILED: the viewer could not be held open" >&2; exit 1; }
    note "C:\\TAVRO\\TVVIEW.EXE is now held open by another program."
}
release_viewer() {
    touch "$C/DEMO/RELEASE"
    wait "$HOLD_PID" || true
    note "C:\\TAVRO\\TVVIEW.EXE is closed again."
}

show_files() {
    note "(date and time, size, path; .OLD files are the backups)"
    (cd "$C" && find TAVRO -type f -printf '%TY-%Tm-%Td %TH:%TM:%.2TS %4s  C:\\%p\n' | tr / '\\' | sort -k4)
    local dirs=() d
    for d in windows/system windows/system32; do [ -d "$C/$d" ] && dirs+=("$d"); done
    (cd "$C" && find "${dirs[@]}" -maxdepth 1 -iname 'TVPR*' \
        -printf '%TY-%Tm-%Td %TH:%TM:%.2TS %4s  C:\\%p\n' | tr / '\\' | sort -k4)
}

show_ini() {
    note "C:\\TAVRO\\TAVRO.INI:"
    tr -d '\r' <"$C/TAVRO/TAVRO.INI" | sed 's/^/    /'
    note "TAVRO.INI in the Windows directory:"
    tr -d '\r' <"$WINDIR/TAVRO.INI" | sed 's/^/    /'
    note "WIN.INI, section [Extensions]:"
    tr -d '\r' <"$WINDIR/win.ini" | sed -n '/^\[Extensions\]/,/^\[/p' | grep -v '^\[W' | sed 's/^/    /' || true
}

show_registry() {
    local k
    for k in 'HKLM\SOFTWARE\Korvek\Tavro' 'HKCU\Software\Korvek\Tavro' 'HKCR\.tvr'; do
        wine reg query "$k" /s 2>/dev/null | tr -d '\r' | grep -v '^$' | sed 's/^/    /' || true
    done
}

show_waiting() {
    note "WININIT.INI in the Windows directory:"
    if [ -f "$WINDIR/WININIT.INI" ]; then tr -d '\r' <"$WINDIR/WININIT.INI" | sed 's/^/    /'; else note "    (none)"; fi
    note "Delayed moves (PendingFileRenameOperations):"
    wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
        2>/dev/null | tr -d '\r' | grep Pending | sed 's/^ */    /' || note "    (none)"
}

show_viewer() {
    note "C:\\TAVRO\\TVVIEW.EXE: $(tr -d '\r\n' <"$C/TAVRO/TVVIEW.EXE")  ($(date -r "$C/TAVRO/TVVIEW.EXE" '+%Y-%m-%d %H:%M:%S'))"
}

restart_windows() {
    note "> wineboot -r"
    wine wineboot -r >/dev/null 2>&1 || true
}

apply_on() { # <wine version> <title>
    heading "$2"
    step "Installing the example product (examples/product/PRODUCT.LST)"
    install_product
    windows_version "$1"
    note "Windows version reported to TAVUPD.EXE: $1"
    show_viewer
    stage_kit no
    note "Patch kit in C:\\PATCH: $(cd "$KIT" && ls | tr '\n' ' ')"

    step "Applying the patch while the viewer is running"
    hold_viewer
    run_patch
    expect_status 194
    release_viewer

    step "The log C:\\PATCH\\TAVUPD.LOG"
    tr -d '\r' <"$KIT/TAVUPD.LOG" | sed 's/\x07/<BEL>/g; s/^/    /'

    step "Files after the run"
    show_files
    step "INI files after the run"
    show_ini
    step "Registry after the run"
    show_registry
    step "Waiting for the next start of Windows"
    show_waiting
    show_viewer

    step "Applying the patch a second time"
    run_patch
    expect_status 1

    step "Restarting Windows"
    restart_windows
    show_viewer
    show_waiting
    if ! grep -q '2\.1\.0' "$C/TAVRO/TVVIEW.EXE"; then
        note "DEMO FAILED: the viewer was not replaced at the restart" >&2
        exit 1
    fi
}

apply_on win98 "Windows 98: the patch, WININIT.INI and a restart"
apply_on nt40 "NT 4: the patch, delayed moves and a restart"

heading "The restarter"
install_product
windows_version nt40
stage_kit yes
hold_viewer
note "Profile as shipped: $(grep '^Reboot Program' "$KIT/TAVUPD.DAT")"
run_patch
release_viewer
expect_status 0
if command -v xdotool >/dev/null && [ -n "${DISPLAY:-}" ]; then
    WIN=""
    for _ in $(seq 1 100); do
        WIN=$(xdotool search --name 'Successful ORQ Patch Update Installation!' 2>/dev/null | head -1 || true)
        [ -n "$WIN" ] && break
        sleep 0.1
    done
    if [ -n "$WIN" ]; then
        note "RESTARTER.EXE asks: \"$(xdotool getwindowname "$WIN")\" - Windows must be restarted; Yes restarts now."
        note "The demo answers No: the restart is left to the user."
        xdotool key --window "$WIN" n 2>/dev/null || true
        closed=no
        for _ in $(seq 1 50); do
            if ! xdotool search --name 'Successful ORQ Patch Update Installation!' >/dev/null 2>&1; then
                closed=yes
                break
            fi
            sleep 0.1
        done
        if [ $closed = yes ]; then note "RESTARTER.EXE has ended; Windows keeps running."; else note "(the box is still open)"; fi
    else
        note "(no question box seen)"
    fi
fi
wineserver -k >/dev/null 2>&1 || true

heading "Done"
note "The prefix $WINEPREFIX is removed now; ~/.wine was not touched."
