#!/usr/bin/env bash
# The scripts a new user starts: started with sh they run again under bash
# with their arguments unchanged, and the log lines they show are cut on
# character boundaries whatever the locale.
#   check_scripts.sh SRC
set -euo pipefail
src=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
status=0

# script: each is started with sh; a bash of our own records how it was
# called instead of running it.
if [ -n "$(/bin/sh -c 'echo "${BASH_VERSION:-}"')" ]; then
  echo "/bin/sh is bash here: nothing to re-run"
else
  mkdir "$tmp/bin"
  printf '#!/bin/sh\nprintf "%%s\\n" "$@" > "%s/called"\n' "$tmp" > "$tmp/bin/bash"
  chmod +x "$tmp/bin/bash"
  for script in scripts/run.sh scripts/test.sh bench/fuzz.sh; do
    rm -f "$tmp/called"
    (cd "$src" && PATH="$tmp/bin:$PATH" /bin/sh "$script" -a A0 -p "2R with space") >"$tmp/out" 2>&1 || true
    want=$(printf '%s\n' "$script" -a A0 -p "2R with space")
    if [ "$(cat "$tmp/called" 2>/dev/null)" != "$want" ]; then
      echo "sh $script did not run again under bash with its arguments:"; cat "$tmp/out"; status=1
    fi
  done
fi

# input|width|expected: the cut is made after WIDTH characters.
. "$src/scripts/deps.sh"
while IFS='|' read -r input width want; do
  got=$(printf '%s\n' "$input" | LC_ALL=C kiv_cut "$width")
  [ "$got" = "$want" ] || { echo "kiv_cut $width '$input': '$got', want '$want'"; status=1; }
done <<'ROWS'
abcdef|3|abc
ab‘cd’|3|ab‘
‘’‘’|2|‘’
error: ‘x’ was not declared|9|error: ‘x
short|94|short
||
ROWS
# A last line without a newline is kept.
[ "$(printf 'ab\ncd' | kiv_cut 1)" = "$(printf 'a\nc')" ] || { echo "kiv_cut lost a last line without newline"; status=1; }
exit $status
