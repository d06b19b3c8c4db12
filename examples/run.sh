#!/usr/bin/env bash
# Runs an example deck in a scratch copy: examples/run.sh PROGRAM [DECK]
set -euo pipefail
prog=$1
deck=${2:-column-rain}
here=$(cd "$(dirname "$0")" && pwd)
run="$here/$deck/run"
rm -rf "$run"
mkdir -p "$run"
find "$here/$deck" -maxdepth 1 -type f ! -name README.md -exec cp {} "$run" \;
cd "$run"
status=0
"$prog" || status=$?
echo "== $deck: exit status $status; main listing (first 40 lines) in $run/out.lst"
head -n 40 out.lst
exit $status
