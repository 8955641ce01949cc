#!/usr/bin/env bash
# Writes the seed corpus of the fuzz harnesses from the sample generator:
#   make_corpus.sh GEN_SAMPLE [CORPUS_DIR]
# The seeds are kept in the repository; this script says how they were made
# (rerun it after a change of the catalogue or of the generator).
set -euo pipefail
gen=$1
out=${2:-$(dirname "$0")/corpus}
rm -rf "$out"
mkdir -p "$out"/{formatters,file,core_buf,options,input,names}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

byte() { printf "\\x$(printf %02x "$1")"; }

# BDT files: a few records each, plain, hostile and LF-only, from several seeds.
n=0
for seed in 1 2 3 4 5 6 7 8; do
  for kind in plain hostile lf; do
    flags=(--random --records $((2 + seed % 5)) --seed "$seed")
    [ $kind = hostile ] && flags+=(--hostile)
    [ $kind = lf ] && flags+=(--lf)
    "$gen" "${flags[@]}" > "$tmp/s$n.bdt"
    n=$((n + 1))
  done
done
# The head of the full generator output: inline runs, index and unknown records.
"$gen" --records 1 > "$tmp/all.bdt"
head -c 6000 "$tmp/all.bdt" > "$tmp/s$n.bdt"; n=$((n + 1))
"$gen" --records 1 --hostile > "$tmp/all.bdt"
tail -c 6000 "$tmp/all.bdt" > "$tmp/s$n.bdt"; n=$((n + 1))

for ((i = 0; i < n; i++)); do
  s="$tmp/s$i.bdt"
  cp "$s" "$out/file/seed-$i.bdt"
  # Memory driver: settings, capacity choice, caller's buffer choice, text.
  { byte $((i * 37 % 256)); byte $((i * 11 % 256)); byte $((i * 53 % 256)); byte $((i * 5 % 64)); cat "$s"; } \
    > "$out/core_buf/seed-$i"
  # Formatters: settings, small capacity, then the record lines NUL-separated.
  {
    byte $((i * 29 % 256)); byte $((i * 13 % 256)); byte $((i * 71 % 256)); byte $((i * 3 % 256))
    while IFS= read -r line || [ -n "$line" ]; do printf '%s\n\0' "$line"; done < "$s"
  } > "$out/formatters/seed-$i"
done

# Option vectors, NUL-separated words.
i=0
for words in \
  "-c -o out.csv a.bdt" "--output=out.xml -x a.bdt b.bdt" "-D a.bdt -d" "-Sdx4 -- -f" \
  "--sum --html --bodyonly a" "-qnrTC -1 -3 a.bdt" "-o" "--output" "-O a" "-z a" "-h" "--vers" \
  "--anon --common --recno --raw --types f" "-w -b -B -N -u -t x" "--csrrecords --detailrecords --billrecords y" \
  "--s a" "--o=x y" "a -c b -- -x" "-dcdwdx a" "--database --noheader z" "--summarydetail -v" "-oout a"; do
  read -ra w <<< "$words"
  printf '%s\0' "${w[@]}" | head -c -1 > "$out/options/seed-$i"
  i=$((i + 1))
done
# Inputs: a settings byte (bit 0 a forced record length, bit 1 forced
# EBCDIC), then a file as the real tools make it: compressed, archived,
# EBCDIC, fixed-length.
head -n 4 "$tmp/s0.bdt" > "$tmp/in.bdt"
awk 'length($0) == 226' "$tmp/s3.bdt" "$tmp/s6.bdt" | head -n 4 | tr -d '\r\n' > "$tmp/in.fix"
iconv -f ISO-8859-1 -t IBM037 "$tmp/in.fix" > "$tmp/in.ebc"
(cd "$tmp" && zip -q in.zip in.bdt in.ebc && tar cf in.tar in.bdt && tar czf in.tgz in.bdt)
i=0
for f in "$tmp/in.bdt" "$tmp/in.fix" "$tmp/in.ebc" "$tmp/in.zip" "$tmp/in.tar" "$tmp/in.tgz"; do
  { byte 0; cat "$f"; } > "$out/input/seed-$i"
  i=$((i + 1))
done
for tool in "gzip -c" "bzip2 -c" "xz -c" "zstd -q -c"; do
  { byte 0; $tool "$tmp/in.bdt"; } > "$out/input/seed-$i"
  i=$((i + 1))
done
{ byte 1; cat "$tmp/in.fix"; } > "$out/input/seed-$i"; i=$((i + 1))
{ byte 2; cat "$tmp/in.ebc"; } > "$out/input/seed-$i"; i=$((i + 1))
# Names files: rows of every kind, a record name, quotes, CR LF, a swap.
printf 'record_key,start,name\n100101.01,62,Carrier\ncommon,1,Record id\n103708.00,131/2,Second\n' > "$out/names/rows.csv"
printf 'record_key,start,name\n100101.00,,Bill header\n300305.00,62,"Quoted ""name"""\n' > "$out/names/record-and-quotes.csv"
printf 'record_key,start,name\r\n100101.01,77,Pos 062-076 text\r\n100101.01,62,Pos 077-089 text\r\n' > "$out/names/swap-crlf.csv"
du -sh "$out"
