#!/usr/bin/env bash
# The bash completions as bash-completion finds them: each command's file
# loaded on demand in a fresh bash from a completions folder, then Tab at
# the end of each line of the table below; and the page short names that
# kivses completes are those its --help lists.
#   check_completion.sh COMPLETIONDIR KIVSES
set -euo pipefail
dir=$(cd "$1" && pwd)
kivses=$2
main=/usr/share/bash-completion/bash_completion
[ -f "$main" ] || { echo "bash-completion is not installed (as root: apt-get install bash-completion)"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/share/bash-completion" "$tmp/home/traces"
touch "$tmp/home/v2 image.bin"
ln -s "$dir" "$tmp/share/bash-completion/completions"

# What Tab at the end of LINE offers, sorted, on one line.
offers() {
  env -i HOME="$tmp/home" PATH=/usr/bin:/bin LC_ALL=C XDG_DATA_DIRS="$tmp/share" bash --norc --noprofile -c '
    . "$1"
    cd "$HOME"
    line=$2 cmd=${2%% *}
    __load_completion "$cmd" || { echo "no completion found for $cmd"; exit 1; }
    registered=$(complete -p "$cmd") fn=${registered#*-F }
    # The words as readline splits them: at blanks, and "=" on its own.
    read -ra COMP_WORDS <<<"${line//=/ = }"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_LINE=$line COMP_POINT=${#line} COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    "${fn%% *}" "$cmd" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd " "' bash "$main" "$1"
}

status=0
while IFS='|' read -r line want; do
  got=$(offers "$line")
  [ "$got" = "$want" ] || { echo "'$line': offers '$got', not '$want'"; status=1; }
done <<'ROWS'
kivses |fwload list read status string write
kivses read ENC1 s|sdp ses sht snic ssp sstr str
kivses read ENC1 ses --r|--raw
kivses fwload ENC1 5 --d|--dry-run
kivses fwload ENC1 5 v|v2 image.bin
kivses list ENC1 --d|
kivses --trace-dir tr|traces
kivses write ENC1 --data @tr|@traces
kivservicemode -p |1L 1R 2L 2R
kivservicemode -|--help --json --version -a -n -p -q -y
kivadapsim |--help --version enclosure fault firmware help log port reset show
kivadapsim port 1L mo|mode=
kivadapsim port 1L mode=|off on
kivadapsim port 2R loop=d|down
kivadapsim fault s|send send-answered short
kivadapsim fault directive executed=|no yes
kivadapsim enclosure ENC1 |busy= status= stringin=
ROWS

names=$("$kivses" --help | sed -n 's/^PAGE: .*one of: //p' | tr ' ' '\n' | sort | paste -sd " ")
got=$(offers "kivses read ENC1 ")
[ -n "$names" ] && [ "$got" = "$names" ] || { echo "kivses completes pages '$got', its --help lists '$names'"; status=1; }
exit $status
