#!/usr/bin/env bash
# The package and the install of a built tree (scripts/test.sh runs it on
# its Release build): the Debian package's files, headers and dependency;
# the tree installed into a fresh prefix, its utility and kivses run against
# the installed simulated adapter; the utility built against the installed
# client library by path (KIV_NICI); a program built against the installed
# CMake package.
#   check_install.sh SRC BUILD
# The installed programs trace where the tree was configured to
# (KIV_TRACE_DIR): they run only when that is a folder inside the tree, as
# scripts/test.sh configures it, so that nothing reaches the system's trace
# directory (hiding that directory behind a mount would need a root that is
# a mount point, which a chroot's is not); otherwise one "skipped:" line says
# why. The KIV_NICI build traces into a temporary folder.
# A pipeline into grep lets grep read everything (no -q): grep -q would
# stop at the first match, and the writer's SIGPIPE would fail the pipeline.
set -euo pipefail
src=$1
build=$(cd "$2" && pwd)
tmp=$(mktemp -d)
trap '[ -n "${KIV_KEEP_TMP:-}" ] || rm -rf "$tmp"' EXIT
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)

echo "== package"
(cd "$build" && cpack -G DEB -B "$tmp/pkg" >/dev/null)
deb=$(ls "$tmp"/pkg/*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | sort > "$tmp/files"
for f in /usr/sbin/kivservicemode /usr/sbin/kivses /usr/bin/kivadapsim \
         /usr/lib/libkivdebug.a /usr/lib/libLL.a /usr/lib/libkivadapci.a /usr/lib/libkivses.a /usr/lib/libnicisim.so.1 \
         /usr/include/kiv/debug/kivdebug.h /usr/include/kiv/ll/LL.h /usr/include/kiv/adapci/kivadapci.h \
         /usr/include/kiv/ses/kivses.h /usr/include/kiv/adapci/nici.h \
         /usr/lib/cmake/kiv/kivConfig.cmake /usr/lib/cmake/kiv/kivTargets.cmake \
         /usr/share/man/man8/kivservicemode.8.gz /usr/share/man/man8/kivses.8.gz /usr/share/man/man1/kivadapsim.1.gz \
         /usr/share/bash-completion/completions/kivservicemode /usr/share/bash-completion/completions/kivses \
         /usr/share/bash-completion/completions/kivadapsim; do
  grep -qx "$f" "$tmp/files" || { echo "package lacks $f"; cat "$tmp/files"; exit 1; }
done
# Exactly the public headers, none of the simulator's, the fake's or the
# modules' internal ones.
grep '^/usr/include/.*\.h$' "$tmp/files" > "$tmp/headers"
cat > "$tmp/want" <<'HEADERS'
/usr/include/kiv/adapci/kivadapci.h
/usr/include/kiv/adapci/kivwire.h
/usr/include/kiv/adapci/nici.h
/usr/include/kiv/debug/kivcodes.h
/usr/include/kiv/debug/kivdebug.h
/usr/include/kiv/debug/kivdisposition.h
/usr/include/kiv/debug/kivdump.h
/usr/include/kiv/debug/kivhousekeeping.h
/usr/include/kiv/debug/kivtables.h
/usr/include/kiv/debug/kivtrace.h
/usr/include/kiv/ll/LL.h
/usr/include/kiv/ses/kivses.h
/usr/include/kiv/ses/kivsesblock.h
/usr/include/kiv/ses/kivsesdownloadpage.h
/usr/include/kiv/ses/kivsesstatuspage.h
HEADERS
diff -u "$tmp/want" "$tmp/headers" || { echo "package headers differ from the public ones"; exit 1; }
dpkg-deb -f "$deb" Depends | grep gzip >/dev/null || { echo "package does not depend on gzip"; exit 1; }

echo "== fresh prefix"
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
traces=$(sed -n 's/^KIV_TRACE_DIR:[A-Z]*=//p' "$build/CMakeCache.txt")
export KIVADAPSIM_STATE="$tmp/state"
"$tmp/prefix/bin/kivadapsim" reset >/dev/null
if [[ $traces == "$build"/?* && $traces != *..* ]]; then
  rm -rf "$traces"
  set +e
  err=$("$tmp/prefix/sbin/kivservicemode" -a A0 -p 1L -q 2>&1 >/dev/null)
  status=$?
  set -e
  [ "$err" = "Port 1 is not in Service Mode" ] || { echo "unexpected answer: $err"; exit 1; }
  [ $status -eq 0 ] || { echo "unexpected status $status"; exit 1; }
  [ -d "$traces" ] || { echo "the installed utility did not trace into $traces"; exit 1; }
  "$tmp/prefix/bin/kivadapsim" log | grep -x 'FN_ADAP_GetFCLoopMap port=1 rc=0' >/dev/null
  "$tmp/prefix/bin/kivadapsim" enclosure ENC1 status=0 >/dev/null
  out=$("$tmp/prefix/sbin/kivses" status ENC1)
  [ "$out" = "short enclosure status of ENC1: 0 (good)" ] || { echo "unexpected answer of kivses: $out"; exit 1; }
else
  echo "skipped: the installed programs' runs, as they would trace into $traces" \
    "(configure the tree with -DKIV_TRACE_DIR=$build/traces)"
fi

echo "== a client library linked by path (KIV_NICI)"
# The installed stand-in plays the part of a real client library: the
# utility built against it by path runs as before.
cmake -S "$src" -B "$tmp/build" "${gen[@]}" -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF -DKIV_TRACE_DIR="$tmp/traces" \
  -DKIV_NICI="$tmp/prefix/lib/libnicisim.so" >/dev/null
cmake --build "$tmp/build" -j"$(nproc)" --target kivservicemode >/dev/null
"$tmp/prefix/bin/kivadapsim" log clear >/dev/null
set +e
err=$("$tmp/build/servicemode/kivservicemode" -a A0 -p 2R -q 2>&1 >/dev/null)
set -e
[ "$err" = "Port 4 is not in Service Mode" ] || { echo "unexpected answer with KIV_NICI: $err"; exit 1; }
"$tmp/prefix/bin/kivadapsim" log | grep -x 'FN_ADAP_GetFCLoopMap port=4 rc=0' >/dev/null
ldd "$tmp/build/servicemode/kivservicemode" | grep -F "$tmp/prefix/lib/libnicisim.so" >/dev/null

echo "== find_package(kiv)"
cmake -S "$src/tests/install/consumer" -B "$tmp/consumer" "${gen[@]}" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
"$tmp/consumer/kivconsumer" | grep -x 'AE_LoopDown' >/dev/null
echo "install checks passed"
