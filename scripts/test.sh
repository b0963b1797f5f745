#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test, then builds
# again with AddressSanitizer and UndefinedBehaviorSanitizer and runs every
# test again.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
kiv_need_packages
jobs=$(nproc)
for variant in werror sanitize; do
  build="$top/build/test-$variant"
  flags=(-DKIV_WERROR=ON -DCMAKE_BUILD_TYPE=Debug)
  # The package is checked once, from the plain build.
  [ "$variant" = sanitize ] && flags+=(-DKIV_SANITIZE=ON -DKIV_TEST_PACKAGING=OFF)
  echo "== build ($variant)"
  # shellcheck disable=SC2046
  cmake -S "$top" -B "$build" $(kiv_generator) "${flags[@]}" >/dev/null
  cmake --build "$build" -j"$jobs"
  echo "== tests ($variant)"
  (cd "$build" && ctest -j"$jobs" --output-on-failure --timeout 600)
done

# Where clang is present, each fuzz target also runs for a few seconds.
if command -v clang++ >/dev/null 2>&1; then
  echo "== fuzz (a few seconds per target)"
  bash "$top/bench/fuzz.sh" 5
fi
