// The state of a run, declared once: every field of the records that the step loop changes and
// a later step or output reads, with what the machinery around the physics needs to know of it:
// what sizes it (the run's own values, one value per node, per surface node or per tetrahedron),
// whether a checkpoint holds it, its name in the ParaView series. The records' creation and
// release of the arrays of the mesh's extent (alloc_fields, release_fields; the lists sized by
// the deck stay their record's own), the checkpoint (its writing and reading), the cut of the
// mesh among the processes and the ParaView writer walk this list, each taking the fields it
// needs: a new field of the state is its member in its record and one line of state_fields.
//
// The list also gives the order of a checkpoint's entries, each named by its field ("fs.PNEW"):
// a checkpoint holds the fields in this order, and a continued run reads them in it
// (run/checkpoint.cpp).
#pragma once

#include <type_traits>

#include "records/records.h"

namespace nep {

// Where the values of a field lie: what sizes it, and how the processes of a run on meshes of
// their own hold it (each the values of what its mesh holds).
enum class extent : unsigned char {
    RUN,       // values of the run, or lists sized by the deck: the same on every process
    NODES,     // (N) a value per node
    WATER,     // (NWAT) a value per node of a mass-conservative run (KSLOPE 5), none otherwise
    SURFACE,   // (NNOD) a value per surface node (an arr2: `rows` values per surface node)
    ELEMENTS,  // (NVEL) a value per tetrahedron where the element velocities are kept
};

// What the machinery does with a field (a set of these).
enum field_use : unsigned {
    CHECKPOINT = 1u,  // a checkpoint holds it; a continued run reads it back
    COUPLED = 32u,    // created in coupled runs only
    LATER = 64u,      // created by the routine that first forms it, not with its record
};

struct field_info {
    const char* name;                  // record and field: "fs.PNEW"
    extent where = extent::RUN;
    unsigned use = CHECKPOINT;
    const char* out = nullptr;         // its point array in the ParaView series (nodal fields)
    const char* unit = "";             // "L" a length or head (named after the deck's units)
    int rows = 1;                      // an arr2 of SURFACE: the values of each surface node
};

// The fields of the state, in the order of a checkpoint's entries. f(member, info) for each:
// `member` is a pointer to the member of its record (control, dimensions, iofiles,
// extra_files, bcdata, flowstate, soil, transport, massbal, cpustat or mesh). The fields of the
// mesh's extent belong to the records mesh, bcdata, soil and flowstate (run/columns.h).
template <class F>
void state_fields(F&& f) {
#define NEP_FIELD(rec, type, name, ...) f(&type::name, field_info{#rec "." #name, __VA_ARGS__})
#define NEP_RUN(rec, type, name) NEP_FIELD(rec, type, name, extent::RUN, CHECKPOINT)
#define NEP_CTL(name) NEP_RUN(ctl, control, name)
    // Control: run parameters (the steady-state settings and the relaxation factor that the run
    // itself may change), time control, step-size history, iteration totals.
    NEP_CTL(IFLOW); NEP_CTL(ITRANS); NEP_CTL(OSC_FLAG); NEP_CTL(TETAF); NEP_CTL(TETAC);
    NEP_CTL(LUMP); NEP_CTL(LUMPC); NEP_CTL(ITMX1); NEP_CTL(ITMX2); NEP_CTL(ITMXC1);
    NEP_CTL(ITMXC2); NEP_CTL(TOLNL); NEP_CTL(TOLNLC); NEP_CTL(L2NORM); NEP_CTL(ERNLMX);
    NEP_CTL(ISOLV); NEP_CTL(IRELAX); NEP_CTL(ISOLVC); NEP_CTL(IRELAXC); NEP_CTL(OMEGA);
    NEP_CTL(OMEGAC); NEP_CTL(ITCGSY); NEP_CTL(ITCGNS); NEP_CTL(TLCGSY); NEP_CTL(TLCGNS);
    NEP_CTL(TIMEP); NEP_CTL(TIME); NEP_CTL(DELTAT); NEP_CTL(DTMIN); NEP_CTL(DTMAX);
    NEP_CTL(TMAX); NEP_CTL(DTMAGA); NEP_CTL(DTMAGM); NEP_CTL(DTREDS); NEP_CTL(DTREDM);
    NEP_CTL(NSTEP); NEP_CTL(ITER); NEP_CTL(ITERC); NEP_CTL(BKFLAG); NEP_CTL(ISTATUS);
    NEP_CTL(CPLSTA); NEP_CTL(DIFMAX); NEP_CTL(OMEGAV); NEP_CTL(ENDFLOW); NEP_CTL(ENDCPL);
    NEP_CTL(DTFIRST); NEP_CTL(DTSUM); NEP_CTL(DTSMAL); NEP_CTL(TSMAL); NEP_CTL(DTLARG);
    NEP_CTL(TLARG); NEP_CTL(NDONE); NEP_CTL(TDONE); NEP_CTL(POTBC);
    NEP_CTL(ITUNS); NEP_CTL(ITLIN); NEP_CTL(ITUNSC); NEP_CTL(ITLINC); NEP_CTL(ITLINS);
    NEP_CTL(ITLINSC); NEP_CTL(ITLTRN); NEP_CTL(NLSFAIL); NEP_CTL(ITLSOL); NEP_CTL(LSFAIL);
    NEP_CTL(NBKSTEP); NEP_CTL(OMEGAP);
    // The optional nonlinear section: the step control's memory of the step before the last, the
    // line search's halvings of the run.
    NEP_CTL(ITPREV); NEP_CTL(LSCUT);
    // The smallest storage the direct solver has needed (its report at the end).
    NEP_RUN(dim, dimensions, IBOTMN);
    // Output control: the next output time.
    NEP_RUN(io, iofiles, KPRT);

#define NEP_BC(name) NEP_RUN(bc, bcdata, name)
#define NEP_BCS(name, ...) NEP_FIELD(bc, bcdata, name, extent::SURFACE, CHECKPOINT __VA_ARGS__)
    // Boundary conditions: series records and values, Dirichlet fluxes, atmospheric switching
    // of every surface node, seepage-face exit points and fluxes, diagnostics.
    NEP_BC(DIRTIM); NEP_BC(NEUTIM); NEP_BC(DIRTAB); NEP_BC(NEUTAB); NEP_BC(DIRVAL);
    NEP_BC(NEUVAL); NEP_BC(DIREOF); NEP_BC(NEUEOF); NEP_BC(DIRFLX); NEP_BC(DIRFLP);
    NEP_BC(HSPATM); NEP_BC(ATMEOF); NEP_BC(ATMTIM);
    NEP_FIELD(bc, bcdata, ATMINP, extent::SURFACE, CHECKPOINT, nullptr, "", 3);
    NEP_BCS(ATMPOT); NEP_BCS(ATMACT); NEP_BCS(ATMACP); NEP_BCS(IFATM); NEP_BCS(IFATMP);
    NEP_BCS(SATSUR);
    NEP_BC(HGFLAG);
    NEP_BCS(ATMPOP); NEP_BCS(ATMOTH); NEP_BCS(PONDEP);
    NEP_BC(NPONDEP); NEP_BC(IEXIT); NEP_BC(IEXITP); NEP_BC(IEXOLD); NEP_BC(SFQ);
    NEP_BC(SFQOLD); NEP_BC(SFCHK); NEP_BC(SFNCVG); NEP_BC(SFCVG); NEP_BC(SFFAIL);
    NEP_BC(SFFAILT); NEP_BC(SFFLAG); NEP_BC(IBCNOD);

#define NEP_FS(name) NEP_RUN(fs, flowstate, name)
#define NEP_FSN(name, ...) NEP_FIELD(fs, flowstate, name, extent::NODES, CHECKPOINT __VA_ARGS__)
    // Heads (pressure, time-weighted, potential), velocities, concentrations, the norms of the
    // iteration and the iteration histories of the step.
    NEP_FSN(PNEW,, "pressure_head", "L");
    NEP_FSN(POLD); NEP_FSN(PSAVE); NEP_FSN(PTHETA); NEP_FSN(PTHOLD);
    NEP_FSN(HPOT,, "total_head", "L");
    NEP_FSN(HPOTP);
    NEP_FSN(HPTHETA);
    NEP_FIELD(fs, flowstate, VX, extent::ELEMENTS, CHECKPOINT);
    NEP_FIELD(fs, flowstate, VY, extent::ELEMENTS, CHECKPOINT);
    NEP_FIELD(fs, flowstate, VZ, extent::ELEMENTS, CHECKPOINT);
    NEP_FSN(VXNOD); NEP_FSN(VYNOD); NEP_FSN(VZNOD);
    NEP_FS(PINF); NEP_FS(PL2); NEP_FS(FINF); NEP_FS(FL2); NEP_FS(IKMAX); NEP_FS(PDIF);
    NEP_FS(CHGSUR); NEP_FS(CHGALL); NEP_FS(PMAXSU); NEP_FS(PMINSU); NEP_FS(NCHGALL);
    NEP_FS(NPMAXS); NEP_FS(NPMINS);
    NEP_FS(IKMAXIT); NEP_FS(PNEWIT); NEP_FS(POLDIT); NEP_FS(PDIFIT); NEP_FS(PL2IT);
    NEP_FS(FL2IT); NEP_FS(FINFIT);
    NEP_FSN(CNEW, | COUPLED, "concentration");
    NEP_FSN(COLD, | COUPLED); NEP_FSN(CSAVE, | COUPLED); NEP_FSN(CTHETA, | COUPLED);
    NEP_FSN(HPOTC, | COUPLED);
    NEP_FS(IKCIT); NEP_FS(HPOTIT); NEP_FS(HPOTCIT); NEP_FS(HDIFIT); NEP_FS(CNEWIT);
    NEP_FS(COLDIT); NEP_FS(CDIFIT); NEP_FS(HDMXIT); NEP_FS(CDMXIT);

#define NEP_SLN(name, ...) NEP_FIELD(sl, soil, name, extent::NODES, CHECKPOINT __VA_ARGS__)
    // Nodal characteristics, with the heads at which a Picard run last formed them, and the
    // water held (the mass-conservative scheme).
    NEP_SLN(SW,, "saturation");
    NEP_SLN(CKRW,, "relative_conductivity");
    NEP_SLN(STCOEF); NEP_SLN(DSTCOEF); NEP_SLN(DCKRW); NEP_SLN(CHHEAD, | LATER);
    NEP_FIELD(sl, soil, WNEW, extent::WATER, CHECKPOINT);
    NEP_FIELD(sl, soil, WSAVE, extent::WATER, CHECKPOINT);

    // Solute fluxes through the transport boundaries.
    NEP_RUN(tra, transport, TRFLX); NEP_RUN(tra, transport, TRFLXP);

#define NEP_MB(name) NEP_RUN(mb, massbal, name)
    // Balance: fluxes of the previous level, the step's balance and the sums of the run.
    NEP_MB(FLXCUR); NEP_MB(FLXPRV); NEP_MB(FLXVOL); NEP_MB(SFFLX); NEP_MB(SFFLXP);
    NEP_MB(SFVOL); NEP_MB(VIN); NEP_MB(VOUT); NEP_MB(DSTORE); NEP_MB(ERRAS); NEP_MB(ERREL);
    NEP_MB(CERRAS); NEP_MB(CINOUT); NEP_MB(CIN); NEP_MB(COUT); NEP_MB(CSTORE);
    NEP_MB(POTFLX); NEP_MB(ACTFLX); NEP_MB(OVLFLX); NEP_MB(RETFLX);
    NEP_MB(TFLXCUR); NEP_MB(TFLXPRV); NEP_MB(TFLXVOL); NEP_MB(TVIN); NEP_MB(TVOUT);
    NEP_MB(TDSTORE); NEP_MB(TERRAS); NEP_MB(TERREL); NEP_MB(TCERRAS); NEP_MB(TCINOUT);
    NEP_MB(TCIN); NEP_MB(TCOUT);
    NEP_MB(NAPCUR); NEP_MB(NAPPRV); NEP_MB(NAPVOL); NEP_MB(CNAP); NEP_MB(ATMCUR);
    NEP_MB(ATMPRV); NEP_MB(ATMVOL); NEP_MB(CATM); NEP_MB(NAPNOD); NEP_MB(NAPSTEP);
    // The water on the ground (a surface-flow section): the step's volumes and the run's sums.
    NEP_MB(SSTORE); NEP_MB(SOUT); NEP_MB(SINF); NEP_MB(SEXF);
    NEP_MB(CSSTORE); NEP_MB(CSOUT); NEP_MB(CSINF); NEP_MB(CSEXF);
    NEP_MB(UPTPOT); NEP_MB(UPTVOL); NEP_MB(CUPTPOT); NEP_MB(CUPTVOL);

    // CPU times, summed over the runs of a restarted simulation; the counts of the solves
    // handed to PETSc (with whether each system's solver has solved, run/checkpoint.cpp).
    NEP_RUN(cpu, cpustat, CPUTOT); NEP_RUN(cpu, cpustat, CPUNL); NEP_RUN(cpu, cpustat, CPUCPL);
    NEP_RUN(cpu, cpustat, FT); NEP_RUN(cpu, cpustat, TT);
    NEP_RUN(cpu, cpustat, PSF); NEP_RUN(cpu, cpustat, PST);

#define NEP_EXTRA(name) NEP_RUN(io.EXTRA, extra_files, name)
    // vtk/ and csv/: the series written so far, the totals of the last budget row, the place
    // of the last observation rows.
    NEP_EXTRA(NVTU); NEP_EXTRA(VTUTIME); NEP_EXTRA(VTUSTEP); NEP_EXTRA(VTUPIECES);
    NEP_EXTRA(ITUNS0); NEP_EXTRA(ITLIN0); NEP_EXTRA(ITUNSC0); NEP_EXTRA(NBKSTEP0);
    NEP_EXTRA(OBSPOS); NEP_EXTRA(OBSCRC); NEP_EXTRA(OBSOUT);

    // Not state, but fixed once the initial state is formed: arrays of the mesh's extent that
    // their records create with the others.
    NEP_FIELD(msh, mesh, VOLNOD, extent::NODES, 0u);
    NEP_FIELD(msh, mesh, NCONT, extent::NODES, 0u);
    NEP_FIELD(sl, soil, PORNOD, extent::NODES, 0u);
#undef NEP_EXTRA
#undef NEP_MB
#undef NEP_SLN
#undef NEP_FSN
#undef NEP_FS
#undef NEP_BCS
#undef NEP_BC
#undef NEP_CTL
#undef NEP_RUN
#undef NEP_FIELD
}

// ---- walking the list

// The record and the type of a member.
template <class M>
struct member_of;
template <class T, class R>
struct member_of<T R::*> {
    using record = R;
    using type = T;
};

template <class T>
struct is_arr1 : std::false_type {};
template <class T>
struct is_arr1<arr1<T>> : std::true_type {};
template <class T>
struct is_arr2 : std::false_type {};
template <class T>
struct is_arr2<arr2<T>> : std::true_type {};
// An array of the mesh's extent (NODES, WATER, SURFACE, ELEMENTS) is an arr1, or an arr2 of
// SURFACE (rows by surface node).
template <class T>
constexpr bool is_array_field = is_arr1<T>::value || is_arr2<T>::value;

// The record of type R among a run's records.
template <class R>
R& record_part(records& x) {
    if constexpr (std::is_same_v<R, control>) return x.ctl;
    else if constexpr (std::is_same_v<R, dimensions>) return x.dim;
    else if constexpr (std::is_same_v<R, iofiles>) return x.io;
    else if constexpr (std::is_same_v<R, extra_files>) return x.io.EXTRA;
    else if constexpr (std::is_same_v<R, bcdata>) return x.bc;
    else if constexpr (std::is_same_v<R, flowstate>) return x.fs;
    else if constexpr (std::is_same_v<R, soil>) return x.sl;
    else if constexpr (std::is_same_v<R, transport>) return x.tra;
    else if constexpr (std::is_same_v<R, massbal>) return x.mb;
    else if constexpr (std::is_same_v<R, cpustat>) return x.cpu;
    else if constexpr (std::is_same_v<R, mesh>) return x.msh;
    else static_assert(std::is_same_v<R, void>, "a record of the state without its place in records");
}

// Whether the field exists in a run (its record creates it).
inline bool field_exists(const field_info& fi, const control& ctl) {
    return !((fi.use & COUPLED) && ctl.ITRANS == 0);
}
inline bool field_exists(const field_info& fi, bool coupled) {
    return coupled || !(fi.use & COUPLED);
}

// The values of a field of the mesh's extent at the sizes of dim (rows per surface node aside).
inline long extent_size(extent e, const dimensions& dim) {
    long n = 0;
    switch (e) {
        case extent::RUN: n = 0; break;
        case extent::NODES: n = dim.N; break;
        case extent::WATER: n = dim.NWAT; break;
        case extent::SURFACE: n = dim.NNOD; break;
        case extent::ELEMENTS: n = dim.NVEL; break;
    }
    return n > 0 ? n : 0;
}

// Every field of record R: f(array or value, info).
template <class R, class F>
void record_fields(R& r, F&& f) {
    state_fields([&](auto m, const field_info& fi) {
        using M = member_of<decltype(m)>;
        if constexpr (std::is_same_v<typename M::record, R>) f(r.*m, fi);
    });
}

// The nodal fields of the soil and the flow state that the ParaView series (and the HDF5 results
// file) names, those of coupled runs (of_coupled) or of every run, in the list's order:
// f(info, the array or null where the record is not given). `coupled`: whether the run is.
template <class F>
void series_fields(bool coupled, bool of_coupled, const soil* sl, const flowstate* fs, F&& f) {
    state_fields([&](auto m, const field_info& fi) {
        using M = member_of<decltype(m)>;
        using R = typename M::record;
        if constexpr (std::is_same_v<typename M::type, arr1<double>> &&
                      (std::is_same_v<R, soil> || std::is_same_v<R, flowstate>)) {
            if (fi.out == nullptr || fi.where != extent::NODES) return;
            if (((fi.use & COUPLED) != 0) != of_coupled || !field_exists(fi, coupled)) return;
            const arr1<double>* v = nullptr;
            if constexpr (std::is_same_v<R, soil>) v = sl != nullptr ? &(sl->*m) : nullptr;
            else v = fs != nullptr ? &(fs->*m) : nullptr;
            f(fi, v);
        }
    });
}

// Creates the arrays of the mesh's extent that record R declares, at the sizes of dim (those of
// coupled runs in coupled runs; those created later, not). The record's other arrays are its own.
template <class R>
void alloc_fields(const dimensions& dim, bool coupled, R& r) {
    record_fields(r, [&](auto& a, const field_info& fi) {
        using T = std::remove_reference_t<decltype(a)>;
        if constexpr (is_array_field<T>) {
            if (fi.where == extent::RUN || (fi.use & LATER) || !field_exists(fi, coupled)) return;
            const long n = extent_size(fi.where, dim);
            if constexpr (is_arr2<T>::value) a.alloc(fi.rows, n);
            else a.alloc((std::size_t)n);
        }
    });
}

// Releases every array that record R declares.
template <class R>
void release_fields(R& r) {
    record_fields(r, [](auto& a, const field_info&) {
        using T = std::remove_reference_t<decltype(a)>;
        if constexpr (is_array_field<T>) a.release();
    });
}

}  // namespace nep
