# Sourced by the scripts: a Wine prefix of the run's own (never ~/.wine), one
# idle Wine server kept alive, and a virtual display for message boxes.
# Expects WINE_ROOT (a directory the prefix may live in). Runs on the test
# architecture in TAVUPD_TEST_ARCH (win32 or win64; probed when unset, see
# scripts/probe.sh).
# shellcheck source=scripts/probe.sh
source "$(dirname "${BASH_SOURCE[0]}")/probe.sh"
[ -n "${TAVUPD_TEST_ARCH:-}" ] && [ -n "${TAVUPD_TEST_ARCH_FORCED:-}" ] || tavupd_choose_arch

if [ "$TAVUPD_TEST_ARCH" = win64 ]; then
    export WINEARCH=win64
    export WINELOADER=$WINE64_LOADER
else
    export WINEARCH=win32
    export WINELOADER=$WINE32_LOADER
fi
# Debian's "wine" picks the 32-bit loader whenever it is installed, and its
# tools (wineboot, winepath, ...) go through it: a "wine" of our own comes
# first on PATH and starts the loader of the chosen architecture.
WINE_BIN="$WINE_ROOT/winebin"
mkdir -p "$WINE_BIN"
for name in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=%s\nexec %s "$@"\n' "$WINELOADER" "$WINELOADER" >"$WINE_BIN/$name"
    chmod +x "$WINE_BIN/$name"
done
case ":$PATH:" in *":$WINE_BIN:"*) ;; *) export PATH="$WINE_BIN:$PATH" ;; esac

export WINEPREFIX="${WINEPREFIX_OVERRIDE:-$WINE_ROOT/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ -f "$WINEPREFIX/system.reg" ] && ! grep -q "^#arch=$WINEARCH" "$WINEPREFIX/system.reg"; then
    echo "Replacing Wine prefix $WINEPREFIX (made for another architecture)"
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating Wine prefix $WINEPREFIX ($WINEARCH)"
    mkdir -p "$WINEPREFIX"
    wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "error: the Wine prefix $WINEPREFIX could not be created ($WINEARCH)" >&2
        exit 1
    fi
fi
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  for n in $(seq 90 150); do
    # A lock whose server has gone (killed, not ended) holds the number
    # for nobody: clear it rather than run out of numbers.
    if [ -e "/tmp/.X$n-lock" ] && ! kill -0 "$(tr -d ' ' <"/tmp/.X$n-lock" 2>/dev/null)" 2>/dev/null; then
      rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n" 2>/dev/null || true
    fi
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      XVFB_PID=$!
      export DISPLAY=":$n"
      for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
      break
    fi
  done
  if ! xdpyinfo >/dev/null 2>&1; then
    echo "error: no X display for the message-box tests (Xvfb could not be started)" >&2
    exit 1
  fi
fi
# Keep the Wine server up between the test programs, and start Wine's own
# services now, with their output away from ours: a service started by the
# first test program would inherit (and hold open) the test runner's pipes.
wineserver -p >/dev/null 2>&1 || true
if ! wine cmd.exe /c exit </dev/null >/dev/null 2>&1; then
    echo "error: Wine cannot start a program in $WINEPREFIX ($WINEARCH)" >&2
    wineserver -k >/dev/null 2>&1 || true
    exit 1
fi
wine_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" >/dev/null 2>&1 || true
}
