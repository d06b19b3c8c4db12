#!/usr/bin/env bash
# cmake --install puts the programs, the tools and the reference under a prefix, and the installed
# program runs an installed example.
#   tests/run/install.sh BUILD_DIR
set -euo pipefail
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$1" --prefix "$tmp/usr" >/dev/null
fails=0
for f in bin/nepora3d bin/nepora3d_alt bin/nepora-plot share/doc/nepora3d/input.md \
         share/doc/nepora3d/output.md share/doc/nepora3d/README.md \
         share/doc/nepora3d/examples/column-rain/parm; do
  [ -e "$tmp/usr/$f" ] || { echo "not installed: $f"; fails=1; }
done
cp -r "$tmp/usr/share/doc/nepora3d/examples/column-rain" "$tmp/run"
rm -f "$tmp/run/README.md"
"$tmp/usr/bin/nepora3d" --quiet "$tmp/run" 2>"$tmp/err" || { echo "the installed program failed:"; cat "$tmp/err"; fails=1; }
grep -q 'run completed at time 24' "$tmp/err" || { echo "no summary:"; cat "$tmp/err"; fails=1; }
# The mesh tool finds the package installed beside it.
if [ -x /usr/bin/python3 ] && /usr/bin/python3 -c 'import numpy' 2>/dev/null; then
  (cd "$tmp" && PATH=/usr/bin:/bin "$tmp/usr/bin/nepora-mesh" --help >"$tmp/mesh" 2>&1) ||
    { echo "the installed nepora-mesh failed:"; cat "$tmp/mesh"; fails=1; }
fi
[ "$fails" -eq 0 ] && echo "installed and run"
exit "$fails"
