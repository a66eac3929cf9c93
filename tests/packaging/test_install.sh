#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a user's system gets from it: every
# file in its place, a desktop entry that validates and starts a program that is there with
# options it knows, and a man page that renders without warnings.
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$tmp/usr" >/dev/null
for f in bin/ms42k share/applications/ms42k.desktop share/icons/hicolor/scalable/apps/ms42k.svg \
         lib/udev/rules.d/70-ms42k-cable.rules share/man/man1/ms42k.1 share/ms42k/Ms35fdb.DB; do
  [ -s "$tmp/usr/$f" ] || fail "cmake --install does not install $f"
done
[ -x "$tmp/usr/bin/ms42k" ] || fail "bin/ms42k is not executable"

command -v desktop-file-validate >/dev/null || fail "desktop-file-validate missing (bash scripts/setup.sh)"
desktop-file-validate "$tmp/usr/share/applications/ms42k.desktop" || fail "the desktop entry does not validate"
# The entry's command: the installed program, with options it accepts (and the user folder made).
exec_line=$(sed -n 's/^Exec=//p' "$tmp/usr/share/applications/ms42k.desktop")
read -r -a words <<<"$exec_line"
[ "${words[0]}" = ms42k ] || fail "the desktop entry starts '${words[0]}', not ms42k"
HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/home/.config" "$tmp/usr/bin/ms42k" "${words[@]:1}" --version >/dev/null \
  || fail "ms42k does not accept the desktop entry's options: ${words[*]:1}"
[ -d "$tmp/home/Documents/ms42k" ] || fail "the desktop start does not make ~/Documents/ms42k"

command -v groff >/dev/null || fail "groff missing (bash scripts/setup.sh)"
warnings=$(LC_ALL=C.UTF-8 groff -man -Tutf8 -ww -z "$tmp/usr/share/man/man1/ms42k.1" 2>&1)
[ -z "$warnings" ] || fail "the man page renders with warnings: $warnings"
# Every subcommand the program lists in its help has its section in the man page.
for sub in $("$tmp/usr/bin/ms42k" --help | sed -n 's/^  ms42k \([a-z][a-z]*\).*/\1/p'); do
  grep -q "^\.SS ms42k $sub" "$tmp/usr/share/man/man1/ms42k.1" || fail "the man page lacks subcommand $sub"
done
echo "install: all files in place; desktop entry valid; man page clean"
