#!/usr/bin/env bash
# Builds everything and runs every test in two variants: optimised with
# warnings as errors (so warnings that only optimisation finds fail too),
# then with AddressSanitizer and UndefinedBehaviorSanitizer; after the
# first, checks the Debian package and the install. Where clang is
# installed, the second variant is built with it (it compiles in half the
# time, and a second compiler's warnings count too) and each fuzz target
# then runs for a few seconds. Ends with a
# summary whose last line is "N passed, N failed"; the exit status is 0 only
# when nothing failed.
# Started with sh: run again under bash, which this script is written for.
[ -n "${BASH_VERSION:-}" ] || exec bash "$0" "$@"
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
kiv_need_packages
jobs=$(nproc)
passed=0
failed=0
summary=()

# build_variant NAME DESCRIPTION CMAKE-FLAGS...: configures and builds
# build/test-NAME; on failure counts one failure and returns nonzero.
build_variant() {
  local name=$1 what=$2
  shift 2
  local build="$top/build/test-$name" rel="build/test-$name" start=$SECONDS fresh=()
  echo "== $name: build ($what), log $rel/build.log"
  # A changed compiler (clang installed since the last run) makes CMake drop
  # its cache and with it every other flag of the same line, the sanitizers
  # included: a variant whose flags changed starts from a fresh cache.
  [ "$(cat "$build/kiv-flags" 2>/dev/null)" = "$*" ] || fresh=(--fresh)
  # shellcheck disable=SC2046
  if ! kiv_logged "$build/configure.log" cmake "${fresh[@]}" -S "$top" -B "$build" $(kiv_generator) "$@" ||
     ! printf '%s' "$*" >"$build/kiv-flags" ||
     ! kiv_logged "$build/build.log" cmake --build "$build" -j"$jobs"; then
    failed=$((failed + 1))
    summary+=("$name: the build failed, no test ran (see $rel/build.log)")
    return 1
  fi
  echo "   built in $((SECONDS - start)) s"
}

# test_variant NAME DESCRIPTION: runs the tests of build/test-NAME and adds
# their counts to the summary.
test_variant() {
  local name=$1 what=$2
  local build="$top/build/test-$name" rel="build/test-$name" start=$SECONDS
  echo "== $name: tests, log $rel/ctest.log"
  KIV_STEP_PATTERN='^ *[0-9]+/[0-9]+ Test' KIV_TAIL_LINES=0 kiv_logged "$build/ctest.log" \
    ctest --test-dir "$build" -j"$jobs" --output-on-failure --timeout 300 || true
  # ctest's rows are as wide as its longest test name: show only the result
  # and the name, cut to fit 100 columns, of each test that did not pass.
  grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$build/ctest.log" | grep -v ' Passed ' |
    sed -E 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) [ .]*(.*)$/\2 \1/' | tr -s ' ' | kiv_cut 96 |
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
  local memcheck rows runs clean
  rows=$(grep -E 'Test +#[0-9]+: memcheck_' "$build/ctest.log") || true
  runs=$(grep -c . <<<"$rows") || true
  clean=$(grep -c ' Passed ' <<<"$rows") || true
  if [ -n "$rows" ] && [ "$clean" -eq "$runs" ]; then
    memcheck="memcheck: $runs runs, clean"
  elif [ -n "$rows" ]; then
    memcheck="memcheck: $((runs - clean)) of $runs runs FAILED"
  elif [ "$name" = sanitize ]; then
    memcheck="memcheck: not applicable, valgrind cannot run programs built with the sanitizers"
  else
    memcheck="memcheck skipped: valgrind is not installed (apt-get install valgrind)"
  fi
  summary+=("$name ($what): $((total - bad)) of $total tests passed" "  $memcheck")
}

have_clang=0
command -v clang++ >/dev/null 2>&1 && have_clang=1
werror="g++, Release, warnings as errors"
werror_built=0
# Its installed utility, run by the install check, traces into the tree.
build_variant werror "$werror" -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release \
  -DKIV_WERROR=ON -DKIV_TRACE_DIR="$top/build/test-werror/traces" && werror_built=1

