#!/usr/bin/env bash
# Runs one end-to-end case against the real binary, in a fresh temporary
# directory, and compares standard output, standard error and the exit
# status byte for byte with the case's expected files.
#
#   run_case.sh TAPELENS_BINARY CASE_DIR
#
# A case folder holds `cmd` (a bash script run in the temporary directory,
# with tapelens and gen_sample on PATH), `expout`, `experr`, optionally
# `expstatus` (default 0) and any input files; these and the shared inputs
# of tests/data are copied into the temporary directory first.
# With TAPELENS_UPDATE=1 the expected files are rewritten from the run;
# review such changes with `git diff` before committing them.
set -u
bin=$(readlink -f "$1")
case_dir=$(readlink -f "$2")
name=$(basename "$case_dir")

work=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-case.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir "$work/bin"
ln -s "$bin" "$work/bin/tapelens"
gen="$(dirname "$bin")/gen_sample"
[ -x "$gen" ] && ln -s "$gen" "$work/bin/gen_sample"

# Shared inputs first, then the case's own files.
data_dir="$(dirname "$0")/data"
[ -d "$data_dir" ] && cp -R "$data_dir"/. "$work/"
for f in "$case_dir"/*; do
  case "$(basename "$f")" in
    cmd|expout|experr|expstatus) ;;
    *) cp -R "$f" "$work/" ;;
  esac
done

cd "$work" || exit 2
PATH="$work/bin:$PATH" LC_ALL=C TZ=UTC bash "$case_dir/cmd" </dev/null >"$work/.out" 2>"$work/.err"
status=$?

if [ "${TAPELENS_UPDATE:-0}" = 1 ]; then
  cp "$work/.out" "$case_dir/expout"
  cp "$work/.err" "$case_dir/experr"
  if [ "$status" = 0 ]; then rm -f "$case_dir/expstatus"; else echo "$status" >"$case_dir/expstatus"; fi
  echo "updated $name"
  exit 0
fi

want_status=0
[ -f "$case_dir/expstatus" ] && want_status=$(cat "$case_dir/expstatus")
ok=1
show() {  # shows a difference with line ends made visible
  echo "--- $1 differs (expected vs actual, CR shown as ^M):"
  diff <(cat -A "$2") <(cat -A "$3") | head -40
}
if ! cmp -s "$case_dir/expout" "$work/.out"; then show stdout "$case_dir/expout" "$work/.out"; ok=0; fi
if ! cmp -s "$case_dir/experr" "$work/.err"; then show stderr "$case_dir/experr" "$work/.err"; ok=0; fi
if [ "$status" != "$want_status" ]; then echo "--- exit status $status, expected $want_status"; ok=0; fi
if [ $ok = 1 ]; then exit 0; fi
echo "FAILED: $name"
exit 1
