#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#  - the platform-free modules natively with AddressSanitizer and
#    UndefinedBehaviorSanitizer (and their fuzz targets for a fixed number of runs),
#  - the programs that ship (always): 32-bit, linked against CRTDLL.DLL, in
#    build/ship, with the release kit and the import check of both programs
#    as built and as packed in the kit (no Wine needed),
#  - the unit and end-to-end tests under Wine, on the test architecture the
#    probe picks (scripts/probe.sh): the shipped 32-bit programs where this
#    host can run them (the tests themselves are built in build/win), else
#    the 64-bit build of the same sources under 64-bit Wine.
#    TAVUPD_TEST_ARCH=win32|win64 chooses the route.
set -Eeuo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}
# Never a bare status: a step that fails says which.
trap 'rc=$?; [[ $- == *e* ]] && echo "TESTS FAILED (status $rc) at scripts/test.sh line $LINENO: $BASH_COMMAND" >&2' ERR

scripts/deps.sh

# shellcheck source=scripts/probe.sh
source scripts/probe.sh
tavupd_choose_arch
ROUTE=$(tavupd_arch_line "$TAVUPD_TEST_ARCH")
echo "== $ROUTE"

echo "== native build (sanitizers)"
cmake -S . -B build/native -G Ninja -DTAVUPD_NATIVE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
ninja -C build/native -j "$JOBS"
(cd build/native && ctest --output-on-failure -j "$JOBS")

echo "== the programs that ship: 32-bit, CRTDLL.DLL (build/ship); release kit; import check"
cmake -S . -B build/ship -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686-ship.cmake >/dev/null
ninja -C build/ship -j "$JOBS"
(cd build/ship && ctest --output-on-failure)

if [ "$TAVUPD_TEST_ARCH" = win32 ]; then
  echo "== Windows tests, 32-bit (build/win), run on the programs of build/ship"
  cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
    -DTAVUPD_SHIPPED_DIR="$ROOT/build/ship" >/dev/null
  ninja -C build/win -j "$JOBS"
  TEST_BUILD=build/win
else
  echo "== Windows build, 64-bit (the same sources, for the tests under 64-bit Wine)"
  cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
  ninja -C build/win64 -j "$JOBS"
  TEST_BUILD=build/win64
fi

echo "== tests under Wine ($TAVUPD_TEST_ARCH)"
WINE_ROOT=$ROOT/$TEST_BUILD
# shellcheck source=scripts/wineenv.sh
source scripts/wineenv.sh
trap wine_cleanup EXIT
# Wine on a loaded host now and then fails to bring up a process (a test
# program, or one the program under test starts). A test program that fails
# is run once more; one that fails twice fails the run.
(cd "$TEST_BUILD" && ctest --output-on-failure -j "$JOBS" --repeat until-pass:2)
echo "== every test passed; $ROUTE"
