#!/usr/bin/env bash
# One run of a program (the utility, kivses) under memcheck against a fresh
# simulated adapter: the status it must end with, and no error and no leak.
#   check_valgrind.sh VALGRIND PROGRAM KIVADAPSIM STATUS "KIVADAPSIM WORDS" ARGS...
# The kivadapsim words (for instance "fault send always") stage the adapter
# before the run; give "" for none.
set -euo pipefail
valgrind=$1 utility=$2 sim=$3 expected=$4 stage=$5
shift 5
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export KIVADAPSIM_STATE="$tmp/state" KIV_TEST_TRACE_DIR="$tmp/traces"
mkdir "$tmp/traces"
"$sim" reset >/dev/null
if [ -n "$stage" ]; then
  read -ra words <<<"$stage"
  "$sim" "${words[@]}" >/dev/null
fi
status=0
"$valgrind" --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect \
  --errors-for-leak-kinds=definite,indirect --trace-children=no "$utility" "$@" 2>"$tmp/err" || status=$?
if [ "$status" -ne "$expected" ]; then
  echo "$(basename "$utility") $*: status $status, expected $expected"
  cat "$tmp/err"
  exit 1
fi
echo "memcheck run clean: $(basename "$utility") $*"
