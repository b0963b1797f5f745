#!/usr/bin/env bash
# Both manual pages render without a single warning.
set -euo pipefail
dir=$1
status=0
for page in "$dir/kivservicemode.8" "$dir/kivadapsim.1"; do
  out=$(groff -ww -man -z "$page" 2>&1) || status=1
  if [ -n "$out" ]; then echo "$page: $out"; status=1; fi
  if command -v man >/dev/null 2>&1; then
    out=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || status=1
    if [ -n "$out" ]; then echo "$page (man): $out"; status=1; fi
  fi
done
exit $status
