#!/usr/bin/env bash
# The utility under memcheck for a query, an enable and a failed run: no
# error and no leak in any of them.
set -euo pipefail
valgrind=$1
utility=$2
sim=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export KIVADAPSIM_STATE="$tmp/state" KIV_TEST_TRACE_DIR="$tmp/traces"
mkdir "$tmp/traces"
"$sim" reset
run() {
  local expected=$1
  shift
  local status=0
  "$valgrind" --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
    --errors-for-leak-kinds=definite,indirect --trace-children=no \
    "$utility" "$@" 2>"$tmp/err" || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "kivservicemode $*: status $status, expected $expected"
    cat "$tmp/err"
    exit 1
  fi
}
run 0 -a A0 -p 1L -q
run 0 -a A0 -p 1L -y
"$sim" fault send always >/dev/null
run 47 -a A0 -p 1R -q
echo "memcheck runs clean"
