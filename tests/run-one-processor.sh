#!/usr/bin/env bash
# run-one-processor.sh COMMAND...: runs COMMAND restricted to the first logical processor this
# process may use (taskset, from util-linux); skips (77) without taskset.
set -u
command -v taskset >/dev/null || { echo "run-one-processor.sh: taskset is not installed"; exit 77; }
first=$(taskset -cp $$ | sed 's/.*: *//; s/[-,].*//')
exec taskset -c "$first" "$@"
