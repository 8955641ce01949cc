#!/usr/bin/env bash
# Renders an HTML conversion in headless Chromium and checks the page that a
# reader gets: the inline tables and their rows, values shown as text (markup
# in the data must not become elements, scripts in it must not run), and the
# unknown-record notice.
#
#   html_in_browser.sh TAPELENS_BINARY
#
# Exit status 0 when every check passes, 1 on a failed check, 77 (skipped)
# when chromium is not installed, except under CI, where that is a failure.
set -u
export LC_ALL=C
bin=$(readlink -f "$1")

if ! command -v chromium >/dev/null 2>&1; then
  if [ "${CI:-}" = true ]; then
    echo "FAILED: chromium is not installed (tools/install-deps.sh installs it)"
    exit 1
  fi
  echo "SKIPPED: chromium is not installed; run tools/install-deps.sh to enable this test"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-browser.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# Records of 225 characters with the common block in front, CR LF ends.
common() { printf '%s%s0ABCDE202611305551234567NYC000100000001BACCT-0001    ' "$1" "$2"; }
r23() {  # 103623.50: six shown fields, an inline layout
  common 103623 50
  printf '  %-6s%-10s%-10s%-90s%20s%-1s%-2s%23s\r\n' "$1" "$2" "$3" "$4" "" "$5" "$6" ""
}
r24() {  # 103624.50: another inline layout, with an amount of 4 decimals
  common 103624 50
  printf ' %-1s%-6s%-10s%-10s%-90s%20s%-13s%9s%-2s%-1s%-1s\r\n' X "$1" "$2" "$3" "$4" "" "$5" "" AB C D
}
r0101() {  # 100101.01: an ordinary record, one line per field
  common 100101 01
  printf '%-15s%-13s%-4s%132s\r\n' "$1" "$2" "$3" ""
}
{
  r23 'R1&R2' '<b>b</b>' 'A&amp;B' "<script>document.body.setAttribute('data-pwned','1')</script>" Y 01
  r23 ROW2 FROM-TWO TO-TWO 'SECOND ROW' N 02
  # An identifier with a suffix the catalogue does not hold, inside the run.
  common 100101 02; printf '%-164s\r\n' 'NOT A LAYOUT <i>x</i>'
  r23 ROW3 FROM-THREE TO-THREE 'THIRD ROW' Y 03
  r0101 '<b>bold</b>' '<img src=x>' '&lt;'
  r24 PLAN1 FROM-P1 TO-P1 'PLAN ONE' 000000012345E
  r24 PLAN2 FROM-P2 TO-P2 'PLAN TWO <u>u</u>' 000000000050}
} > in.bdt
if [ "$(wc -c < in.bdt)" != $((7 * 227)) ]; then
  echo "FAILED: the input was not built as 7 records of 227 bytes"
  exit 1
fi

"$bin" -w -n -T in.bdt > page.html || { echo "FAILED: tapelens exited with status $?"; exit 1; }

timeout 100 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
  --no-first-run --disable-component-update --disable-sync --user-data-dir="$work/profile" \
  --dump-dom "file://$work/page.html" > dom.html 2> chromium.err
status=$?
if [ $status != 0 ] || [ ! -s dom.html ]; then
  echo "FAILED: chromium exited with status $status and dumped $(wc -c < dom.html) bytes"
  tail -20 chromium.err
  exit 1
fi

fails=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fails=$((fails + 1)); fi
}
has() { grep -qF -- "$1" dom.html; }
lacks() { ! grep -qF -- "$1" dom.html; }

# Rows per table in the rendered document: a header row and one per record.
rows=$(awk 'BEGIN { RS = "<table" } NR > 1 { sub(/<\/table>.*/, ""); printf "%s%d", sep, gsub(/<tr>/, ""); sep = " " }' dom.html)
check "two tables with 4 and 3 rows (got: $rows)" [ "$rows" = "4 3" ]
check "a value cell of the first table" has "<td>ROW2  </td>"
check "a negative amount cell of the second table" has "<td>-000000000.0500</td>"
check "the field line of the ordinary record" has "Pos 062-076 text:&nbsp;<b>&lt;b&gt;bold&lt;/b&gt;    </b>"

# Markup in the data stays text.
check "no script element" lacks "<script"
check "the script text is shown as text" has "&lt;script&gt;document.body.setAttribute"
check "the script did not run" bash -c '! grep -q "<body[^>]*data-pwned" dom.html'
check "no <b> element made from data" lacks "<b>b</b>"
check "no <b> element made from the ordinary record" lacks "<b>bold</b>"
check "no <img> element made from data" lacks "<img src=\"x\""
check "no <u> or <i> element made from data" bash -c '! grep -qE "<u>u</u>|<i>x</i>" dom.html'
check "an ampersand shown as text" has "<td>R1&amp;R2 </td>"
check "an entity in the data shown literally" has "<td>A&amp;amp;B   </td>"

# The unknown record's notice is on the page.
check "the unknown-record notice" has "Unknown record type found: line = [100101020ABCDE"
check "the unknown record's markup stays text" has "NOT A LAYOUT &lt;i&gt;x&lt;/i&gt;"

if [ $fails != 0 ]; then
  echo "$fails check(s) failed; the page was:"
  cat page.html
  exit 1
fi
echo "all browser checks passed"
