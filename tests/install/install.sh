#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, both with cmake --install and
# with make install PREFIX=..., and uses what was installed: runs the
# program, renders the manual page without warnings and loads the bash
# completion and completes with it.
#
#   install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(readlink -f "$1")
src=$(readlink -f "$2")
work=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

DESTDIR="$work/dest" cmake --install "$build" --prefix /usr/local >"$work/install.log"
root="$work/dest/usr/local"
for f in bin/tapelens share/man/man1/tapelens.1 share/bash-completion/completions/tapelens; do
  [ -f "$root/$f" ] || fail "cmake --install did not install $f"
done
[ -x "$root/bin/tapelens" ] || fail "bin/tapelens is not executable"

# The installed program converts a file as the built one does.
"$root/bin/tapelens" -c "$src/tests/data/small.bdt" >"$work/installed.csv"
"$build/tapelens" -c "$src/tests/data/small.bdt" >"$work/built.csv"
cmp -s "$work/installed.csv" "$work/built.csv" || fail "the installed program converts differently"
"$root/bin/tapelens" --json "$src/tests/data/small.bdt" | jq -e -s 'length > 0' >/dev/null ||
  fail "the installed program writes no JSON"

# The manual page: no warning from groff, none from man, and every long
# option of the completion documented in it.
page="$root/share/man/man1/tapelens.1"
warnings=$(groff -man -ww -z "$page" 2>&1)
[ -z "$warnings" ] || fail "groff warns: $warnings"
text=$(MANWIDTH=100 man -l "$page" 2>"$work/man.err")
[ ! -s "$work/man.err" ] || fail "man warns: $(cat "$work/man.err")"
grep -q "FIELD NAMES" <<<"$text" || fail "the manual has no field-name section"
for opt in anon bodyonly bill_date csv common debug database help recno billing_number output noheader \
  raw summary summarydetail text types version html xml billrecords detailrecords csrrecords \
  sqlite postgres split xlsx lrecl ebcdic progress jobs block names names-template json layouts check totals balance compare; do
  grep -q -- "--$opt" <<<"$text" || fail "the manual does not document --$opt"
done

# The completion: loaded by bash, it completes long options and file names.
cd "$src/tests/data"
out=$(bash --norc --noprofile -c '
  source "$1"
  complete -p tapelens >/dev/null || exit 3
  COMP_WORDS=(tapelens --layo); COMP_CWORD=1; _tapelens; echo "${COMPREPLY[*]}"
  COMP_WORDS=(tapelens --names-t); COMP_CWORD=1; _tapelens; echo "${COMPREPLY[*]}"
  COMP_WORDS=(tapelens --names = sma); COMP_CWORD=3; _tapelens; echo "${COMPREPLY[*]}"
  COMP_WORDS=(tapelens small.b); COMP_CWORD=1; _tapelens; echo "${COMPREPLY[*]}"
  COMP_WORDS=(tapelens --progress=ne); COMP_CWORD=1; _tapelens; echo "${COMPREPLY[*]}"
' _ "$root/share/bash-completion/completions/tapelens")
want=$'--layouts=\n--names-template\nsmall.bdt\nsmall.bdt\n--progress=never'
[ "$out" = "$want" ] || fail "completion gave: $out"
# Every long option of the program's table is completed.
opts=$(bash --norc --noprofile -c 'source "$1"; COMP_WORDS=(tapelens --); COMP_CWORD=1; _tapelens; printf "%s\n" "${COMPREPLY[@]}"' \
  _ "$root/share/bash-completion/completions/tapelens")
for opt in $(sed -n '/kept abbreviation/!s/^ *{"\([a-z_-]*\)", .*/\1/p' "$src/src/cli/tapelens.cpp"); do
  grep -qx -- "--$opt=\?" <<<"$opts" || fail "the completion does not offer --$opt"
done
# And every one is on --help.
help=$("$root/bin/tapelens" --help)
for opt in $(sed -n '/kept abbreviation/!s/^ *{"\([a-z_-]*\)", .*/\1/p' "$src/src/cli/tapelens.cpp"); do
  grep -qE -- "--$opt([=[ ]|\$)" <<<"$help" || fail "--help does not list --$opt"
done

# make install with PREFIX and DESTDIR.
cd "$src"
make -s install BUILD="$build" PREFIX=/opt/tl DESTDIR="$work/make" >"$work/make.log" 2>&1 ||
  fail "make install: $(tail -5 "$work/make.log")"
for f in bin/tapelens share/man/man1/tapelens.1 share/bash-completion/completions/tapelens; do
  [ -f "$work/make/opt/tl/$f" ] || fail "make install did not install $f under PREFIX"
done
version=$("$work/make/opt/tl/bin/tapelens" --version 2>&1)
grep -q "^tapelens " <<<"$version" || fail "installed --version: $version"
echo "install ok"
