#!/usr/bin/env bash
# Converts a generated 1 GB BDT file in every output format, on one thread
# and on as many as the machine has, and audits it in every audit mode, and
# checks that the peak resident size of tapelens stays under 32 MB (32768
# KB), and under 64 MB for the workbook of --xlsx: its memory must not grow
# with the input. The workbook is made of the first 200 MB (its time and its
# temporary files, seven times the input, are the workbook's own), which
# needs about 1.4 GB of room in $TMPDIR.
#
#   tools/peak_memory.sh [TAPELENS [GEN_SAMPLE]]
#
# The binaries default to those in ${BUILD:-build}. The file goes to a
# temporary folder (under $TMPDIR) and is deleted at the end.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD:-$root/build}"
tapelens="${1:-$build/tapelens}"
gen_sample="${2:-$build/gen_sample}"
limit_kb=32768
size_mb=1024

for b in "$tapelens" "$gen_sample"; do
  [ -x "$b" ] || { echo "peak_memory: $b: no such program (build first)" >&2; exit 2; }
done
[ -x /usr/bin/time ] || { echo "peak_memory: /usr/bin/time missing (Debian package time)" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/tapelens-peak.XXXXXX")"
trap 'rm -rf "$work"' EXIT
file="$work/big.bdt"

start=$(date +%s)
"$gen_sample" --size "$size_mb" --random >"$file"
echo "generated $(($(stat -c %s "$file") / 1048576)) MB in $(($(date +%s) - start)) s"

printf '%s\n' rule,total_key,total_start,detail_key,detail_start,scope run,102790.00,136,102705.01,68,section \
  bill,103090.00,150,102705.01,68,bill file,103590.00,150,102705.01,68,file > "$work/rules.csv"
failed=0
for opt in text -c -a -x -w -D -S --json --jobs=1 --jobs=256 --check --totals=bill --balance --compare; do
  args=()
  case $opt in
    text) ;;
    --jobs=*) args=("$opt" -x) ;;
    --totals=bill) args=("$opt" -c) ;;
    --balance) args=("--balance=$work/rules.csv") ;;
    --compare) args=("$opt" -c "$file") ;;
    *) args=("$opt") ;;
  esac
  t0=$(date +%s)
  # The run's own status: a conversion that failed proves nothing (3 is
  # what an audit mode found, not a failure).
  status=0
  /usr/bin/time -f %M -o "$work/rss" "$tapelens" "${args[@]}" "$file" >/dev/null 2>"$work/err" || status=$?
  if [ "$status" != 0 ] && [ "$status" != 3 ]; then
    echo "FAIL $opt: tapelens failed:" >&2
    cat "$work/err" >&2
    failed=1
    continue
  fi
  kb=$(tail -n 1 "$work/rss")
  verdict=ok
  if [ "$kb" -ge "$limit_kb" ]; then
    verdict="FAIL (limit $limit_kb KB)"
    failed=1
  fi
  printf '%-13s peak RSS %6d KB  %3d s  %s\n' "$opt" "$kb" "$(($(date +%s) - t0))" "$verdict"
done
# The workbook: under 64 MB, its rows spooled to disk and libxlsxwriter in
# constant-memory mode.
t0=$(date +%s)
head -c $((200 * 1048576)) "$file" >"$work/part.bdt"
if ! /usr/bin/time -f %M -o "$work/rss" "$tapelens" --xlsx="$work/big.xlsx" "$work/part.bdt" 2>"$work/err"; then
  echo "FAIL --xlsx: tapelens failed:" >&2
  cat "$work/err" >&2
  failed=1
else
  kb=$(tail -n 1 "$work/rss")
  verdict=ok
  if [ "$kb" -ge 65536 ]; then
    verdict="FAIL (limit 65536 KB)"
    failed=1
  fi
  printf '%-6s peak RSS %6d KB  %3d s  %s\n' --xlsx "$kb" "$(($(date +%s) - t0))" "$verdict"
fi
rm -f "$work/big.xlsx" "$work/part.bdt"
echo "total $(($(date +%s) - start)) s"
exit "$failed"
