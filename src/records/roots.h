// Root water uptake: the optional roots section of the parameter file and what the uptake needs
// on the mesh of this process.
//
// Plants take water out of the soil along each column's root zone. Under an evaporative demand
// (a negative rate of the atmospheric input, the potential evapotranspiration) the share FRAC of
// the demand of a surface node is potential transpiration Tp, the rest stays the potential
// evaporation of the ground. Node i of the column below surface node j gives up
//   S_i = alpha(psi_i) Tp_j WT(i),
// WT the column's root density times the node's volume, normalised to sum 1 down the column (so
// that the column meets Tp where no node is stressed), alpha Feddes' reduction for water stress.
#pragma once

#include <string>
#include <vector>

#include "base/array.h"

namespace nep {

enum class root_shape { UNIFORM, LINEAR };

struct roots {
    bool ON = false;                 // the section is present (a ROOTS line)
    // Per material code of the surface triangles (one value for all when a single one is given):
    // the share of the potential evapotranspiration that is transpiration, the depth of the root
    // zone below the ground (deck length unit) and the shape of the root density in it.
    std::vector<double> FRAC, DEPTH;
    std::vector<root_shape> SHAPE;
    long FRACLINE = 0, DEPTHLINE = 0, SHAPELINE = 0, FEDLINE = 0;  // their lines (0: none)
    // Feddes' pressure heads (deck length unit): no uptake above H1 (too wet) or below H4 (wilting),
    // the full rate between H2 and H3, linear in between.
    double H1 = 0.0, H2 = 0.0, H3 = 0.0, H4 = 0.0;

    // Formed by roots_setup on the mesh of this process: per node its weight in its column's
    // uptake (N; the share of each surface node's demand that is transpiration goes to
    // bcdata::TRFRAC); the sink of every node in the last iteration (N, volume per time,
    // out positive), its derivative by the head, and its position on the diagonal of the flow
    // matrix (N, 0: no row here).
    arr1<double> WT, SINK, DSINK;
    arr1<int> DPOS;
};

}  // namespace nep
