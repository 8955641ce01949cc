#!/usr/bin/env bash
# Runs an end-to-end case as run_case.sh does, with every tapelens of the
# case converting on four threads in blocks of 256 bytes (about one record
# each): the output must be byte for byte that of one thread.
#
#   run_case_jobs.sh TAPELENS_BINARY CASE_DIR
set -u
bin=$(readlink -f "$1")
wrap=$(mktemp -d "${TMPDIR:-/tmp}/tapelens-jobs.XXXXXX")
trap 'rm -rf "$wrap"' EXIT
printf '#!/bin/bash\nexec -a tapelens "%s" --jobs=4 --block=256 "$@"\n' "$bin" >"$wrap/tapelens"
chmod +x "$wrap/tapelens"
# gen_sample is looked for beside the binary.
[ -x "$(dirname "$bin")/gen_sample" ] && ln -s "$(dirname "$bin")/gen_sample" "$wrap/gen_sample"
TAPELENS_UPDATE=0 bash "$(dirname "$0")/run_case.sh" "$wrap/tapelens" "$2"
