#!/usr/bin/env bash
# End-to-end benchmark: builds TAVUPD.EXE, its fault build and the benchmark
# programs for the test architecture the probe picks (scripts/probe.sh), then
# runs bench_e2e.exe under Wine in a throwaway prefix of its own (removed at
# the end), pinned to one processor. Arguments go to bench_e2e:
#
#   scripts/bench.sh                      the six workloads, 11 runs of each side
#   scripts/bench.sh -runs 5 -only files,ini -files 100
#   scripts/bench.sh -calls               platform calls per action instead
#
# BENCH_CPU=<n> pins the run to processor n (default 0); BENCH_CPU=all does
# not pin it. TAVUPD_TEST_ARCH=win32|win64 chooses the build as for the tests.
set -Eeuo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}
trap 'rc=$?; [[ $- == *e* ]] && echo "BENCHMARK FAILED (status $rc) at scripts/bench.sh line $LINENO: $BASH_COMMAND" >&2' ERR

# shellcheck source=scripts/probe.sh
source scripts/probe.sh
tavupd_choose_arch
if [ "$TAVUPD_TEST_ARCH" = win32 ]; then
  BUILD=build/win
  TOOLCHAIN=cmake/mingw-i686.cmake
else
  BUILD=build/win64
  TOOLCHAIN=cmake/mingw-x86_64.cmake
fi
echo "== $(tavupd_arch_line "$TAVUPD_TEST_ARCH")"
echo "== building $BUILD"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" >/dev/null
ninja -C "$BUILD" -j "$JOBS" tavupd tavupd_fault bench_e2e

WORK=$(mktemp -d /tmp/tavupd-bench.XXXXXX)
cleanup() {
  if declare -F wine_cleanup >/dev/null; then wine_cleanup; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
CPU=${BENCH_CPU:-0}
if [ "$CPU" != all ]; then
  # Everything started from here on (Wine server, driver, both programs)
  # shares this one processor.
  taskset -p -c "$CPU" $$ >/dev/null
  echo "== pinned to processor $CPU"
fi
echo "== Wine prefix of the benchmark: $WORK/prefix"
WINE_ROOT=$WORK
WINEPREFIX_OVERRIDE=$WORK/prefix
# shellcheck source=scripts/wineenv.sh
source scripts/wineenv.sh
wine "$BUILD/bench/bench_e2e.exe" "$@"
