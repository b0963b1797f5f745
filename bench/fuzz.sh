#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number
# of seconds (default 60), starting from a copy of its seed corpus.
#   bench/fuzz.sh [SECONDS] [TARGET...]
# New inputs stay in build/fuzz/work/<target>; findings (crash-*, leak-*,
# timeout-*) land in build/fuzz/findings/<target>. Exits nonzero on a finding.
# KIV_FUZZ_BUILD names another build folder.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build="${KIV_FUZZ_BUILD:-$top/build/fuzz}"
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)
CC=clang CXX=clang++ cmake -S "$top" -B "$build" "${gen[@]}" -DKIV_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$build"/tests/fuzz/fuzz_*; do [ -x "$f" ] && targets+=("$(basename "$f" | sed 's/^fuzz_//')"); done
fi
status=0
for t in "${targets[@]}"; do
  work="$build/work/$t"
  findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  cp -n "$top/tests/fuzz/corpus/$t"/* "$work"/ 2>/dev/null || true
  echo "== fuzz_$t for ${seconds}s"
  if ! "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$work" >"$build/fuzz_$t.log" 2>&1; then
    echo "fuzz_$t: finding, see $build/fuzz_$t.log and $findings"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$build/fuzz_$t.log" | tail -n 2 || true
done
exit $status
