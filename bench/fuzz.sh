#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number
# of seconds (default 60), starting from a copy of its seed corpus.
#   bench/fuzz.sh [SECONDS] [TARGET...]
# New inputs stay in build/fuzz/work/<target>; findings (crash-*, leak-*,
# timeout-*) land in build/fuzz/findings/<target>. One line per target;
# exits nonzero on a finding. KIV_FUZZ_BUILD names another build folder.
# Started with sh: run again under bash, which this script is written for.
[ -n "${BASH_VERSION:-}" ] || exec bash "$0" "$@"
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
seconds=${1:-60}
shift || true
build="${KIV_FUZZ_BUILD:-$top/build/fuzz}"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$top"/tests/fuzz/fuzz_*.cpp; do
    t=$(basename "$f" .cpp)
    [ "$t" = fuzz_replay_main ] || targets+=("${t#fuzz_}")
  done
fi
echo "   building ${#targets[@]} fuzz targets with clang in $build"
# shellcheck disable=SC2046
kiv_logged "$build/configure.log" env CC=clang CXX=clang++ cmake -S "$top" -B "$build" $(kiv_generator) \
  -DKIV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
kiv_logged "$build/build.log" cmake --build "$build" -j"$(nproc)" --target "${targets[@]/#/fuzz_}"
status=0
for t in "${targets[@]}"; do
  work="$build/work/$t"
  findings="$build/findings/$t"
  log="$build/fuzz_$t.log"
  mkdir -p "$work" "$findings"
  cp -n "$top/tests/fuzz/corpus/$t"/* "$work"/ 2>/dev/null || true
  if "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$work" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "fuzz_$t: no finding in ${seconds} s, ${runs:-?} inputs run"
  else
    echo "fuzz_$t: FINDING, see $log and $findings"
    status=1
  fi
done
exit $status
