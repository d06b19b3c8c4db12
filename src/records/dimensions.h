// Problem sizes: the counts read from the input files and the sizes derived from them, fixed
// once the first pass over the input is done.
#pragma once


namespace nep {

struct dimensions {
    int NNOD = 0, NTRI = 0;          // surface nodes and triangles
    int NZONE = 0, NSTR = 0, N1 = 0; // material types, layers, largest number of nodal contacts
    int N1C = 0;                     // copy of N1 for the transport pattern
    int N = 0, NT = 0;               // nodes and tetrahedra of the 3-D mesh
    int NTRI3 = 0;                   // 3*NTRI, surface triangle corners
    int NDIR = 0, NDIRC = 0, NP = 0, NQ = 0;
    int NSF = 0, NSFNMX = 0, NBCMAX = 0;
    int NP2C = 0, NPFC = 0, NPC = 0, NMC = 0;
    int NTERM = 0, NTERMC = 0;
    int ITMX = 0, ITMXC = 0;
    int NR = 0, NPRT = 0, NUMVP = 0;
    int NWAT = 0;                    // N under KSLOPE = 5 (nodal water contents), else 0
    int NGEO = 0;                    // NT when the element geometry is kept, else 0
    int NVEL = 0;                    // NT when the element velocities are kept (coupled runs,
                                     // IPRT > 3), else 0
    int INONSY = 0;
    int LIMNS1 = 1200000;
    int IBOTMN = 1200000;
    int LENNS = 0;
    int INTBOT = 0;
};

}  // namespace nep
