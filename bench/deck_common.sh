#!/usr/bin/env bash
# Pieces shared by the benchmark deck generators (sourced by gen_deck.sh and gen_slope.sh).

# The parameter file: Picard, KSLOPE 0, no output but the listing; $1 the CG limits and
# tolerances, $2 the time control (TIMEP DELTAT DTMIN DTMAX TMAX), $3 its growth and reduction.
write_parm() {
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
$1 ITCGSY TLCGSY ITCGNS TLCGNS
$2 TIMEP DELTAT DTMIN DTMAX TMAX
$3 DTMAGA DTMAGM DTREDS DTREDM
0 0 0                    IPRT ISEC NPRT
0                        NUMVP
0                        NR
PARM
}

# The triangles of an NX x NY grid of nodes 1 m apart, numbered row by row, then their
# coordinates (awk, appended to the grid file).
write_triangles() {
  awk -v nx="$1" -v ny="$2" 'BEGIN {
    for (j = 1; j < ny; ++j) for (i = 1; i < nx; ++i) {
        a = (j - 1) * nx + i; b = a + 1; c = a + nx; d = c + 1
        print a, b, d, 1
        print a, d, c, 1
    }
    for (j = 1; j <= ny; ++j) for (i = 1; i <= nx; ++i) print (i - 1) * 1.0, (j - 1) * 1.0
  }' >> grid
}

# The transport files (not read: the runs are flow-only) and the fnames file.
finish_deck() {
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
}
