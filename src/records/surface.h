// Surface water: the optional surface-flow section of the parameter file, the coefficients the
// surface package forms once from the surface mesh, and the balance of the water on the ground.
//
// The depth of water on the ground at a surface node is the positive part of the node's pressure
// head: the water standing on the ground and the soil under it share the node's head (the soil is
// saturated under standing water), so surface water is no state of its own beside PNEW and PSAVE.
// Its rows are the surface nodes' rows of the flow system, to which the surface package adds the
// storage of the standing water, its flow to the neighbouring nodes and its discharge at the
// outlets (surface/overland.h).
#pragma once

#include <string>
#include <vector>

#include "base/array.h"

namespace nep {

enum class surface_wave { DIFFUSION, KINEMATIC };
enum class outlet_kind { CRITICAL, NORMAL, LEVEL };

// An outlet: boundary nodes of the surface through which the water leaves (or, under a level
// above the water, enters).
struct surface_outlet {
    outlet_kind kind = outlet_kind::CRITICAL;
    double level = 0.0;          // LEVEL: the depth of water held outside the outlet
    long line = 0;               // its line in the parameter file
    std::vector<int> deck;       // its nodes in the deck's numbering
    // Per node, formed on the deck's whole surface before any cut: the outflow width (half of
    // the boundary edges at the node), the ground slope (NORMAL) and the conveyance 1/n of the
    // triangles around it (in the deck's units), the node's area over its width (LEVEL).
    std::vector<double> width, slope, conv, reach;
    std::vector<int> node;       // the nodes here (0: not held)
};

// Work of the flow iterations: the gradient of the mobile depth at every surface node, and the
// change of each surface node's head in the last iteration of the step (NNOD each); the sums of
// the balance of a step.
struct surface_work {
    arr1<double> GX, GY, DPREV;
    std::vector<double> SUMS;
};

struct surface {
    bool ON = false;                       // the section is present
    surface_wave WAVE = surface_wave::DIFFUSION;
    std::vector<double> MANN;              // Manning's n per material code (s m^-1/3), as read
    long MANNLINE = 0;                     // the line of MANNING (0: none)
    double DEPST = 0.0;                    // depression storage: depth below which water stays
    std::vector<surface_outlet> OUT;
    // The deck's units, in metres and seconds (UNITS, else metres and seconds): the gravity and
    // the factor of 1/n in the deck's units.
    double GRAV = 9.80665, CONVF = 1.0;

    // Formed by surface_setup for the mesh of this process: per triangle the weights of its
    // edges 1-2, 2-3, 3-1 (the off-diagonal entries, negated, of the linear element's Laplacian,
    // obtuse corners cut to 0), the gradients of its three basis functions (x then y), its ground
    // slope and its conveyance 1/n (deck units); the positions of the edge entries in the flow
    // matrix (symmetric storage: the upper entry of each edge; full storage: (i,j) then (j,i)).
    arr2<double> TW, TG;                   // (3, NTRI), (6, NTRI)
    arr1<double> TS, TR;                   // (NTRI)
    arr2<int> TPOS;                        // (6, NTRI)
    bool FULL = false;

    arr1<int> DPOS;                        // (NNOD) the diagonal of each surface node's row
    arr1<double> QLAT;                     // (NNOD) work: net outflow to the neighbours
    arr1<double> TA, NA;                   // triangle areas (NTRI), their sums at the nodes (NNOD)
    mutable surface_work WORK;
};

}  // namespace nep
