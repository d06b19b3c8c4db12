#!/usr/bin/env bash
# Writes a large benchmark deck: a rectangular surface grid of NX x NY nodes over 20 layers
# (about 200,000 nodes and 1.2 million tetrahedra for the default 100 x 100), a water table at
# the bottom, hydrostatic initial heads and steady rain on the whole surface.
#   bench/gen_deck.sh DIR [NX] [NY] [NSTR] [STEPS]
set -euo pipefail
. "$(dirname "$0")/deck_common.sh"
dir=$1
nx=${2:-100}
ny=${3:-100}
nstr=${4:-20}
steps=${5:-30}
mkdir -p "$dir"
cd "$dir"
nnod=$((nx * ny))
ntri=$((2 * (nx - 1) * (ny - 1)))
n=$((nnod * (nstr + 1)))
dt=0.01
tmax=$(awk -v s="$steps" -v d="$dt" 'BEGIN { printf "%.6f", s * d }')

write_parm "1000 1.0e-10 1000 1.0e-10" "0.0 $dt 1.0e-4 $dt $tmax" "0.0 1.0 0.0 0.5"

# Grid: flat surface at 10 m, 5 m deep, layers thinner near the surface.
awk -v nx="$nx" -v ny="$ny" -v nstr="$nstr" -v nnod="$nnod" -v ntri="$ntri" 'BEGIN {
    print 1, nstr, 40
    print nnod, ntri
    print 0, 0, 5.0
    line = ""
    for (l = 1; l <= nstr; ++l) line = line sprintf(" %.10f", 1.0 / nstr)
    print line
    print 10.0
}' > grid
write_triangles "$nx" "$ny"

# Water table at the bottom: the bottom node layer is held at pressure head 0.
awk -v nnod="$nnod" -v nstr="$nstr" 'BEGIN {
    print "F"; print 0; print nnod
    line = ""
    for (i = 1; i <= nnod; ++i) { line = line " " (nstr * nnod + i); if (i % 10 == 0) { print line; line = "" } }
    if (line != "") print line
    print 0
}' > nansfbc
awk -v nnod="$nnod" 'BEGIN {
    for (t = 0; t <= 1; ++t) { print t * 1000.0; line = ""
        for (i = 1; i <= nnod; ++i) { line = line " 0.0"; if (i % 10 == 0) { print line; line = "" } }
        if (line != "") print line }
}' > dirts
printf '0.0\n1000.0\n' > neuts
printf '1\n0.0\n0.02\n1000.0\n0.02\n' > atmbc
printf '0\n' > sfbc
cat > soil <<SOIL
-50.0
0
2.0 0.06 -0.5
1.0 2.0 1.0 0.0 0.0
3.0
1.0 1.0
2.0 0.05 -0.5
SOIL
for ((l = 1; l <= nstr; ++l)); do echo "0.1 0.1 0.1 1.0e-4 0.40" >> soil; done
printf 'T\n0\n5.0\n' > flowic
finish_deck
echo "deck in $dir: $nnod surface nodes, $ntri triangles, $n nodes, $((3 * ntri * nstr)) tetrahedra, $steps steps"
