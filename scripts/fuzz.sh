#!/usr/bin/env bash
# Builds the fuzz targets of the platform-free modules natively (clang with
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) and runs each
# for a while, starting from its seed corpus in tests/fuzz/corpus/.
#
#   scripts/fuzz.sh [seconds] [target...]
#
# seconds: time per target (default 60). Targets: fuzz_paths, fuzz_fields,
# ... (default: every fuzz_*.cpp). New inputs go to build/fuzz/found/<target>,
# crashing inputs to build/fuzz/<target>-crash-*; the seed corpus is left as
# it is. Extra libFuzzer options can be passed in FUZZ_FLAGS.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
SECONDS_EACH=${1:-60}
shift || true
BUILD=${FUZZ_BUILD_DIR:-$ROOT/build/fuzz}

cmake -S . -B "$BUILD" -G Ninja -DTAVUPD_NATIVE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null

if [ $# -gt 0 ]; then
  TARGETS=("$@")
else
  TARGETS=()
  for f in tests/fuzz/fuzz_*.cpp; do TARGETS+=("$(basename "$f" .cpp)"); done
fi
ninja -C "$BUILD" "${TARGETS[@]}"

status=0
for t in "${TARGETS[@]}"; do
  found=$BUILD/found/$t
  mkdir -p "$found"
  dirs=("$found")
  [ -d "tests/fuzz/corpus/$t" ] && dirs+=("tests/fuzz/corpus/$t")
  echo "== $t (${SECONDS_EACH}s)"
  # shellcheck disable=SC2086
  if "$BUILD/tests/fuzz/$t" -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
       -artifact_prefix="$BUILD/$t-" ${FUZZ_FLAGS:-} "${dirs[@]}" >"$BUILD/$t.log" 2>&1; then
    grep -E '^Done|stat::number_of_executed_units' "$BUILD/$t.log" | tail -2
  else
    echo "!! $t failed, see $BUILD/$t.log"
    tail -30 "$BUILD/$t.log"
    status=1
  fi
done
exit $status
