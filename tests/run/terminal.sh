#!/usr/bin/env bash
# On a terminal (a pseudo-terminal from script(1)) a run shows one status line, redrawn, and its
# terminal log goes to terminal.log; --verbose shows the log of every iteration on the terminal.
#   tests/run/terminal.sh PROGRAM
set -euo pipefail
prog=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")/../.." && pwd)
command -v script >/dev/null || { echo "script(1) not found"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp -r "$here/tests/cases/tiny" "$tmp/d"
cd "$tmp/d"
script -qec "'$prog'" /dev/null >screen.txt </dev/null
fails=0
grep -q $'\rtime 2 / 2 (100 %), 40 steps' screen.txt || { echo "no status line:"; cat -A screen.txt | head; fails=1; }
grep -q 'CONVERGENCE BEHAVIOR' screen.txt && { echo "the iteration log is on the terminal"; fails=1; }
grep -q 'CONVERGENCE BEHAVIOR' terminal.log || { echo "terminal.log lacks the iteration log"; fails=1; }
grep -q 'run completed at time 2 after 40 steps' screen.txt || { echo "no closing summary"; fails=1; }
script -qec "'$prog' --verbose" /dev/null >verbose.txt </dev/null
grep -q 'CONVERGENCE BEHAVIOR' verbose.txt || { echo "--verbose: no iteration log on the terminal"; fails=1; }
[ "$fails" -eq 0 ] && echo "a status line on a terminal, the log with --verbose"
exit "$fails"
