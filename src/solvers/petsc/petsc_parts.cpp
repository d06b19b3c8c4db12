#include "solvers/petsc/petsc_parts.h"

#include <petscmat.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "base/procs.h"
#include "base/stop.h"

namespace nep {

namespace {

void parts_ok(PetscErrorCode e, const char* what) {
    if (e != 0) {
        input_error(std::string("PETSc failed in ") + what + " (error code " + std::to_string((int)e) +
                    "; PETSc's own message is above)");
    }
}
#define PARTS_OK(call) parts_ok((call), #call)

// The surface grid as a graph (PETSc's adjacency format, from 0): the rows lo..hi-1, each
// surface node with its neighbours along the triangles' edges, ascending, without itself. The
// arrays are PETSc's (the adjacency matrix takes them over).
void surface_graph(const dimensions& dim, const mesh& msh, PetscInt lo, PetscInt hi,
                   PetscInt** ia, PetscInt** ja) {
    std::vector<std::vector<PetscInt>> next(hi - lo);
    for (int t = 1; t <= dim.NTRI; ++t) {
        for (int a = 1; a <= 3; ++a) {
            const PetscInt i = msh.TRIANG(a, t) - 1;
            if (i < lo || i >= hi) continue;
            for (int b = 1; b <= 3; ++b) {
                const PetscInt j = msh.TRIANG(b, t) - 1;
                if (j != i) next[i - lo].push_back(j);
            }
        }
    }
    PetscInt nz = 0;
    for (auto& n : next) {
        std::sort(n.begin(), n.end());
        n.erase(std::unique(n.begin(), n.end()), n.end());
        nz += (PetscInt)n.size();
    }
    PARTS_OK(PetscMalloc1(hi - lo + 1, ia));
    PARTS_OK(PetscMalloc1(nz > 0 ? nz : 1, ja));
    (*ia)[0] = 0;
    PetscInt k = 0;
    for (PetscInt r = 0; r < hi - lo; ++r) {
        for (PetscInt j : next[r]) (*ja)[k++] = j;
        (*ia)[r + 1] = k;
    }
}

}  // namespace

std::vector<int> cut_surface(const dimensions& dim, const mesh& msh) {
    const int P = proc_count(), rank = proc_rank();
    const PetscInt nnod = dim.NNOD;

    // Process 0 cuts the graph of the whole surface, alone: PT-Scotch on several processes
    // cuts it differently from one run to the next, and so would the iterations of the solves
    // be. The surface is small beside the mesh (one node in NSTR + 1). Then every process gets
    // the parts, or the stop of process 0.
    std::vector<int> part(nnod, 0);
    // Every process reads the partitioner's options (so that none finds them unread).
    MatPartitioning mp = nullptr;
    PARTS_OK(MatPartitioningCreate(PETSC_COMM_SELF, &mp));
    PARTS_OK(MatPartitioningSetNParts(mp, P));
#if defined(PETSC_HAVE_PTSCOTCH)
    PARTS_OK(MatPartitioningSetType(mp, MATPARTITIONINGPTSCOTCH));
#endif
    PARTS_OK(MatPartitioningSetFromOptions(mp));
    std::string failed;
    if (rank == 0) {
        try {
            PetscInt* ia = nullptr;
            PetscInt* ja = nullptr;
            surface_graph(dim, msh, 0, nnod, &ia, &ja);
            Mat adj = nullptr;
            PARTS_OK(MatCreateMPIAdj(PETSC_COMM_SELF, nnod, nnod, ia, ja, nullptr, &adj));
            PARTS_OK(MatPartitioningSetAdjacency(mp, adj));
            IS is = nullptr;
            // PT-Scotch on several threads cuts the graph differently from one run to the next,
            // and so would the solves round: one thread of its own (unless the user set their
            // number) gives every run of a deck the same parts.
            setenv("SCOTCH_PTHREAD_NUMBER", "1", 0);
            PARTS_OK(MatPartitioningApply(mp, &is));
            const PetscInt* p = nullptr;
            PARTS_OK(ISGetIndices(is, &p));
            for (PetscInt i = 0; i < nnod; ++i) part[i] = (int)p[i];
            PARTS_OK(ISRestoreIndices(is, &p));
            PARTS_OK(ISDestroy(&is));
            PARTS_OK(MatDestroy(&adj));
            for (int q : part) {
                if (q < 0 || q >= P) failed = "internal error: the partitioner gave part " + std::to_string(q);
            }
        } catch (const run_stop& s) {
            failed = s.message.empty() ? std::string("the partition of the mesh failed") : s.message;
        }
    }
    MatPartitioningDestroy(&mp);
    int bad = failed.empty() ? 0 : 1;
    if (MPI_Bcast(&bad, 1, MPI_INT, 0, PETSC_COMM_WORLD) != MPI_SUCCESS ||
        (!bad && MPI_Bcast(part.data(), (int)nnod, MPI_INT, 0, PETSC_COMM_WORLD) != MPI_SUCCESS)) {
        input_error("MPI failed in handing the parts of the mesh to every process");
    }
    if (bad) input_error(rank == 0 ? failed : std::string("the partition of the mesh failed on process 0"));
    // Every process needs a column of its own (its rows of the solves); every process has the
    // same parts, and so stops alike.
    std::vector<PetscInt> ncols(P, 0);
    for (int q : part) ++ncols[q];
    for (int q = 0; q < P; ++q) {
        if (ncols[q] == 0) {
            input_error("the mesh has " + std::to_string(nnod) + " columns (surface nodes) and the run " +
                        std::to_string(P) + " processes: the partition left process " + std::to_string(q) +
                        " without a column; run on at most " + std::to_string(std::min<long>(nnod, P - 1)) +
                        " processes");
        }
    }

    return part;
}

std::shared_ptr<const column_parts> number_columns(const std::vector<int>& deck_parts,
                                                   const dimensions& dim, const mesh& msh) {
    auto cp = std::make_shared<column_parts>();
    const int P = proc_count(), rank = proc_rank();
    const PetscInt nnod = dim.NNOD, layers = dim.NSTR + 1;
    const PetscInt deck_nnod = (PetscInt)deck_parts.size();
    cp->nparts = P;
    cp->rank = rank;
    cp->columns = deck_nnod;

    // The columns of every part, the position of every column among those of its part, and the
    // new numbers of the nodes held.
    std::vector<PetscInt> ncols(P, 0), pos(deck_nnod, 0);
    for (PetscInt i = 0; i < deck_nnod; ++i) pos[i] = ncols[deck_parts[i]]++;
    cp->first.assign(P + 1, 0);
    cp->cfirst.assign(P + 1, 0);
    for (int q = 0; q < P; ++q) {
        cp->cfirst[q + 1] = cp->cfirst[q] + ncols[q];
        cp->first[q + 1] = cp->first[q] + ncols[q] * layers;
    }
    cp->part.assign(nnod, 0);
    for (PetscInt i = 0; i < nnod; ++i) cp->part[i] = deck_parts[msh.cut() ? msh.SDECK[i] - 1 : i];
    cp->number.assign((std::size_t)nnod * layers, 0);
    for (PetscInt i = 0; i < nnod; ++i) {
        const PetscInt d = msh.cut() ? msh.SDECK[i] - 1 : i;
        const int q = deck_parts[d];
        for (PetscInt L = 0; L < layers; ++L) cp->number[L * nnod + i] = cp->first[q] + L * ncols[q] + pos[d];
    }
    cp->lo = cp->first[rank];
    cp->hi = cp->first[rank + 1];
    cp->ncol = ncols[rank];
    cp->rows.assign(cp->hi - cp->lo, 0);
    for (PetscInt k = 0; k < (PetscInt)cp->number.size(); ++k) {
        const PetscInt n = cp->number[k];
        if (n >= cp->lo && n < cp->hi) cp->rows[n - cp->lo] = k;
    }
    return cp;
}

}  // namespace nep
