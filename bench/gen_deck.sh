#!/usr/bin/env bash
# Writes a large benchmark deck: a rectangular surface grid of NX x NY nodes over 20 layers
# (about 200,000 nodes and 1.2 million tetrahedra for the default 100 x 100), a water table at
# the bottom, hydrostatic initial heads and steady rain on the whole surface.
#   bench/gen_deck.sh DIR [NX] [NY] [NSTR] [STEPS]
set -euo pipefail
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

cat > parm <<PARM
0                        IPRT1
1 0 F                    IFLOW ITRANS OSC_FLAG
0 0.01                   KSLOPE TOLKSL
-3.0 -1.0 -3.0 -1.0      PKRL PKRR PSEL PSER
-3.0 -2.0 -2.0 -1.0      PDSE1L PDSE1R PDSE2L PDSE2R
0 0                      ISFONE ISFCVG
1.0 1 1.0 1              TETAF LUMP TETAC LUMPC
10 4 8 1.0e-3            ITMX ITMX1 ITMX2 TOLNL
10 4 8 1.0e-3            ITMXC ITMXC1 ITMXC2 TOLNLC
0 1.0e9                  L2NORM ERNLMX
0 0 1.0                  ISOLV IRELAX OMEGA
0 0 1.0                  ISOLVC IRELAXC OMEGAC
1000 1.0e-10 1000 1.0e-10 ITCGSY TLCGSY ITCGNS TLCGNS
0.0 $dt 1.0e-4 $dt $tmax  TIMEP DELTAT DTMIN DTMAX TMAX
0.0 1.0 0.0 0.5          DTMAGA DTMAGM DTREDS DTREDM
0 0 0                    IPRT ISEC NPRT
0                        NUMVP
0                        NR
PARM

# Grid: flat surface at 10 m, 5 m deep, layers thinner near the surface.
awk -v nx="$nx" -v ny="$ny" -v nstr="$nstr" -v nnod="$nnod" -v ntri="$ntri" 'BEGIN {
    print 1, nstr, 40
    print nnod, ntri
    print 0, 0, 5.0
    line = ""
    for (l = 1; l <= nstr; ++l) line = line sprintf(" %.10f", 1.0 / nstr)
    print line
    print 10.0
    for (j = 1; j < ny; ++j) for (i = 1; i < nx; ++i) {
        a = (j - 1) * nx + i; b = a + 1; c = a + nx; d = c + 1
        print a, b, d, 1
        print a, d, c, 1
    }
    for (j = 1; j <= ny; ++j) for (i = 1; i <= nx; ++i) print (i - 1) * 1.0, (j - 1) * 1.0
}' > grid

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
printf '0\n0.0\n' > transic
printf '1.0 0.0 0.0 0.0\n' > solute
printf '0\n0\n0\n' > transbc
{
    printf '%s\n' parm grid nansfbc dirts neuts atmbc sfbc soil flowic transic solute transbc
    printf '%s\n' out.lst coords.out conv.out mbal.out cpl.out vp.out vpc.out hgatm.out hgnatm.out \
        hgflag.out sfflag.out heads.out vel.out conc.out sw.out ckrw.out elvel.out surfp.out \
        satsur.out surfsw.out surfc.out dirbc.out neubc.out hgsf.out hgdir.out hgneu.out \
        view1.out view2.out view3.out view4.out
} > nepora3d.fnames
echo "deck in $dir: $nnod surface nodes, $ntri triangles, $n nodes, $((3 * ntri * nstr)) tetrahedra, $steps steps"
