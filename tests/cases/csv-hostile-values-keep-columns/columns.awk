# Checks that CSV output keeps its columns: joins the physical lines of a
# quoted field that holds a line end, counts the fields outside quotes, and
# compares each value line with its header line. mode=csv: one-per-field
# lines have three fields and inline value lines as many as the header line
# above them; mode=db: every data line as many as its header line.
# Prints the number of bad lines and whether both kinds of line were seen.
function nfields(s,   i, c, q, n) {
  n = 1; q = 0
  for (i = 1; i <= length(s); i++) {
    c = substr(s, i, 1)
    if (c == "\"") q = !q
    else if (c == "," && !q) n++
  }
  return n
}
function quotes_open(s,   t) { t = s; return gsub(/"/, "", t) % 2 }
function check(s,   n, t) {
  sub(/\r$/, "", s)
  if (s == "" || s ~ /^Tapelens version / || s ~ /^"Copyright/ || s ~ /^https:/) return
  n = nfields(s)
  if (mode == "db") {
    t = s; sub(/^[^,]*,/, "", t)
    if (t ~ /^ Index,/) { want = n; heads++; return }
    rows++
  } else if (s ~ /^,/) {
    fieldlines++
    if (n != 3) { bad++; print "bad field line: " s }
    return
  } else if (s ~ /^Pos [^,]*,(Pos [^,]*,)*$/) {
    want = n; heads++; return
  } else {
    rows++
  }
  if (n != want) { bad++; print "bad row (" n " fields, want " want "): " s }
}
BEGIN { bad = 0; heads = 0; rows = 0; fieldlines = 0; skip = 0 }
skip { skip = 0; next }
/^Unknown record type found: line = \[/ { skip = 1; next }
{
  if (pending != "") { pending = pending "\n" $0 } else { pending = $0 }
  if (quotes_open(pending)) next
  check(pending); pending = ""
}
END {
  print mode ": bad lines " bad ", headers seen " (heads > 0 ? "yes" : "no") ", rows seen " (rows > 0 ? "yes" : "no") (mode == "csv" ? ", field lines seen " (fieldlines > 0 ? "yes" : "no") : "")
}
