#!/usr/bin/env bash
# Tries a commit as a new user would on a fresh Debian 12: in a copy of a
# freshly bootstrapped bookworm chroot, as root, the README's steps: git
# installed and the repository cloned, then scripts/run.sh and
# scripts/test.sh, each timed. Not run by CI; needs root and Debian's
# package mirror.
#   scripts/fresh-debian-check.sh [COMMIT]     (default HEAD)
# The pristine chroot (KIV_PRISTINE, default /srv/deb12-pristine) is made
# with debootstrap --variant=minbase the first time and kept; each trial
# works in a copy (removed afterwards unless KIV_KEEP_CHROOT=1). The only
# thing done to the chroot besides the README's steps is what anyone using
# a chroot does: the host mounts /proc in it (the tests read /proc) and its
# own /dev/pts (without it apt cannot keep its terminal log); the rest of
# /dev keeps the device nodes debootstrap made. Logs go to KIV_TRIAL_OUT
# (default a new folder under /tmp).
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "fresh-debian-check: run as root (debootstrap, chroot, mount)" >&2; exit 1; }
top=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$top" rev-parse --verify "${1:-HEAD}^{commit}")
pristine=${KIV_PRISTINE:-/srv/deb12-pristine}
mirror=${KIV_MIRROR:-http://deb.debian.org/debian}
out=${KIV_TRIAL_OUT:-$(mktemp -d /tmp/kiv-fresh-debian.XXXXXX)}
mkdir -p "$out"

if [ ! -x "$pristine/usr/bin/apt-get" ]; then
  echo "== bootstrapping Debian 12 into $pristine (kept for later trials)"
  debootstrap --variant=minbase bookworm "$pristine" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { echo "debootstrap failed, see $out/debootstrap.log" >&2; exit 1; }
fi

root=$(mktemp -d /srv/deb12-trial.XXXXXX)
chmod 755 "$root"
cleanup() {
  umount "$root/dev/pts" 2>/dev/null || true
  umount "$root/proc" 2>/dev/null || true
  if [ -n "${KIV_KEEP_CHROOT:-}" ]; then echo "== chroot kept: $root"; else rm -rf --one-file-system "$root"; fi
}
trap cleanup EXIT
echo "== commit $commit in a copy of $pristine: $root; logs in $out"
cp -a "$pristine/." "$root/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount --bind /dev/pts "$root/dev/pts"

# "The address of this repository that you were given": a bare repository
# inside the chroot whose default branch is the commit.
git init -q --bare "$root/srv/kiv.git"
git -C "$top" push -q "$root/srv/kiv.git" "$commit:refs/heads/main"
git -C "$root/srv/kiv.git" symbolic-ref HEAD refs/heads/main

# step NAME COMMAND: runs COMMAND in the chroot in a root login shell (the
# environment of a fresh Debian's: no locale set), in /root, its output in
# $out/NAME.log; prints its wall time and status.
results=()
step() {
  local name=$1 command=$2 start=$SECONDS status=0
  echo "== $name: $command"
  env -i HOME=/root TERM=dumb /usr/sbin/chroot "$root" /bin/bash -lc "cd /root && $command" >"$out/$name.log" 2>&1 ||
    status=$?
  results+=("$name: status $status, $((SECONDS - start)) s")
  echo "   status $status after $((SECONDS - start)) s; last lines:"
  tail -n 8 "$out/$name.log" | sed 's/^/   | /'
  return "$status"
}
ok=0
step clone "apt-get update && apt-get install -y git && git clone /srv/kiv.git kiv" &&
  step run "cd kiv && scripts/run.sh" &&
  step test "cd kiv && scripts/test.sh" && ok=1
echo "== results (commit $commit)"
for r in "${results[@]}"; do echo "   $r"; done
[ $ok -eq 1 ]
