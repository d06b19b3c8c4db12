// Records for the mesh tests: sizes set by hand, memory units for the listing, standard output
// and the coordinates file, and small generated grids.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "base/stop.h"
#include "run/run.h"
#include "run/storage.h"

namespace nep::meshtest {

struct stop_result {
    bool stopped = false;
    int status = -1;
    std::string message;
};

// Runs f and reports whether (and how) it ended the run.
inline stop_result run_until_stop(const std::function<void()>& f) {
    stop_result r;
    try {
        f();
    } catch (const run_stop& s) {
        r.stopped = true;
        r.status = s.status;
        r.message = s.message;
    }
    return r;
}

struct meshcase {
    std::unique_ptr<records> R = std::make_unique<records>();
    dimensions& dim = R->dim;
    control& ctl = R->ctl;
    iofiles& io = R->io;
    mesh& msh = R->msh;
    bcdata& bc = R->bc;
    sparse& sp = R->sp;
    soil& sl = R->sl;

    meshcase() {
        io.out(6).open_memory();
        io.out(25).open_memory();
        io.STDOUT.open_memory();
        // The cyclic corner tables: row (and column) j is j, j+1, ... taken cyclically.
        for (int i = 1; i <= 4; ++i)
            for (int j = 1; j <= 4; ++j) ctl.IP4[i][j] = (i + j - 2) % 4 + 1;
        for (int i = 1; i <= 3; ++i)
            for (int j = 1; j <= 3; ++j) ctl.IP3[i][j] = (i + j - 2) % 3 + 1;
        ctl.IFLOW = 2;
    }

    // The sizes the first pass would find, and the mesh arrays.
    void sizes(int nzone, int nstr, int n1, int nnod, int ntri) {
        dim.NZONE = nzone;
        dim.NSTR = nstr;
        dim.N1 = dim.N1C = n1;
        dim.NNOD = nnod;
        dim.NTRI = ntri;
        dim.NTRI3 = 3 * ntri;
        dim.N = (nstr + 1) * nnod;
        dim.NT = 3 * ntri * nstr;
        alloc_mesh(dim, msh);
    }

    void grid_text(const std::string& text) { io.in(8).open_text(text, "grid file", "grid"); }

    const std::string& listing() const { return io.out(6).str(); }
    const std::string& out() const { return io.STDOUT.str(); }
    const std::string& coords() const { return io.out(25).str(); }
};

// A rectangular surface grid of (nx+1) x (ny+1) nodes spaced dx, dy, numbered row by row from
// the origin; every cell is split along the diagonal from its lower-left corner, giving
// 2*nx*ny triangles (counter-clockwise), all of material 1.
inline void rect_surface(meshcase& c, int nx, int ny, double dx, double dy) {
    auto node = [&](int ix, int iy) { return iy * (nx + 1) + ix + 1; };
    for (int iy = 0; iy <= ny; ++iy)
        for (int ix = 0; ix <= nx; ++ix) {
            c.msh.X(node(ix, iy)) = ix * dx;
            c.msh.Y(node(ix, iy)) = iy * dy;
        }
    int j = 0;
    for (int iy = 0; iy < ny; ++iy)
        for (int ix = 0; ix < nx; ++ix) {
            const int p = node(ix, iy), q = node(ix + 1, iy), r = node(ix + 1, iy + 1), s = node(ix, iy + 1);
            ++j;
            c.msh.TRIANG(1, j) = p; c.msh.TRIANG(2, j) = q; c.msh.TRIANG(3, j) = r; c.msh.TRIANG(4, j) = 1;
            ++j;
            c.msh.TRIANG(1, j) = p; c.msh.TRIANG(2, j) = r; c.msh.TRIANG(3, j) = s; c.msh.TRIANG(4, j) = 1;
        }
}

// The same grid as a grid file: flat surface at z = 0, layers of equal fractions.
inline std::string rect_grid_file(int nx, int ny, double dx, double dy, int nstr, int n1, int ivert, double base) {
    std::ostringstream g;
    const int nnod = (nx + 1) * (ny + 1);
    g << "1 " << nstr << " " << n1 << "\n" << nnod << " " << 2 * nx * ny << "\n";
    g << ivert << " 0 " << base << "\n";
    g << nstr << "*" << (1.0 / nstr) << "\n";
    g << "0.0\n";
    auto node = [&](int ix, int iy) { return iy * (nx + 1) + ix + 1; };
    for (int iy = 0; iy < ny; ++iy)
        for (int ix = 0; ix < nx; ++ix) {
            const int p = node(ix, iy), q = node(ix + 1, iy), r = node(ix + 1, iy + 1), s = node(ix, iy + 1);
            g << p << " " << q << " " << r << " 1\n" << p << " " << r << " " << s << " 1\n";
        }
    for (int iy = 0; iy <= ny; ++iy)
        for (int ix = 0; ix <= nx; ++ix) g << ix * dx << " " << iy * dy << "\n";
    return g.str();
}

// Number of lines of a text.
inline long count_lines(const std::string& s) {
    long n = 0;
    for (char ch : s) n += ch == '\n';
    return n;
}

}  // namespace nep::meshtest
