#!/usr/bin/env bash
# The install tree under DESTDIR, the man page's lint, and the Debian package
# round trip: build it, install it with dpkg, run the installed program on
# the worked example, remove it.
# Usage: tests/install/run.sh BUILD
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
passed=0

DESTDIR="$work/destdir" cmake --install "$build" --prefix /usr > /dev/null
for file in bin/tolbe share/man/man1/tolbe.1 share/doc/tolbe/README.md share/doc/tolbe/LICENSE \
  share/doc/tolbe/examples/worked.txt include/tolbe/lawley.h include/tolbe/tolbe.h; do
  test -f "$work/destdir/usr/$file" || { echo "missing from the install tree: $file" >&2; exit 1; }
done
passed=$((passed + 1))

warnings=$(groff -man -ww -z "$root/doc/tolbe.1" 2>&1)
if [[ -n $warnings ]]; then
  echo "$warnings" >&2
  exit 1
fi
passed=$((passed + 1))

(cd "$build" && cpack -G DEB > /dev/null)
deb=$(ls "$build"/tolbe_*.deb)
dpkg -i "$deb" > /dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
/usr/bin/tolbe --version | head -n 1 | grep -qx "tolbe $version"
/usr/bin/tolbe /usr/share/doc/tolbe/examples/worked.txt | grep -q '^CPU TIME IN SECONDS'
test -f /usr/share/man/man1/tolbe.1.gz
test -f /usr/share/doc/tolbe/copyright
test -f "/usr/lib/$(gcc -print-multiarch)/pkgconfig/tolbe.pc"
dpkg -r tolbe > /dev/null
test ! -e /usr/bin/tolbe
passed=$((passed + 1))
echo "install tests: $passed passed, 0 failed"
