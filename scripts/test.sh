#!/usr/bin/env bash
# Every test: the release build's unit, simulation and process tests, then the same tests built
# with AddressSanitizer and UndefinedBehaviorSanitizer, then a short run of each fuzz target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/scripts/build.sh" "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

"$root/scripts/build.sh" "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DWRISTSIDE_SANITIZE=ON
# The sanitizers make the simulations about twenty times slower: 100 seeds each there, other
# seeds than the release run's, so that the two runs between them see more. The screen tests run
# offscreen (they set it themselves); the QML engine's own heap hides references from the leak
# checker, hence its suppressions.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  LSAN_OPTIONS=suppressions="$root/tests/ui/lsan.supp" \
  WRISTSIDE_SIM_SEEDS=100 WRISTSIDE_SIM_FIRST_SEED=5001 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs" -L 'unit|sim|ui'

# The fuzz targets, built with clang and run briefly each on their seeds, so that they cannot rot.
"$root/scripts/fuzz.sh"
