# Shared by the load tests: a fresh work folder, the checks and the inputs.
#   TAPELENS, GEN_SAMPLE: the binaries; HERE: this folder.
set -u
TAPELENS=$(readlink -f "$1")
GEN_SAMPLE=$(readlink -f "$2")
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DATA=$HERE/../data
work=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-load.XXXXXX")
chmod 755 "$work"
cleanup_work() { rm -rf "$work"; }
trap cleanup_work EXIT
cd "$work" || exit 2
export LC_ALL=C TZ=UTC
failures=0

# check WHAT COMMAND...: runs the command; a non-zero status is a failure.
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
  else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}

# same WHAT EXPECTED ACTUAL
same() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}

# Lines of a file (for counting records).
lines() { wc -l <"$1" | tr -d ' '; }

# The -D -C output of a file, for check_load.py.
dview() { "$TAPELENS" -D -C "$1" >"$1.D"; }

# interrupt SIG BYTES FILE ARGS...: runs tapelens ARGS (in.fifo among its
# inputs, standard error into err), feeds in.fifo the first BYTES of FILE,
# sends SIG, then goes on with FILE whole. Returns tapelens's status.
interrupt() {
  local sig=$1 bytes=$2 file=$3 pid status
  shift 3
  mkfifo in.fifo
  "$TAPELENS" "$@" 2>err &
  pid=$!
  { head -c "$bytes" "$file"; sleep 1; kill -"$sig" $pid; sleep 0.5; cat "$file"; } >in.fifo
  wait $pid
  status=$?
  rm -f in.fifo
  return $status
}

finish() {
  if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
  exit 0
}
