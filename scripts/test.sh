#!/usr/bin/env bash
# Builds everything and runs every test in two variants: optimised with
# warnings as errors (so warnings that only optimisation finds fail too),
# then with AddressSanitizer and UndefinedBehaviorSanitizer. Where clang is
# installed, the second variant is built with it (it compiles in half the
# time, and a second compiler's warnings count too) and each fuzz target
# then runs for a few seconds. Ends with a
# summary whose last line is "N passed, N failed"; the exit status is 0 only
# when nothing failed.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
kiv_need_packages
jobs=$(nproc)
passed=0
failed=0
summary=()

# run_variant NAME DESCRIPTION CMAKE-FLAGS...
run_variant() {
  local name=$1 what=$2
  shift 2
  local build="$top/build/test-$name" rel="build/test-$name" start=$SECONDS
  echo "== $name: build ($what) in $rel, log $rel/build.log"
  # shellcheck disable=SC2046
  if ! kiv_logged "$build/configure.log" cmake -S "$top" -B "$build" $(kiv_generator) "$@" ||
     ! kiv_logged "$build/build.log" cmake --build "$build" -j"$jobs"; then
    failed=$((failed + 1))
    summary+=("$name: the build failed, no test ran (see $rel/build.log)")
    return
  fi
  echo "   built in $((SECONDS - start)) s"
  echo "== $name: tests, log $rel/ctest.log"
  start=$SECONDS
  KIV_STEP_PATTERN='^ *[0-9]+/[0-9]+ Test' KIV_TAIL_LINES=0 kiv_logged "$build/ctest.log" \
    ctest --test-dir "$build" -j"$jobs" --output-on-failure --timeout 300 || true
  # ctest's rows are as wide as its longest test name: show only the result
  # and the name, cut to fit 100 columns, of each test that did not pass.
  grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$build/ctest.log" | grep -v ' Passed ' |
    sed -E 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) [ .]*(.*)$/\2 \1/' | tr -s ' ' | cut -c1-96 |
    sed 's/^/   /' || true
  local line total=0 bad=0
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$build/ctest.log" | tail -n 1) || true
  if [[ $line =~ ([0-9]+)\ tests?\ failed\ out\ of\ ([0-9]+) ]]; then
    bad=${BASH_REMATCH[1]}
    total=${BASH_REMATCH[2]}
  else
    bad=1
    line="ctest did not finish (see $rel/ctest.log)"
  fi
  echo "   $line, in $((SECONDS - start)) s"
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  local memcheck
  if [ "$name" = sanitize ]; then
    memcheck="memcheck skipped: valgrind cannot run programs built with the sanitizers"
  elif ! command -v valgrind >/dev/null 2>&1; then
    memcheck="memcheck skipped: valgrind is not installed (as root: apt-get install valgrind)"
  elif grep -qE 'Test +#[0-9]+: valgrind_memcheck_runs \.+ +Passed' "$build/ctest.log"; then
    memcheck="memcheck run, clean"
  else
    memcheck="memcheck run, FAILED"
  fi
  summary+=("$name ($what): $((total - bad)) of $total tests passed; $memcheck")
}

have_clang=0
command -v clang++ >/dev/null 2>&1 && have_clang=1
run_variant werror "g++, Release, warnings as errors" -DCMAKE_BUILD_TYPE=Release -DKIV_WERROR=ON
# The package and the benchmarks are checked once, in the first variant.
sanitize=(-DCMAKE_BUILD_TYPE=Debug -DKIV_WERROR=ON -DKIV_SANITIZE=ON -DKIV_TEST_PACKAGING=OFF -DKIV_BUILD_BENCH=OFF)
if [ $have_clang -eq 1 ]; then
  CC=clang CXX=clang++ run_variant sanitize "clang, Debug, ASan and UBSan" "${sanitize[@]}"
else
  run_variant sanitize "g++, Debug, ASan and UBSan" "${sanitize[@]}"
fi

fuzz_seconds=2
if [ $have_clang -eq 0 ]; then
  summary+=("fuzz: skipped, clang is not installed (as root: apt-get install clang)")
else
  echo "== fuzz: each target for ${fuzz_seconds} s (bench/fuzz.sh; longer runs: bench/fuzz.sh 60)"
  fuzzlog="$top/build/fuzz/test-run.log"
  mkdir -p "$top/build/fuzz"
  fuzz_status=0
  bash "$top/bench/fuzz.sh" "$fuzz_seconds" | tee "$fuzzlog" || fuzz_status=$?
  ran=$(grep -c '^fuzz_.*: no finding' "$fuzzlog") || true
  found=$(grep -c '^fuzz_.*: FINDING' "$fuzzlog") || true
  if [ "$fuzz_status" -ne 0 ] && [ "$found" -eq 0 ]; then found=1; fi
  passed=$((passed + ran))
  failed=$((failed + found))
  summary+=("fuzz: $ran targets ran ${fuzz_seconds} s each without a finding, $found with a finding or not run")
fi

echo "== summary"
for line in "${summary[@]}"; do echo "   $line"; done
echo "   total time: $((SECONDS / 60)) min $((SECONDS % 60)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
