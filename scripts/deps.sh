#!/usr/bin/env bash
# Sourced by run.sh, test.sh and bench/fuzz.sh: installs the Debian packages
# that the build, the tests and the README's later steps need when they are
# missing (without the packages they merely recommend), and runs long steps
# with their output kept in a log.

kiv_need_packages() {
  local missing=()
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  command -v gzip >/dev/null 2>&1 || missing+=(gzip)
  command -v groff >/dev/null 2>&1 || missing+=(groff-base)
  command -v man >/dev/null 2>&1 || missing+=(man-db)
  command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
  [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
  [ -f /usr/include/gmock/gmock.h ] || missing+=(libgmock-dev)
  [ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
  [ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
  # The README's own cmake lines use CMake's default generator (make), and
  # cpack's Debian packages need file.
  command -v make >/dev/null 2>&1 || missing+=(make)
  command -v file >/dev/null 2>&1 || missing+=(file)
  [ -f /usr/share/bash-completion/bash_completion ] || missing+=(bash-completion)
  command -v ansible-playbook >/dev/null 2>&1 || missing+=(ansible-core)
  [ ${#missing[@]} -eq 0 ] && return 0
  local byHand="apt-get update && apt-get install --no-install-recommends ${missing[*]}"
  if [ "$(id -u)" -ne 0 ] || ! command -v apt-get >/dev/null 2>&1; then
    echo "kiv: missing packages: ${missing[*]}; install them as root with: $byHand" >&2
    return 1
  fi
  echo "== packages: installing ${missing[*]} (a minute or two)"
  # Downloads and set-ups are shown as they happen; apt's errors go to
  # standard error unfiltered.
  local - status=0
  set -o pipefail
  {
    DEBIAN_FRONTEND=noninteractive apt-get update -q &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  } | grep --line-buffered -E '^(Get:|Setting up )' || status=${PIPESTATUS[0]}
  if [ "$status" -ne 0 ]; then
    echo "kiv: installing ${missing[*]} failed (apt-get exit status $status, its messages above);" \
      "run as root by hand: $byHand" >&2
    return 1
  fi
}

kiv_generator() {
  if command -v ninja >/dev/null 2>&1; then echo "-G Ninja"; fi
}

# kiv_logged LOG COMMAND...: runs COMMAND with its output kept in LOG. While
# it runs, a line shows the elapsed time and the step reached (the last text
# in LOG that matches KIV_STEP_PATTERN, by default a build step such as
# [12/80]): in place on a terminal, otherwise every 15 s, so no stretch is
# silent for long. When it fails, the log's path and its last
# KIV_TAIL_LINES lines (30). Returns COMMAND's status.
kiv_logged() {
  local log=$1
  shift
  mkdir -p "$(dirname "$log")"
  local start=$SECONDS shown=$SECONDS tty=0 step status=0
  [ -t 1 ] && tty=1
  "$@" >"$log" 2>&1 &
  local pid=$!
  # A command started in the background ignores Ctrl-C: stop it ourselves.
  trap 'kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; exit 130' INT TERM
  while kill -0 "$pid" 2>/dev/null; do
    sleep 0.25
    step=$(grep -oE "${KIV_STEP_PATTERN:-^\[ *[0-9]+(/[0-9]+|%)\]}" "$log" | tail -n 1 | tr -s ' ') || true
    if [ $tty -eq 1 ]; then
      printf '\r   %s %d s ' "$step" $((SECONDS - start))
    elif [ $((SECONDS - shown)) -ge 15 ]; then
      echo "   ... $step $((SECONDS - start)) s"
      shown=$SECONDS
    fi
  done
  wait "$pid" || status=$?
  trap - INT TERM
  [ $tty -eq 1 ] && printf '\r\033[K'
  if [ $status -ne 0 ]; then
    echo "   failed (status $status) after $((SECONDS - start)) s; its output: $log"
    tail -n "${KIV_TAIL_LINES:-30}" "$log" | kiv_cut 94 | sed 's/^/   | /'
  fi
  return $status
}

# kiv_cut N: each line of the input cut to its first N characters, never
# inside a multi-byte one (compilers quote in UTF-8), whatever the locale.
kiv_cut() (
  LC_ALL=C.UTF-8
  local line
  while IFS= read -r line || [ -n "$line" ]; do printf '%s\n' "${line:0:$1}"; done
)
