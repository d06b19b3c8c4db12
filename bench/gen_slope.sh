#!/usr/bin/env bash
# Writes a solver-heavy benchmark deck: a hillslope of NX x NY surface nodes (1 m apart) rising
# 2 % along x over NSTR layers to a flat bottom, a water table inside it held by an outlet along
# the low edge (potential head 8 m replicated down the verticals), light rain, and steps that
# grow from 0.01 d to 0.5 d, so that the conjugate gradients need tens of iterations.
#   bench/gen_slope.sh DIR [NX] [NY] [NSTR] [TMAX]
set -euo pipefail
. "$(dirname "$0")/deck_common.sh"
dir=$1
nx=${2:-100}
ny=${3:-100}
nstr=${4:-20}
tmax=${5:-10.0}
mkdir -p "$dir"
cd "$dir"
nnod=$((nx * ny))
ntri=$((2 * (nx - 1) * (ny - 1)))

write_parm "2000 1.0e-10 2000 1.0e-10" "0.0 0.01 1.0e-4 0.5 $tmax" "0.0 1.5 0.0 0.5"

# Surface from 10 m (x = 0) rising 2 %, flat bottom 6 m below the lowest point.
awk -v nx="$nx" -v ny="$ny" -v nstr="$nstr" -v nnod="$nnod" -v ntri="$ntri" 'BEGIN {
    print 1, nstr, 40
    print nnod, ntri
    print 1, 1, 6.0
    line = ""
    for (l = 1; l <= nstr; ++l) line = line sprintf(" %.10f", 1.0 / nstr)
    print line
    line = ""
    for (j = 1; j <= ny; ++j) for (i = 1; i <= nx; ++i) {
        line = line sprintf(" %.4f", 10.0 + 0.02 * (i - 1)); if (length(line) > 100) { print line; line = "" } }
    if (line != "") print line
}' > grid
write_triangles "$nx" "$ny"

# The outlet: the surface nodes of the low edge (x = 0), replicated down their verticals, at a
# potential head of 8 m.
awk -v nx="$nx" -v ny="$ny" 'BEGIN {
    print "T"; print ny
    line = ""
    for (j = 1; j <= ny; ++j) { line = line " " ((j - 1) * nx + 1); if (j % 10 == 0) { print line; line = "" } }
    if (line != "") print line
    print 0; print 0
}' > nansfbc
awk -v ny="$ny" 'BEGIN {
    for (t = 0; t <= 1; ++t) { print t * 1000.0; line = ""
        for (j = 1; j <= ny; ++j) { line = line " 8.0"; if (j % 10 == 0) { print line; line = "" } }
        if (line != "") print line }
}' > dirts
printf '0.0\n' > neuts
printf '1\n0.0\n0.005\n1000.0\n0.005\n' > atmbc
printf '0\n' > sfbc
cat > soil <<SOIL
-50.0
0
1.8 0.06 -0.8
1.0 2.0 1.0 0.0 0.0
3.0
1.0 1.0
2.0 0.05 -0.5
SOIL
for ((l = 1; l <= nstr; ++l)); do echo "1.0 1.0 0.2 1.0e-4 0.35" >> soil; done
printf 'T\n0\n9.0\n' > flowic
finish_deck
echo "deck in $dir: $nnod surface nodes, $ntri triangles, $((nnod * (nstr + 1))) nodes, $((3 * ntri * nstr)) tetrahedra, to $tmax d"
