#!/usr/bin/env bash
# cmake --install puts the programs, the tools and the reference under a prefix, and the installed
# program runs an installed example.
#   NEPORA_PYTHON3=PYTHON tests/run/install.sh BUILD_DIR
set -euo pipefail
: "${NEPORA_PYTHON3:?the Python 3 of the tests}"
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
# The installed tools start with the Python of the tests (NEPORA_PYTHON3, which has the packages),
# whatever python3 comes first on PATH (here one that fails), and the mesh tool finds the package
# installed beside it.
mkdir "$tmp/path" && printf '#!/bin/sh\nexit 3\n' >"$tmp/path/python3" && chmod +x "$tmp/path/python3"
for t in nepora-plot nepora-mesh; do
  [ "$(head -1 "$tmp/usr/bin/$t")" = "#!$NEPORA_PYTHON3" ] || { echo "$t starts with $(head -1 "$tmp/usr/bin/$t")"; fails=1; }
  (cd "$tmp" && PATH=$tmp/path:$PATH "$tmp/usr/bin/$t" --help >"$tmp/help" 2>&1) ||
    { echo "the installed $t --help failed:"; cat "$tmp/help"; fails=1; }
done
[ "$fails" -eq 0 ] && echo "installed and run"
exit "$fails"
