#!/usr/bin/env bash
# Builds kivservicemode and runs it against the simulated adapter, then shows
# the requests that this run sent.
#   scripts/run.sh                  query port 1L of adapter A0
#   scripts/run.sh -a A0 -p 2R -y   any command line of the utility
# Started with sh: run again under bash, which this script is written for.
[ -n "${BASH_VERSION:-}" ] || exec bash "$0" "$@"
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/deps.sh"
kiv_need_packages
build="$top/build/release"
sim="$build/nicisim/kivadapsim"

echo "== kivservicemode against the simulated adapter: no request reaches real hardware"
echo "== build: build/release (log: build/release/build.log; about 15 s on 2 cores the first time)"
# shellcheck disable=SC2046
kiv_logged "$build/configure.log" cmake -S "$top" -B "$build" $(kiv_generator) \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIV_BUILD_TESTS=OFF
kiv_logged "$build/build.log" cmake --build "$build" -j"$(nproc)"

state=$("$sim" show | sed -n 's/^state file: //p')
echo "== the simulated adapter's state lives in $state"
echo "   start over with: $sim reset"
logged=$("$sim" log | wc -l)
# The simulator keeps its last 10,000 requests; a log near that length
# could drop lines during the run and hide which ones are new.
if [ "$logged" -ge 9000 ]; then
  "$sim" log clear >/dev/null
  echo "   (its request log held $logged lines, near its limit; emptied it)"
  logged=0
fi

[ $# -gt 0 ] || set -- -a A0 -p 1L -q
echo "\$ kivservicemode $*"
status=0
"$build/servicemode/kivservicemode" "$@" || status=$?
echo "exit status: $status"
echo "== requests this run sent to the simulated adapter:"
sent=$("$sim" log | tail -n +$((logged + 1)))
if [ -n "$sent" ]; then
  printf '%s\n' "$sent" | sed 's/^/   /'
else
  echo "   none"
fi
exit "$status"
