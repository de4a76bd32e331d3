#!/usr/bin/env bash
# Sets up the machine, builds and runs every test: a Release build and its Debian package, an
# AddressSanitizer+UBSan build, a ThreadSanitizer build of the threaded layers, and a short run of
# every fuzz harness.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT

# Runs ctest with the given arguments and keeps its pass/fail counts for the closing line.
run_ctest() {
  ctest --output-on-failure -j "$jobs" "$@" | tee -a "$summary"
}

echo "== Release"
bash scripts/build.sh build -DCMAKE_BUILD_TYPE=Release
run_ctest --test-dir build

echo "== Debian package"
# The release build's package, kept in build/ (its contents are checked by the install tests above).
(cd build && cpack -G DEB >/dev/null && ls -1 ./*.deb)

echo "== AddressSanitizer + UBSan"
bash scripts/build.sh build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_SANITIZE=address
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp \
  run_ctest --test-dir build-asan -LE 'tsan-only'

echo "== ThreadSanitizer (threaded layers)"
tsan_targets=()
for folder in common platform net engine; do
  if [ -n "$(ls tests/$folder/*.cpp 2>/dev/null)" ]; then tsan_targets+=("test_$folder"); fi
done
bash scripts/build.sh build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_SANITIZE=thread -DZV_GUI=OFF -- "${tsan_targets[@]}"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  run_ctest --test-dir build-tsan -L 'common|platform|net|engine'

if [ -n "$(ls fuzz/*.cpp 2>/dev/null)" ]; then
  echo "== Fuzz harnesses (short runs)"
  bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
fi

# One closing line over every ctest run above (each run already failed the script on a failure).
total=$(grep -Eo 'tests failed out of [0-9]+' "$summary" | awk '{s+=$5} END {print s+0}')
failed=$(grep -Eo '[0-9]+ tests failed out of' "$summary" | awk '{s+=$1} END {print s+0}')
echo "$((total - failed)) passed, $failed failed"
