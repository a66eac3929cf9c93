#!/usr/bin/env bash
# Makes the Debian package into a scratch folder and checks it: dependencies derived from the
# binary (shlibdeps), the files a user's system needs, and maintainer scripts that do nothing
# where udev does not run.
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp" >"$tmp/cpack.log" 2>&1 \
  || { cat "$tmp/cpack.log"; fail "cpack -G DEB failed"; }
deb=$(ls "$tmp"/ms42k_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "cpack made no ms42k_*.deb"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6widgets6 libqt6charts6 libhidapi-hidraw0 libudev1; do
  grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib (shlibdeps): $depends"
done
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/ms42k ./usr/share/applications/ms42k.desktop ./usr/share/icons/hicolor/scalable/apps/ms42k.svg \
         ./usr/lib/udev/rules.d/70-ms42k-cable.rules ./usr/share/man/man1/ms42k.1 ./usr/share/ms42k/Ms35fdb.DB; do
  grep -qx "$f" <<<"$files" || fail "the package lacks $f"
done
# Maintainer scripts where no udev runs (no /run/udev/control here): nothing, and success.
dpkg-deb -e "$deb" "$tmp/control"
for s in postinst postrm; do
  [ -x "$tmp/control/$s" ] || fail "no executable $s"
  mkdir -p "$tmp/bin"
  printf '#!/bin/sh\necho called >>%s\n' "$tmp/udevadm-calls" >"$tmp/bin/udevadm"
  chmod +x "$tmp/bin/udevadm"
  if [ ! -S /run/udev/control ]; then
    PATH="$tmp/bin:$PATH" sh "$tmp/control/$s" configure || fail "$s fails without udev"
    PATH="$tmp/bin:$PATH" sh "$tmp/control/$s" remove || fail "$s fails without udev"
    [ ! -e "$tmp/udevadm-calls" ] || fail "$s calls udevadm where udev does not run"
  fi
done
echo "deb: $(basename "$deb") $(stat -c %s "$deb") bytes; Depends: $depends"
