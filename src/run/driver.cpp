#include "run/driver.h"

#include <utility>

#include "base/format.h"
#include "base/interrupt.h"
#include "base/procs.h"
#include "base/stop.h"
#include "base/timer.h"
#include "bc/atmosphere.h"
#include "bc/exitpoint.h"
#include "bc/initial.h"
#include "bc/prescribed.h"
#include "bc/seepage.h"
#include "bc/series.h"
#include "flow/assemble.h"
#include "flow/velocity.h"
#include "mesh/csr.h"
#include "mesh/geometry.h"
#include "mesh/grid.h"
#include "output/balance.h"
#include "output/export.h"
#include "output/extras.h"
#include "output/results.h"
#include "run/checkpoint.h"
#include "run/columns.h"
#include "run/cputime.h"
#include "run/fileset.h"
#include "run/finalstate.h"
#include "run/flowsolve.h"
#include "run/flowtransolve.h"
#include "run/parm.h"
#include "run/progress.h"
#include "run/timestep.h"
#include "soil/curves.h"
#include "soil/roots.h"
#include "soil/soilread.h"
#include "surface/overland.h"
#include "solvers/petsc.h"
#include "transport/solute.h"
#include "transport/trbc.h"

namespace nep {

void check(const dimensions& dim, const control& ctl, iofiles& io) {
    bool bad = false;
    if (dim.INONSY >= 2) {
        wfmt(io.out(6), "(/,' ERROR: INONSY SHOULD BE SET TO 0 OR 1')");
        bad = true;
    }
    if (dim.INONSY != 1 && ctl.ITRANS != 0 && ctl.ISOLVC == 3) {
        wfree(io.out(6));
        wfmt(io.out(6), "(/,' ERROR: INONSY SHOULD BE SET TO 1 FOR THE',"
                        "' NONSYM SOLVER')");
        bad = true;
    }
    if (bad) {
        input_error(io.in(5).role() + " '" + io.in(5).name() + "': ISOLV = " + std::to_string(ctl.ISOLV) +
                    ", ISOLVC = " + std::to_string(ctl.ISOLVC) +
                    ": the nonsymmetric storage these solvers need was not sized for them");
    }
}

void datin_grid(records& R) {
    read_parm(R.dim, R.ctl, R.io, R.bc, R.sl, R.sf);
    read_grid(R.dim, R.ctl, R.io, R.msh);
}

void datin_rest(records& R, const mesh* held) {
    together([&] {
        read_flow_nansfbc(R.dim, R.io, R.bc);
        read_flow_sfbc(R.dim, R.io, R.bc);
        read_soil(R.dim, R.io, R.sl);
    });
    read_flow_ic(R.dim, R.ctl, R.io, R.fs, held);
    if (R.ctl.ITRANS != 0) {
        read_transp_ic(R.dim, R.io, R.fs, held);
        together([&] {
            read_transp_solute(R.dim, R.io, R.sl);
            read_transp_bc(R.dim, R.ctl, R.io, R.tra);
        });
    }
    together([&] {
        if (R.ctl.DIALECT == dialect::ALT) {
            wfmt(R.io.out(6), "(/,5X,'N      (# OF NODES IN 3-D MESH)         = ',I6,"
                              "/,5X,'NT     (# OF TETRAHEDRA IN 3-D MESH)    = ',I6)",
                 R.dim.N, R.dim.NT);
        } else {
            wfmt(R.io.out(6), "(/,5X,'N      (# OF NODES IN 3-D MESH)         = ',I9,"
                              "/,5X,'NT     (# OF TETRAHEDRA IN 3-D MESH)    = ',I9)",
                 R.dim.N, R.dim.NT);
        }
    });
}

void initial(records& R, const deck_nodes* dn) {
    dimensions& dim = R.dim;
    control& ctl = R.ctl;
    iofiles& io = R.io;
    together([&] {
        for (int i = 0; i < 10; ++i) R.cpu.FT[i] = R.cpu.TT[i] = 0.0f;
        R.cpu.CPUNL = R.cpu.CPUCPL = 0.0f;
        timinit(ctl);
        if (ctl.PTC.ARMED && io.CKPT.ON) ctl.PTC.ARMED = false;  // checkpoints hold no pseudo-time
        if (ctl.PTC.ASKED && !ctl.PTC.ARMED) {
            input_error(std::string("--pseudo-transient continues a steady-state solve (DELTAT 1e10 or "
                                    "more) of flow alone, without checkpoints: ") +
                        (ctl.DELTAT < 1.0e10 ? "this deck is a transient one"
                         : ctl.ITRANS != 0   ? "this deck is a coupled one (ITRANS is not 0)"
                                             : "checkpoints were asked for"));
        }
        flowinit(dim, ctl, io, R.msh, R.sl, R.fs, dn);
    });
    if (!io.INITFROM.empty()) initial_from(dim, ctl, io, R.msh, R.fs);
    together([&] {
        if (ctl.ITRANS != 0) {
            // The transport state: counters and totals, boundary fluxes, balance accumulators, and
            // the working concentrations from the initial ones (read into CSAVE).
            ctl.ITERC = 1;
            ctl.ITUNSC = ctl.ITLINC = ctl.ITLINSC = ctl.ITLTRN = 0;
            R.tra.TRFLX.fill(0.0);
            mbinit_transport(R.mb);
            for (int i = 1; i <= dim.N; ++i) {
                R.fs.CNEW(i) = R.fs.CSAVE(i);
                R.fs.COLD(i) = R.fs.CSAVE(i);
                R.fs.CTHETA(i) = R.fs.CSAVE(i);
                R.fs.HPOTC(i) = R.fs.HPOT(i);
            }
        }
        bcinit(dim, ctl, io, R.msh, R.bc, R.sl, R.fs);
        if (ctl.PTC.ARMED) hold_series(dim, R.bc);
    });
}

void initial_rest(records& R) {
    dimensions& dim = R.dim;
    control& ctl = R.ctl;
    iofiles& io = R.io;
    sfinit(dim, ctl, io, R.bc, R.fs);
    start_heads(dim, ctl, R.fs);
    mbinit(dim, ctl, R.msh, R.bc, R.mb);
    tpnodic(dim, ctl, io, R.msh, R.sl);
    chinit(dim, ctl, io, R.sl);
    swkrw(dim, R.sl, R.fs.PNEW);
    elmgeo(dim, ctl, io, R.msh);
    velcmp(dim, ctl, R.msh, R.sl, R.fs);
    lmass(ctl.LUMP, R.sp.LMASS);
    if (ctl.ITRANS != 0) lmass(ctl.LUMPC, R.sp.LMASSC);
}

// The surface-flow section checked against the deck's whole surface; the water on the ground is
// then routed instead of held at ponding, and the balance has its lines.
void surface_start(records& R) {
    surface_check(R.dim, R.io, R.msh, R.sf);
    if (!R.sf.ON) return;
    if (R.ctl.ITRANS != 0) {
        input_error(R.io.IN[5].role() + " '" + R.io.IN[5].name() +
                    "': the surface-flow section runs without transport (ITRANS = 0): the solute "
                    "in the water on the ground is not modelled");
    }
    R.bc.PONDRT = true;
    R.mb.SURFON = true;
}

namespace {

// A checkpoint holds the solver selectors of the parameter file, so that a run continued from
// it on another number of processes solves with its own: they stand in ISOLV and ISOLVC while
// one is written.
struct file_selectors {
    control& c;
    explicit file_selectors(control& ctl) : c(ctl) { swap(); }
    ~file_selectors() { swap(); }
    void swap() {
        std::swap(c.ISOLV, c.ISOLVD);
        std::swap(c.ISOLVC, c.ISOLVCD);
    }
};

}  // namespace

int nepora3d(records& R) {
    double start = 0.0;
    timer(start, 1);
    control& ctl = R.ctl;
    iofiles& io = R.io;
    const bool restart = !io.CKPT.RESTART.empty();
    // Several processes: what runs outside the solves, and so outside PETSc's collective calls,
    // runs in sections whose stop on any process is a stop on all (base/procs.h).
    together([&] {
        checkpoint_start(R);
        wfree(io.out(6), "   NEPORA-3D: COUPLED FLOW AND TRANSPORT CODE: 2 NxN SYSTEMS SOLVED ");
        check(R.dim, ctl, io);
        datin_grid(R);
    });
    // Several processes: each builds its own columns of the deck's surface, cut into parts as
    // soon as it is read (run/columns.h), and keeps the values of its nodes alone of what the
    // deck gives per node; process 0 writes the deck's nodes block after block, gathered in turn
    // from the processes that own them (mesh/blocks.h).
    std::vector<int> deck_parts;
    mesh maps;
    if (R.msh.SURFONLY) deck_parts = petsc_surface_parts(R.dim, R.msh);
    together([&] {
        if (!deck_parts.empty()) {
            column_maps(R.dim, R.msh, deck_parts, maps);
            hold_state(R.dim, ctl, maps, R.fs);
        }
    });
    datin_rest(R, deck_parts.empty() ? nullptr : &maps);
    together([&] {
        grid3d(R.dim, ctl, io, R.msh, R.bc, R.tra);
        surface_start(R);
        roots_check(R.dim, R.ctl, R.io, R.msh, R.sl.RT);
        R.mb.ROOTON = R.sl.RT.ON;
        R.io.in(8).release();  // the grid's text (some 60 bytes a surface node) is read through
    });
    deck_view V;
    together([&] {
        if (!deck_parts.empty()) hold_own_columns(R, maps, deck_parts, V);
        csr_ptr(R.dim, ctl, io, R.msh, R.sp);
    });
    ring_halo(R.msh, deck_parts);
    const bool cut = R.msh.cut();
    list_patterns(R);
    petsc_setup(R.dim, ctl, R.msh, R.sp, R.cpu, deck_parts);
    // The patterns are final (a process of several keeps only the rows it forms).
    surface_setup(R.dim, ctl, R.msh, R.sp, R.sf);
    roots_setup(R.dim, R.msh, R.sp, R.bc, R.sl.RT);
    if (R.sf.ON) {
        io.EXTRA.SF = &R.sf;
        io.EXTRA.SVX.alloc(R.dim.NNOD);
        io.EXTRA.SVY.alloc(R.dim.NNOD);
    }
    report_held(R, V);
    // and keeps the geometry of the elements its element loops go over.
    if (!R.sp.OWNCOL.empty()) keep_own_geometry(R.dim, R.sp, R.msh);
    deck_nodes* const dn = &V.nodes;
    initial(R, dn);
    share_face_heads(R.dim, R.msh, R.fs.PSAVE, R.bc);
    together([&] { initial_rest(R); });
    roots_weights(R.dim, R.msh, R.sl.RT);
    mbinit_share(R.msh, R.mb);
    view_start(R, V);
    watch(dn, R.msh, R.sl, R.fs);
    together([&] {
        file_header(ctl, io, R.sl);
        detout(R.dim, ctl, io, R.msh, R.bc, R.sl, R.fs, false, dn);
        if (!restart) {
            // The whole input has been read and checked (the time series included): the new
            // outputs replace those of the previous run.
            commit_outputs(io);
            extra_open(R.dim, ctl, io, R.msh, R.mb.NAPON,
                       R.sf.ON ? (int)R.sf.OUT.size() : -1, R.sl.RT.ON);
        }
    });
    // The folders are made and cleared (by process 0) before any process writes into them.
    together([&] {
        if (!restart) {
            extra_initial(R.dim, ctl, io, R.msh, R.bc, R.sl, R.fs, dn);
            extra_series(R.dim, ctl, io, R.msh, R.sl, R.fs, ctl.TIMEP, 0);
        }

        ctl.ENDFLOW = false;
        ctl.ENDCPL = false;
    });
    // A continued run takes the state of its checkpoint and its files from where it was taken
    // (the echo of its input, in the new versions of the files, is dropped).
    const int flow = ctl.ISOLV, tran = ctl.ISOLVC;
    if (restart) restart_state(R, &V);
    together([&] {
        if (restart) {
            // The checkpoint holds the file's selectors: this run solves with its own.
            ctl.ISOLVD = ctl.ISOLV;
            ctl.ISOLVCD = ctl.ISOLVC;
            ctl.ISOLV = flow;
            ctl.ISOLVC = tran;
            parallel_selectors(ctl, io, 0, 0);
            atmtrp(R.dim, ctl, R.msh, R.bc);
        }
        if (ctl.PTC.ASKED) ptc_start(ctl, io);
        mark_step_end(io);
        progress_begin(ctl, io);
    });
    together([&] { extra_list(io); });
    while (!ctl.ENDFLOW && !ctl.ENDCPL) {
        for (int unit : {6, kTermUnit}) {
            wfmt(io.out(unit), "(//,'      TIME STEP: ',I5,'    DELTAT: ',1PE12.4,"
                               "'    TIME: ',1PE12.4,"
                               "/,'     *********************************************',"
                               "'*******************',/)",
                 ctl.NSTEP, ctl.DELTAT, ctl.TIME);
        }
        if (ctl.ITRANS != 0) {
            wfmt(io.out(28), "(//,23X,' (NSTEP: ',I5,'  DELTAT: ',1PE12.4,'  TIME: ',"
                             "1PE12.4,')'/)",
                 ctl.NSTEP, ctl.DELTAT, ctl.TIME);
            flowtransolve(R.dim, ctl, io, R.cpu, R.msh, R.bc, R.tra, R.sl, R.mb, R.sp, R.fs, &V);
        } else {
            flowsolve(R.dim, ctl, io, R.cpu, R.msh, R.bc, R.sl, R.mb, R.sp, R.fs, R.sf, &V);
        }
        // Whatever ends the run later, every file holds every step written so far. Text for
        // the terminal clears the status line first, which is drawn again after it.
        together([&] {
            extra_list(io);
            if (!io.STDOUT.str().empty() || !io.STDERR.str().empty()) progress_end(io);
            flush_all(io);
            check_outputs(io, checkpoint_note(io));
            mark_step_end(io);
        });
        share_interrupt();
        {
            file_selectors f(ctl);
            checkpoint_step(R, &V);
        }
        progress_step(ctl, io);
    }
    progress_end(io);
    {
        file_selectors f(ctl);
        checkpoint_end(R, &V);
    }
    const int sig = interrupt_signal();
    // The final velocities, the values of the nodes watched, and the pore volume.
    if (cut) together([&] { velcmp(R.dim, ctl, R.msh, R.sl, R.fs); });
    watch(dn, R.msh, R.sl, R.fs);
    const double pores = pore_volume(R.msh, R.sl);
    together([&] {
        if (sig != 0) {
            wfmt(io.out(6), "(//,' RUN INTERRUPTED BY SIGNAL ',I3,' AFTER TIME STEP ',I6,"
                            "', TIME = ',1PE12.4)",
                 sig, ctl.NDONE, ctl.TDONE);
        }

        detout(R.dim, ctl, io, R.msh, R.bc, R.sl, R.fs, true, dn);
        extra_final(R.dim, ctl, io, R.msh, R.sl, R.fs);
        write_final_state(R.dim, ctl, io, R.msh, R.fs, dn);
        test_output(R.dim, ctl, R.msh, R.sl, R.fs, std::string(), cut, dn);
        cumberr(R.dim, ctl, io, R.bc, R.mb);
        mbwarn(ctl, io, pores, R.sl, R.mb);
        napout(io, R.mb);
    });
    release_solver_work(R.sp);
    timer(start, 2);
    R.cpu.CPUTOT = (float)(start + io.CKPT.ELAPSED0);
    cpu_slowest(R.cpu);
    together([&] {
        extra_list(io);
        cputime(ctl, io, R.cpu);
        flush_all(io);
        check_outputs(io, checkpoint_note(io));
    });
    if (sig != 0) return interrupt_status(sig);
    return ctl.ISTATUS == -3 || ctl.CPLSTA == -3 ? EXIT_NO_BACKSTEP : EXIT_DONE;
}

}  // namespace nep
