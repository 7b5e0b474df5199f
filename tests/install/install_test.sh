#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop and a user find there:
# the program and the tools, the desktop entry (valid), the icon, the manual pages, the
# licence and the credits.   install_test.sh BUILD_DIR VERSION
set -uo pipefail
build="$1"
version="$2"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" > "$prefix.log" 2>&1 || { cat "$prefix.log"; fail "cmake --install"; }
rm -f "$prefix.log"

for program in musicdisk tunetool picturetool samplecodec musicdisk-capture; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not installed"
  [ "$("$prefix/bin/$program" --version 2>&1)" = "$program $version" ] || fail "$program --version"
  page="$prefix/share/man/man1/$program.1"
  [ -s "$page" ] || { fail "no manual page $page"; continue; }
  grep -q "^\.TH \"\\?${program^^}\"\\? \"\\?1\"\\?" "$page" || fail "$page has no title line for section 1"
  grep -qi "usage" "$page" || fail "$page does not hold the usage"
done
grep -q "Escape" "$prefix/share/man/man1/musicdisk.1" || fail "the program's manual page does not name its keys"

desktop="$prefix/share/applications/musicdisk.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
if command -v desktop-file-validate > /dev/null; then
  out="$(desktop-file-validate "$desktop" 2>&1)" || fail "desktop-file-validate: $out"
  [ -z "$out" ] || fail "desktop-file-validate says: $out"
else
  fail "desktop-file-validate is not installed (desktop-file-utils)"
fi
grep -qx "Exec=musicdisk" "$desktop" || fail "the desktop entry does not start musicdisk"
grep -qx "Icon=musicdisk" "$desktop" || fail "the desktop entry does not name the icon"

icon="$prefix/share/icons/hicolor/256x256/apps/musicdisk.png"
[ -f "$icon" ] || fail "no icon"
# A PNG of 256 x 256: the signature, then IHDR's width and height.
[ "$(head -c 8 "$icon" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "the icon is not a PNG"
[ "$(od -An -tx1 -j16 -N8 "$icon" | tr -d ' \n')" = "0000010000000100" ] || fail "the icon is not 256 x 256"

for file in LICENSE CREDITS README.md; do
  [ -s "$prefix/share/doc/musicdisk/$file" ] || fail "share/doc/musicdisk/$file is not installed"
done
grep -q "MIT License" "$prefix/share/doc/musicdisk/LICENSE" || fail "the licence is not MIT"

[ "$failures" -eq 0 ] && echo "all passed"
exit $((failures > 0))
