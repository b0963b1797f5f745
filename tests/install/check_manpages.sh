#!/usr/bin/env bash
# The manual pages render as meant, checked on what man -l shows at 80
# columns: no warning from groff or man, no line wider than the page, the
# project's version in the footer, and for a page with an expected rendering
# beside this script (PAGE.txt) exactly that text, fonts marked B<bold> and
# I<italic>. --update rewrites the expected renderings after a meant change.
#   check_manpages.sh MANDIR VERSION [--update]
set -euo pipefail
mandir=$1
version=$2
here=$(cd "$(dirname "$0")" && pwd)
command -v man >/dev/null 2>&1 || { echo "man is not installed (as root: apt-get install man-db)"; exit 1; }
export LC_ALL=C.UTF-8 MANWIDTH=80
# man keeps the fonts as SGR sequences; each change of font becomes a mark.
fonts='my ($b, $i) = (0, 0);
  sub mark { my ($nb, $ni) = ($b, $i);
    for (shift =~ /(\d+)/g) { $nb = 1 if $_ == 1; $nb = 0 if $_ == 22 || $_ == 0;
                              $ni = 1 if $_ == 4; $ni = 0 if $_ == 24 || $_ == 0; }
    my $s = ($b || $i ? ">" : "") . ($nb && $ni ? "BI<" : $nb ? "B<" : $ni ? "I<" : "");
    ($b, $i) = ($nb, $ni); return $s; }
  s/((?:\e\[\d+m)+)/mark($1)/ge;'
status=0
for page in "$mandir"/*.[1-8]; do
  name=$(basename "$page")
  warnings=$(groff -ww -man -z "$page" 2>&1; man --warnings -l "$page" 2>&1 >/dev/null) || true
  [ -z "$warnings" ] || { echo "$name: $warnings"; status=1; }
  plain=$(man -l "$page" 2>/dev/null)
  wide=$(printf '%s\n' "$plain" | perl -CSD -ne 'print if length($_) > 81')
  [ -z "$wide" ] || { echo "$name: lines wider than $MANWIDTH columns:"; echo "$wide"; status=1; }
  footer=$(printf '%s\n' "$plain" | tail -n 1)
  [[ $footer == "kiv $version "* ]] || { echo "$name: the footer does not name kiv $version: $footer"; status=1; }
  expected="$here/$name.txt"
  rendered=$(MAN_KEEP_FORMATTING=1 GROFF_SGR=1 man -l "$page" 2>/dev/null | perl -CSD -pe "$fonts")
  if [ "${3:-}" = --update ]; then
    printf '%s\n' "$rendered" >"$expected"
  elif [ -f "$expected" ] && ! diff -u "$expected" - <<<"$rendered"; then
    echo "$name renders otherwise than $expected (after a meant change: $0 $mandir $version --update)"
    status=1
  fi
done
exit $status
