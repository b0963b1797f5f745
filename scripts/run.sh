#!/usr/bin/env bash
# Builds kivservicemode and runs it against the simulated adapter.
#   scripts/run.sh                  query port 1L of adapter A0
#   scripts/run.sh -a A0 -p 2R -y   any command line of the utility
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
kiv_need_packages
build="$top/build/release"
# shellcheck disable=SC2046
cmake -S "$top" -B "$build" $(kiv_generator) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
[ $# -gt 0 ] || set -- -a A0 -p 1L -q
echo "\$ kivservicemode $*"
status=0
"$build/servicemode/kivservicemode" "$@" || status=$?
echo "exit status: $status"
if [ -x "$build/nicisim/kivadapsim" ]; then
  echo "\$ kivadapsim log"
  "$build/nicisim/kivadapsim" log | tail -n 8
fi
exit "$status"
