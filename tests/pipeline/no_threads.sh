#!/usr/bin/env bash
# With no thread to be had (a user at its process limit), a run with --jobs
# converts its blocks on the reading thread, in order: the same bytes as
# --jobs=1, status 0. Needs root to run the program as nobody under a limit
# of one process; skipped (77) elsewhere.
#
#   no_threads.sh TAPELENS GEN_SAMPLE
set -u
[ "$(id -u)" = 0 ] && command -v su >/dev/null || { echo "skipped: needs root and su"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-nothreads.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cp "$1" "$work/tapelens"
"$2" --records 3000 --hostile >"$work/in.bdt"
chmod 644 "$work/in.bdt"
fail=0
for opt in -c -w -D --json -S; do
  "$work/tapelens" --jobs=1 "$opt" "$work/in.bdt" >"$work/one.out" 2>&1
  install -m 666 /dev/null "$work/many.out"
  # exec: the shell may not start a process of its own under the limit;
  # nor may a leak checker (a sanitizer build's), which starts one at exit.
  su nobody -s /bin/bash -c "ulimit -u 1; export ASAN_OPTIONS='${ASAN_OPTIONS:-}:detect_leaks=0';
    exec '$work/tapelens' --jobs=4 --block=1000 $opt '$work/in.bdt' >'$work/many.out' 2>&1"
  status=$?
  if [ "$status" != 0 ] || ! cmp -s "$work/one.out" "$work/many.out"; then
    echo "FAILED: $opt without threads: status $status, output differs: $(cmp "$work/one.out" "$work/many.out" 2>&1)"
    fail=1
  fi
done
[ $fail = 0 ] && echo "every form without threads gave the bytes of one thread"
exit $fail
