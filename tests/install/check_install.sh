#!/usr/bin/env bash
# Builds the Debian package and checks its file list, then installs a fresh
# build into a temporary prefix and runs the installed utility against the
# simulated adapter, and builds a program against the installed CMake
# package. The fresh build traces into the temporary folder, never into
# the system's trace directory.
set -euo pipefail
src=$1
build=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
gen=()
command -v ninja >/dev/null 2>&1 && gen=(-G Ninja)

echo "== package"
(cd "$build" && cpack -G DEB -B "$tmp/pkg" >/dev/null)
deb=$(ls "$tmp"/pkg/*.deb)
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | sort > "$tmp/files"
for f in /usr/sbin/kivservicemode /usr/bin/kivadapsim \
         /usr/lib/libkivdebug.a /usr/lib/libLL.a /usr/lib/libkivadapci.a /usr/lib/libkivses.a /usr/lib/libnici.a \
         /usr/include/kiv/debug/kivdebug.h /usr/include/kiv/ll/LL.h /usr/include/kiv/adapci/kivadapci.h \
         /usr/include/kiv/ses/kivses.h /usr/include/kiv/nici/nici.h \
         /usr/lib/cmake/kiv/kivConfig.cmake /usr/lib/cmake/kiv/kivTargets.cmake \
         /usr/share/man/man8/kivservicemode.8.gz /usr/share/man/man1/kivadapsim.1.gz; do
  grep -qx "$f" "$tmp/files" || { echo "package lacks $f"; cat "$tmp/files"; exit 1; }
done
if grep -E 'nicifake|nicisim|_internal' "$tmp/files"; then echo "package carries internal headers"; exit 1; fi
dpkg-deb -f "$deb" Depends | grep -q gzip

echo "== fresh install"
cmake -S "$src" -B "$tmp/build" "${gen[@]}" -DKIV_BUILD_TESTS=OFF -DKIV_BUILD_BENCH=OFF \
  -DKIV_TRACE_DIR="$tmp/traces" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$tmp/build" -j2 >/dev/null
cmake --install "$tmp/build" --prefix "$tmp/prefix" >/dev/null
export KIVADAPSIM_STATE="$tmp/state"
"$tmp/prefix/bin/kivadapsim" reset
set +e
err=$("$tmp/prefix/sbin/kivservicemode" -a A0 -p 1L -q 2>&1 >/dev/null)
status=$?
set -e
[ "$err" = "Port 1 is not in Service Mode" ] || { echo "unexpected answer: $err"; exit 1; }
[ $status -eq 0 ] || { echo "unexpected status $status"; exit 1; }
"$tmp/prefix/bin/kivadapsim" log | grep -q '^FN_ADAP_GetFCLoopMap port=1 rc=0$'

echo "== find_package(kiv)"
cmake -S "$src/tests/install/consumer" -B "$tmp/consumer" "${gen[@]}" -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/consumer" >/dev/null
"$tmp/consumer/kivconsumer" | grep -qx 'AE_LoopDown'
echo "install checks passed"
