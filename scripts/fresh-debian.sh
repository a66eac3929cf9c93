# Helpers for a fresh minimal Debian 12 chroot (sourced by .ci/run and scripts/try-deb.sh).
# Needs root. The base tarball of `mmdebstrap --variant=minbase bookworm` is cached in
# $MS42K_CI_CACHE (default /var/cache/ms42k-ci) and made again when older than 3 days.

MS42K_CI_CACHE=${MS42K_CI_CACHE:-/var/cache/ms42k-ci}
MS42K_BASE_MAX_DAYS=${MS42K_BASE_MAX_DAYS:-3}
FRESH_ROOT=""
FRESH_MOUNTS=()

fresh_die() { echo "fresh-debian: $*" >&2; exit 1; }

# Installs mmdebstrap on the host when it is missing.
fresh_need_mmdebstrap() {
  command -v mmdebstrap >/dev/null && return 0
  echo "fresh-debian: installing mmdebstrap on the host"
  apt-get update -qq || fresh_die "apt-get update failed; cannot install mmdebstrap"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap \
    || fresh_die "cannot install mmdebstrap on the host"
}

# Prints the path of a base tarball younger than MS42K_BASE_MAX_DAYS, making it if needed.
fresh_base_tarball() {
  local tar="$MS42K_CI_CACHE/bookworm-minbase.tar"
  mkdir -p "$MS42K_CI_CACHE" || fresh_die "cannot create $MS42K_CI_CACHE"
  (
    flock 9
    if [ -s "$tar" ] && [ -z "$(find "$tar" -mtime +"$MS42K_BASE_MAX_DAYS")" ]; then
      exit 0
    fi
    fresh_need_mmdebstrap
    echo "fresh-debian: making the base tarball $tar (mmdebstrap --variant=minbase bookworm)" >&2
    rm -f "$tar.new"
    mmdebstrap --variant=minbase bookworm "$tar.new" >&2 \
      || { rm -f "$tar.new"; fresh_die "mmdebstrap --variant=minbase bookworm failed"; }
    mv -f "$tar.new" "$tar"
  ) 9>"$MS42K_CI_CACHE/.lock" || exit 1
  echo "$tar"
}

# Unmounts what fresh_make mounted and removes the chroot. Safe to call twice.
fresh_cleanup() {
  local i m failed=0
  [ -n "$FRESH_ROOT" ] || return 0
  for ((i = ${#FRESH_MOUNTS[@]} - 1; i >= 0; i--)); do
    m=${FRESH_MOUNTS[i]}
    mountpoint -q "$m" || continue
    umount "$m" 2>/dev/null || umount -l "$m" || failed=1
  done
  FRESH_MOUNTS=()
  if [ "$failed" -eq 0 ] && ! findmnt -rn -o TARGET | grep -q "^$FRESH_ROOT/"; then
    rm -rf --one-file-system "$FRESH_ROOT"
  else
    echo "fresh-debian: something is still mounted below $FRESH_ROOT; left it in place" >&2
  fi
  FRESH_ROOT=""
}

# Unpacks a fresh chroot into a new folder under $1 (default /var/tmp), mounts /dev, /dev/pts,
# /proc and /sys into it, and sets FRESH_ROOT. The caller sets a trap calling fresh_cleanup.
fresh_make() {
  local parent=${1:-/var/tmp} tar d
  [ "$(id -u)" -eq 0 ] || fresh_die "needs root (chroot and mounts)"
  fresh_need_mmdebstrap
  tar=$(fresh_base_tarball) || fresh_die "no base tarball, so no fresh Debian 12 chroot"
  FRESH_ROOT=$(mktemp -d "$parent/ms42k-chroot.XXXXXX") || fresh_die "cannot create a folder in $parent"
  tar -xf "$tar" -C "$FRESH_ROOT" || fresh_die "cannot unpack $tar into $FRESH_ROOT"
  for d in dev dev/pts proc sys; do
    mkdir -p "$FRESH_ROOT/$d"
    mount --bind "/$d" "$FRESH_ROOT/$d" || fresh_die "cannot bind-mount /$d into $FRESH_ROOT"
    FRESH_MOUNTS+=("$FRESH_ROOT/$d")
  done
  cp -L /etc/resolv.conf "$FRESH_ROOT/etc/resolv.conf" 2>/dev/null || true
  # No services start inside the chroot.
  printf '#!/bin/sh\nexit 101\n' >"$FRESH_ROOT/usr/sbin/policy-rc.d"
  chmod +x "$FRESH_ROOT/usr/sbin/policy-rc.d"
  grep -q '^ID=debian' "$FRESH_ROOT/etc/os-release" && grep -q 'VERSION_ID="12"' "$FRESH_ROOT/etc/os-release" \
    || fresh_die "$FRESH_ROOT is not a Debian 12 system"
}

# Runs a bash command line inside the chroot, without stdin, in a clean environment.
fresh_run() {
  chroot "$FRESH_ROOT" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive CI="${CI:-}" /bin/bash -c "$1" </dev/null
}