# The fuzz targets are built and run in the background, on the core that
# the tests leave idle; their lines come at the end.
fuzz_seconds=2
fuzzlog="$top/build/fuzz/test-run.log"
fuzz_pid=
if [ $have_clang -eq 1 ]; then
  echo "== fuzz: building the fuzz targets with clang, then each runs ${fuzz_seconds} s; in the background"
  mkdir -p "$top/build/fuzz"
  setsid bash "$top/bench/fuzz.sh" "$fuzz_seconds" >"$fuzzlog" 2>&1 </dev/null &
  fuzz_pid=$!
  trap 'kill -- -"$fuzz_pid" 2>/dev/null || true' EXIT
fi
[ $werror_built -eq 0 ] || test_variant werror "$werror"

# The package and the install take longer than a test may: a step of their
# own, on the Release build.
if [ $werror_built -eq 1 ]; then
  echo "== install: package, fresh prefix, KIV_NICI, find_package; log build/test-werror/install.log"
  start=$SECONDS
  if kiv_logged "$top/build/test-werror/install.log" "$top/tests/install/check_install.sh" "$top" "$top/build/test-werror"
  then
    passed=$((passed + 1))
    summary+=("install: the package, a fresh prefix, KIV_NICI by path and find_package(kiv) checked")
    while IFS= read -r line; do summary+=("  $line"); done < <(grep '^skipped: ' "$top/build/test-werror/install.log")
  else
    failed=$((failed + 1))
    summary+=("install: FAILED (see build/test-werror/install.log)")
  fi
  echo "   in $((SECONDS - start)) s"
fi
[ $werror_built -eq 0 ] || . "$top/tests/ansible/step.sh"

# The benchmarks are checked once, in the first variant.
# The sanitizers' reports need line numbers only, and full debug
# information would cost a sixth of the build.
flags=(-DCMAKE_BUILD_TYPE=Debug -DKIV_WERROR=ON -DKIV_SANITIZE=ON -DKIV_BUILD_BENCH=OFF)
if [ $have_clang -eq 1 ]; then
  sanitize="clang, Debug, ASan and UBSan"
  flags+=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
          -DCMAKE_C_FLAGS_DEBUG=-gline-tables-only -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only)
else
  sanitize="g++, Debug, ASan and UBSan"
  flags+=(-DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1)
fi
build_variant sanitize "$sanitize" "${flags[@]}" && test_variant sanitize "$sanitize"

if [ -z "$fuzz_pid" ]; then
  summary+=("fuzz: skipped, clang is not installed (as root: apt-get install clang)")
else
  echo "== fuzz: (bench/fuzz.sh; longer runs: bench/fuzz.sh 60)"
  waited=$SECONDS
  while kill -0 "$fuzz_pid" 2>/dev/null; do
    sleep 0.25
    if [ $((SECONDS - waited)) -ge 15 ]; then
      echo "   ... still fuzzing: $(tail -n 1 "$fuzzlog" | kiv_cut 70)"
      waited=$SECONDS
    fi
  done
  wait "$fuzz_pid" || true
  trap - EXIT
  sed 's/^/   /' "$fuzzlog"
  ran=$(grep -c '^fuzz_.*: no finding' "$fuzzlog") || true
  targets=$(find "$top/tests/fuzz" -maxdepth 1 -name 'fuzz_*.cpp' ! -name fuzz_replay_main.cpp | wc -l)
  passed=$((passed + ran))
  failed=$((failed + targets - ran))
  summary+=("fuzz: $ran of $targets targets ran ${fuzz_seconds} s each without a finding (log: build/fuzz/test-run.log)")
fi

echo "== summary"
for line in "${summary[@]}"; do echo "   $line"; done
echo "   total time: $((SECONDS / 60)) min $((SECONDS % 60)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
