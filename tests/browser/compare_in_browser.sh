#!/usr/bin/env bash
# Renders the page of --compare -w in headless Chromium and checks what a
# reader gets: both tables with a row per layout and per amount, the bar
# chart as SVG with a visible bar per difference, and a file name that holds
# markup shown as text.
#
#   compare_in_browser.sh TAPELENS_BINARY GEN_SAMPLE
#
# Exit status 0 when every check passes, 1 on a failed check, 77 (skipped)
# when chromium is not installed, except under CI, where that is a failure.
set -u
export LC_ALL=C
bin=$(readlink -f "$1")
gen=$(readlink -f "$2")

if ! command -v chromium >/dev/null 2>&1; then
  if [ "${CI:-}" = true ]; then
    echo "FAILED: chromium is not installed (tools/install-deps.sh installs it)"
    exit 1
  fi
  echo "SKIPPED: chromium is not installed; run tools/install-deps.sh to enable this test"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-compare-browser.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

"$gen" --records 3000 --seed 41 > 'may <i>x.bdt'
"$gen" --records 3300 --seed 42 > june.bdt
"$bin" --compare -w 'may <i>x.bdt' june.bdt > page.html || { echo "FAILED: tapelens exited with status $?"; exit 1; }
"$bin" --compare -c 'may <i>x.bdt' june.bdt > cmp.csv

chrome() {
  timeout 100 chromium --headless --no-sandbox --disable-gpu --disable-background-networking \
    --no-first-run --disable-component-update --disable-sync --user-data-dir="$work/profile" "$@" 2>> chromium.err
}
chrome --dump-dom "file://$work/page.html" > dom.html
status=$?
if [ $status != 0 ] || [ ! -s dom.html ]; then
  echo "FAILED: chromium exited with status $status and dumped $(wc -c < dom.html) bytes"
  tail -20 chromium.err
  exit 1
fi
chrome --screenshot="$work/shot.png" --window-size=1000,1400 "file://$work/page.html" > /dev/null

fails=0
check() {  # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fails=$((fails + 1)); fi
}
has() { grep -qF -- "$1" dom.html; }

# Rows of each table in the rendered document against the CSV's rows.
layouts=$(tr -d '\r' < cmp.csv | awk -F, 'NR > 1 && $2 == ""' | wc -l)
amounts=$(tr -d '\r' < cmp.csv | awk -F, 'NR > 1 && $2 != ""' | wc -l)
rows() { awk -v id="$1" 'BEGIN { RS = "<table" } $0 ~ "^ id=\"" id "\"" { sub(/<\/table>.*/, ""); print gsub(/<tr/, "") - 1 }' dom.html; }
check "the records table has a row per layout ($layouts)" [ "$(rows records)" = "$layouts" ]
check "the amounts table has a row per amount ($amounts)" [ "$(rows amounts)" = "$amounts" ]
check "the chart is an SVG element" has '<svg id="chart"'
bars=$(grep -o '<rect [^>]*width="[1-9][0-9]*"' dom.html | wc -l)
check "the chart has 12 bars of some width (got $bars)" [ "$bars" = 12 ]
# The largest bar is the first amount of the table, and labelled with it.
first=$(awk 'BEGIN { RS = "<table" } /^ id="amounts"/' dom.html | grep -o '<td class="n d">[^<]*' | head -1 | sed 's/.*>//')
check "the first bar's value is the table's largest difference ($first)" has ">$first</text>"
check "the file name's markup is text" has 'may &lt;i&gt;x.bdt compared with june.bdt'
check "no element made from the file name" bash -c '! grep -q "<i>" dom.html'
check "a screenshot of the page was taken" [ -s shot.png ]

if [ $fails != 0 ]; then
  echo "$fails check(s) failed"
  exit 1
fi
echo "all browser checks passed"
