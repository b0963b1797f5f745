#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
# Sourced by run.sh and test.sh.
kiv_need_packages() {
  local missing=()
  command -v cmake >/dev/null 2>&1 || missing+=(cmake)
  command -v g++ >/dev/null 2>&1 || missing+=(g++)
  command -v gzip >/dev/null 2>&1 || missing+=(gzip)
  command -v groff >/dev/null 2>&1 || missing+=(groff-base)
  command -v ninja >/dev/null 2>&1 || missing+=(ninja-build)
  [ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
  [ -f /usr/include/gmock/gmock.h ] || missing+=(libgmock-dev)
  [ -f /usr/include/benchmark/benchmark.h ] || missing+=(libbenchmark-dev)
  for extra in "$@"; do
    dpkg -s "$extra" >/dev/null 2>&1 || missing+=("$extra")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing: ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    return 1
  fi
}

kiv_generator() {
  if command -v ninja >/dev/null 2>&1; then echo "-G Ninja"; fi
}
