#!/usr/bin/env bash
# Builds the Debian package with cpack from the build folder and checks
# with dpkg-deb what it holds and declares. Skipped (77) where dpkg-deb is
# missing.
#
#   package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(readlink -f "$1")
command -v dpkg-deb >/dev/null || { echo "dpkg-deb missing: skipped"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >cpack.log 2>&1) ||
  fail "cpack: $(tail -5 "$work/cpack.log")"
deb=$(ls "$work"/tapelens_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "no tapelens_*.deb made: $(ls "$work")"
dpkg-deb --contents "$deb" >"$work/contents"
for f in ./usr/bin/tapelens ./usr/share/man/man1/tapelens.1 ./usr/share/bash-completion/completions/tapelens; do
  grep -q " $f\$" "$work/contents" || fail "the package lacks $f: $(cat "$work/contents")"
done
[ "$(dpkg-deb --field "$deb" Package)" = tapelens ] || fail "package name"
deps=$(dpkg-deb --field "$deb" Depends)
for d in libarchive13 libxxhash0 libsqlite3-0 libpq5; do
  grep -q "$d" <<<"$deps" || fail "Depends lacks $d: $deps"
done
[ -n "$(dpkg-deb --field "$deb" Maintainer)" ] || fail "no maintainer"
# The packaged program runs.
dpkg-deb -x "$deb" "$work/root"
version=$("$work/root/usr/bin/tapelens" --version 2>&1)
grep -q "^tapelens " <<<"$version" || fail "the packaged program does not run: $version"
echo "package ok: $(basename "$deb")"
