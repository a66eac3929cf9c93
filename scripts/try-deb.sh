#!/usr/bin/env bash
# Installs a built Debian package of ms42k in a fresh minimal Debian 12 chroot that has never
# built anything, and runs it there: ms42k --version, ms42k log --simulate --count 3, and the
# window's start-up in an empty folder (offscreen). Needs root.
#   bash scripts/try-deb.sh [build/ms42k_*.deb]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=fresh-debian.sh
source "$repo/scripts/fresh-debian.sh"
deb=${1:-$(ls "$repo"/build/ms42k_*.deb 2>/dev/null | tail -1)}
[ -f "$deb" ] || fresh_die "no package: make one with 'cpack -G DEB' in build/ (or name it)"
trap fresh_cleanup EXIT
trap 'exit 130' INT TERM

fresh_make /var/tmp
cp "$deb" "$FRESH_ROOT/tmp/"
name=$(basename "$deb")
echo "try-deb: $name ($(stat -c %s "$deb") bytes) in $FRESH_ROOT"
fresh_run "apt-get update -qq && apt-get install -y -qq --no-install-recommends ./tmp/$name >/dev/null" \
  || fresh_die "apt-get install ./$name failed"
fresh_run "set -e
  echo '--- Depends:'; dpkg-query -W -f='\${Depends}\n' ms42k
  echo '--- files:'; dpkg -L ms42k | while read -r f; do [ -f \"\$f\" ] && echo \"\$f\"; done
  echo '--- ms42k --version'; ms42k --version
  echo '--- ms42k log --simulate --count 3'; ms42k log --simulate --count 3
  echo '--- window start-up in an empty folder (offscreen)'
  mkdir -p /tmp/w && cd /tmp/w
  QT_QPA_PLATFORM=offscreen timeout 10 ms42k >/tmp/w.log 2>&1 || [ \$? -eq 124 ]
  ls -l /tmp/w
  test -s /tmp/w/Ms35fdb.DB && cmp /tmp/w/Ms35fdb.DB /usr/share/ms42k/Ms35fdb.DB && echo 'table made from the template'
  echo '--- the cable rule as udev reads it'
  apt-get install -y -qq --no-install-recommends udev >/dev/null
  udevadm test --action=add /sys/class/tty/tty0 2>&1 | grep -i -E '70-ms42k|invalid|unknown key|error' || true
  echo '--- remove'; apt-get remove -y -qq ms42k >/dev/null
  for f in /usr/bin/ms42k /usr/lib/udev/rules.d/70-ms42k-cable.rules; do
    [ ! -e \$f ] || { echo \"still there after remove: \$f\"; exit 1; }
  done
  echo 'removed'"
