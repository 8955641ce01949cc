#!/usr/bin/env bash
# Converts a generated 1 GB BDT file in every output format and checks that
# the peak resident size of tapelens stays under 10 MB (10240 KB), and under
# 64 MB for the workbook of --xlsx: its memory must not grow with the input.
# The workbook needs about 7 GB of room in $TMPDIR while it is made.
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
limit_kb=10240
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

failed=0
for opt in text -c -a -x -w -D -S; do
  args=()
  [ "$opt" = text ] || args=("$opt")
  t0=$(date +%s)
  # The run's own status: a conversion that failed proves nothing.
  if ! /usr/bin/time -f %M -o "$work/rss" "$tapelens" "${args[@]}" "$file" >/dev/null 2>"$work/err"; then
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
  printf '%-5s peak RSS %6d KB  %3d s  %s\n' "$opt" "$kb" "$(($(date +%s) - t0))" "$verdict"
done
# The workbook: under 64 MB, its rows spooled to disk and libxlsxwriter in
# constant-memory mode.
t0=$(date +%s)
if ! /usr/bin/time -f %M -o "$work/rss" "$tapelens" --xlsx="$work/big.xlsx" "$file" 2>"$work/err"; then
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
rm -f "$work/big.xlsx"
echo "total $(($(date +%s) - start)) s"
exit "$failed"
