#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test:
#  - the platform-free modules natively with AddressSanitizer and
#    UndefinedBehaviorSanitizer (and their fuzz targets for a fixed number of runs),
#  - the Windows programs cross-built, with unit and end-to-end tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}

scripts/deps.sh

echo "== native build (sanitizers)"
cmake -S . -B build/native -G Ninja -DTAVUPD_NATIVE=ON -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
ninja -C build/native -j "$JOBS"
(cd build/native && ctest --output-on-failure -j "$JOBS")

echo "== Windows build"
cmake -S . -B build/win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
ninja -C build/win -j "$JOBS"

WINE_ROOT=$ROOT/build/win
source scripts/wineenv.sh
trap wine_cleanup EXIT
(cd build/win && ctest --output-on-failure -j "$JOBS")
