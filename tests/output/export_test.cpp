// The final-state files. Truths: the node values put in (read back from the written columns),
// the Darcy flux of a linear head field for the recomputed velocities, and gfortran renderings
// of the head lines of "test-vel.dat".
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "output/export.h"
#include "small_mesh.h"

using namespace nep;
using outtest::outrun;

namespace {

struct tempdir {
    std::string path;
    tempdir() {
        std::string t = (std::filesystem::temp_directory_path() / "nepora-export-XXXXXX").string();
        std::vector<char> buf(t.begin(), t.end());
        buf.push_back('\0');
        path = ::mkdtemp(buf.data()) ? std::string(buf.data()) + "/" : std::string();
    }
    ~tempdir() {
        if (!path.empty()) std::filesystem::remove_all(path);
    }
};

std::vector<std::string> lines_of(const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> v;
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

std::vector<double> numbers(const std::string& line) {
    std::istringstream in(line);
    std::vector<double> v;
    for (double x; in >> x;) v.push_back(x);
    return v;
}

const double GB = -0.4, GC = 0.15, GD = 1.0;

void final_state(outrun& r) {
    outtest::small_mesh(r);
    r.ctl.NSTEP = 7;
    r.ctl.TIME = 86400.0;
    for (int i = 1; i <= r.dim.N; ++i) {
        r.fs.HPOT(i) = 3.0 + GB * r.msh.X(i) + GC * r.msh.Y(i) + GD * r.msh.Z(i);
        r.fs.HPTHETA(i) = 0.5 * i - 2.0;
        r.fs.PNEW(i) = -1.25e-3 * i * i;
        r.fs.CNEW(i) = 0.01 * i;
        r.fs.VXNOD(i) = r.fs.VYNOD(i) = r.fs.VZNOD(i) = 99.0;  // stale: must be recomputed
    }
}

void expect_close(double got, double want, const std::string& what) {
    EXPECT_NEAR(got, want, 1e-6 * std::max(1.0, std::fabs(want))) << what;
}

}  // namespace

TEST(FinalExport, FlowRunWritesFiveColumnsAndTheRecomputedVelocities) {
    outrun r;
    final_state(r);
    tempdir d;
    ASSERT_FALSE(d.path.empty());
    test_output(r.dim, r.ctl, r.msh, r.sl, r.fs, d.path);

    const auto root = lines_of(d.path + "root-ntupla.dat");
    ASSERT_EQ((int)root.size(), r.dim.N);
    for (int i = 1; i <= r.dim.N; ++i) {
        const std::string& l = root[i - 1];
        EXPECT_EQ(l.size(), 75u) << l;  // five fields of 15 columns
        const auto v = numbers(l);
        ASSERT_EQ(v.size(), 5u) << l;
        expect_close(v[0], r.msh.X(i), "X");
        expect_close(v[1], r.msh.Y(i), "Y");
        expect_close(v[2], r.msh.Z(i), "Z");
        expect_close(v[3], r.fs.HPTHETA(i), "HPTHETA");
        expect_close(v[4], r.fs.PNEW(i), "PNEW");
    }

    const auto vel = lines_of(d.path + "test-vel.dat");
    ASSERT_EQ((int)vel.size(), 3 + r.dim.N);
    const auto ex = outtest::load_expected("results_expected.txt");
    EXPECT_EQ(vel[0] + "\n", outtest::cat(ex, {"tv1"}));
    EXPECT_EQ(vel[1] + "\n", outtest::cat(ex, {"tv2"}));
    EXPECT_EQ(vel[2] + "\n", outtest::cat(ex, {"tvhead"}));
    // Every element around a node carries -kr K grad H with its own conductivities; the node
    // gets their mean.
    for (int i = 1; i <= r.dim.N; ++i) {
        double s[3] = {0, 0, 0};
        int k = 0;
        for (int e = 1; e <= r.dim.NT; ++e) {
            for (int m = 1; m <= 4; ++m) {
                if (r.msh.TETRA(m, e) != i) continue;
                const int l = (e - 1) / 6 + 1, mat = r.msh.TETRA(5, e);
                double kr = 0.0;
                for (int q = 1; q <= 4; ++q) kr += r.sl.CKRW(r.msh.TETRA(q, e)) / 4.0;
                s[0] += -kr * r.sl.XPERM(l, mat) * GB;
                s[1] += -kr * r.sl.YPERM(l, mat) * GC;
                s[2] += -kr * r.sl.ZPERM(l, mat) * GD;
                ++k;
            }
        }
        const std::string& line = vel[2 + i];
        EXPECT_EQ(line.size(), 45u) << line;
        const auto v = numbers(line);
        ASSERT_EQ(v.size(), 3u) << line;
        for (int c = 0; c < 3; ++c) expect_close(v[c], s[c] / k, "node " + std::to_string(i));
    }
}

TEST(FinalExport, CoupledRunAddsTheConcentrationAndOverwritesOldFiles) {
    outrun r;
    final_state(r);
    r.ctl.ITRANS = 1;
    tempdir d;
    ASSERT_FALSE(d.path.empty());
    {
        std::ofstream old(d.path + "root-ntupla.dat");
        old << "an older run\nwith more lines\n" << std::string(5000, 'x') << "\n";
    }
    test_output(r.dim, r.ctl, r.msh, r.sl, r.fs, d.path);
    const auto root = lines_of(d.path + "root-ntupla.dat");
    ASSERT_EQ((int)root.size(), r.dim.N);
    for (int i = 1; i <= r.dim.N; ++i) {
        EXPECT_EQ(root[i - 1].size(), 90u);
        const auto v = numbers(root[i - 1]);
        ASSERT_EQ(v.size(), 6u);
        expect_close(v[5], r.fs.CNEW(i), "CNEW");
    }
}

TEST(FinalExport, UnwritableDirectoryStopsWithTheFileName) {
    outrun r;
    final_state(r);
    const std::string m = outtest::stop_message(
        [&] { test_output(r.dim, r.ctl, r.msh, r.sl, r.fs, "/nonexistent-dir/"); });
    EXPECT_NE(m.find("'/nonexistent-dir/root-ntupla.dat'"), std::string::npos) << m;
}
