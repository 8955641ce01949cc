#!/usr/bin/env bash
# The catalogue generator refuses a data file with a name that breaks the
# rules the run-time names file obeys too (tl_name_rules), naming the line.
#
#   name_rules.sh GEN_CATALOGUE SOURCE_DIR
set -euo pipefail
gen=$(readlink -f "$1")
csv="$2/src/catalogue/sr1872i16_version_1.csv"
work=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-gen.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$gen" "$csv" "$work/ok.cpp" || { echo "FAILED: the shipped catalogue is refused"; exit 1; }
line=$(grep -n '^field,100101.01,0,' "$csv" | cut -d: -f1)
check() {  # new name, expected message
  awk -v n="$line" -v name="$1" 'BEGIN { FS = OFS = "," } NR == n { $15 = name } { print }' "$csv" >"$work/bad.csv"
  if "$gen" "$work/bad.csv" "$work/bad.cpp" 2>"$work/err"; then echo "FAILED: \"$1\" accepted"; exit 1; fi
  want="gen_catalogue: $work/bad.csv:$line: field name \"$1\" $2"
  [ "$(cat "$work/err")" = "$want" ] || { echo "FAILED: got $(cat "$work/err"), want $want"; exit 1; }
}
check "1st field" "does not start with a letter"
check "Field <b>" "holds a character other than letters, digits, blanks and - . _ /"
check "$(printf 'F%.0s' {1..81})" "is longer than 80 characters"
echo "name rules ok"
