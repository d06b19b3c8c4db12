#!/usr/bin/env bash
# A deck that stops on its input leaves the previous run's files as they were, byte for byte
# (csv/, vtk/ and a plots/ folder included), and says on standard error which file, line and
# value stopped it: one error in each of the twelve input files of a coupled run.
#   tests/run/keep_results.sh PROGRAM
set -euo pipefail
prog=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp -r "$here/tests/cases/tiny" "$tmp/good"
sed -i '2s/.*/1 1 F/' "$tmp/good/parm"
# A zero prescribed flux at node 5, so that the flux series is read too.
printf 'F\n0\n4\n9 10 11 12\n1\n5\n' >"$tmp/good/nansfbc"
printf '0.0\n0.0\n10.0\n0.0\n' >"$tmp/good/neuts"
(cd "$tmp/good" && "$prog" >/dev/null 2>&1)
mkdir "$tmp/good/plots" && echo "a picture" >"$tmp/good/plots/budget.png"
snapshot() { (cd "$1" && find . -type f ! -name 'err.txt' | sort | xargs md5sum); }

fails=0
# file, line, its new text, what standard error must name
while IFS='|' read -r file line text expect; do
  d="$tmp/$file-$line"
  cp -r "$tmp/good" "$d"
  sed -i "${line}s/.*/$text/" "$d/$file"
  before=$(snapshot "$d")
  status=0
  (cd "$d" && "$prog" >/dev/null 2>err.txt) || status=$?
  if [ "$status" -ne 1 ]; then
    echo "$file line $line: exit status $status, not 1"; fails=1
  fi
  if ! grep -qF -- "$expect" "$d/err.txt"; then
    echo "$file line $line: standard error does not say \"$expect\":"; cat "$d/err.txt"; fails=1
  fi
  if [ "$(snapshot "$d")" != "$before" ]; then
    echo "$file line $line: the previous run's files changed:"
    diff <(echo "$before") <(snapshot "$d") | head -5; fails=1
  fi
  if ls "$d" | grep -q 'nepora-new'; then echo "$file line $line: temporaries left"; fails=1; fi
done <<'CASES'
parm|14|0.0 -0.01 1.0e-5 0.25 2.0|parameter file 'parm' line 14: DELTAT = -0.01
parm|19|1 99|parameter file 'parm' line 19: IPOUT(2) = 99 is not a node of the mesh (1..N = 12)
grid|3|0 7 1.0|grid file 'grid' line 3: ISP = 7
nansfbc|4|9 10 11 40|line 4: entry 4 of the NDIRC list is node 40, outside 1..N = 12
dirts|2|0.0 0.0 x 0.0|dirts' line 2: expected a real number, found 'x'
neuts|2|ten|neuts' line 2: expected a real number, found 'ten'
atmbc|3|0,001 0.5|atmbc' line 3
sfbc|1|-1|sfbc' line 1
soil|8|1.0 1.0 1.0 1.0e-4 0,4 0.3|soil' line 8: 2 values left unread at the end of the record ('4' ...); is '0,4' meant as 0.4?
soil|9|1.0 -2.0 1.0 1.0e-4 0.4|soil' line 9: layer 2, material 1: Y-PERM = -2
flowic|3|zero|flowic' line 3: expected a real number, found 'zero'
transic|2|0.0d|transic' line 2: expected a real number, found '0.0d'
solute|2|0.1 0.01 one|solute' line 2: expected a real number, found 'one'
transbc|1|-2|transbc' line 1: NP2C = -2 is negative
CASES
[ "$fails" -eq 0 ] && echo "previous results kept for an error in each input file"
exit "$fails"
