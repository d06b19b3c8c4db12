// The declared state (records/state.h): what the checkpoint, the view and the cut of the mesh
// rely on of every declaration, checked on the list itself so that a wrong declaration fails here
// and not in a run on several processes or a continued run.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <type_traits>

#include "records/state.h"

namespace nep {
namespace {

// The name of a record among the records of a run (records.h), by hand.
template <class R>
std::string record_name() {
    if constexpr (std::is_same_v<R, control>) return "ctl";
    else if constexpr (std::is_same_v<R, dimensions>) return "dim";
    else if constexpr (std::is_same_v<R, iofiles>) return "io";
    else if constexpr (std::is_same_v<R, extra_files>) return "io.EXTRA";
    else if constexpr (std::is_same_v<R, bcdata>) return "bc";
    else if constexpr (std::is_same_v<R, flowstate>) return "fs";
    else if constexpr (std::is_same_v<R, soil>) return "sl";
    else if constexpr (std::is_same_v<R, transport>) return "tra";
    else if constexpr (std::is_same_v<R, massbal>) return "mb";
    else if constexpr (std::is_same_v<R, cpustat>) return "cpu";
    else if constexpr (std::is_same_v<R, mesh>) return "msh";
    else return "?";
}

TEST(StateFields, NamedOnceByTheirRecordAndSizedByTheirExtent) {
    // A flow run of 4 surface nodes, 2 layers (12 nodes), 6 tetrahedra with their velocities
    // kept, under the mass-conservative scheme; and the same run coupled.
    for (const bool coupled : {false, true}) {
        records R;
        R.ctl.ITRANS = coupled ? 1 : 0;
        R.dim.NNOD = 4;
        R.dim.NSTR = 2;
        R.dim.N = 12;
        R.dim.NWAT = 12;
        R.dim.NT = R.dim.NVEL = 6;
        R.dim.NTRI = 1;
        R.dim.NTRI3 = 3;
        alloc_flowstate(R.dim, R.ctl, R.fs);
        alloc_soil(R.dim, R.ctl, R.sl);
        alloc_bcdata(R.dim, R.bc, &R.ctl);
        alloc_mesh(R.dim, R.msh);
        const long size[] = {0, 12, 12, 4, 6};  // RUN, NODES, WATER, SURFACE, ELEMENTS
        std::set<std::string> names;
        int arrays = 0;
        state_fields([&](auto m, const field_info& fi) {
            using M = member_of<decltype(m)>;
            using Rec = typename M::record;
            using T = typename M::type;
            const std::string name = fi.name;
            EXPECT_TRUE(names.insert(name).second) << name << " declared twice";
            EXPECT_EQ(name.substr(0, name.rfind('.')), record_name<Rec>()) << name;
            if (fi.where == extent::RUN) return;
            // The cut and the view hold these records alone (run/columns.cpp).
            constexpr bool held = std::is_same_v<Rec, mesh> || std::is_same_v<Rec, bcdata> ||
                                  std::is_same_v<Rec, soil> || std::is_same_v<Rec, flowstate>;
            EXPECT_TRUE(held) << name;
            if constexpr (is_array_field<T>) {
                const T& a = record_part<Rec>(R).*m;
                const bool exists = !(fi.use & LATER) && (coupled || !(fi.use & COUPLED));
                EXPECT_EQ(a.size(), exists ? fi.rows * size[(int)fi.where] : 0) << name;
                ++arrays;
            } else {
                ADD_FAILURE() << name << " has the mesh's extent but is not an array";
            }
            if (fi.out != nullptr) {
                EXPECT_TRUE(fi.where == extent::NODES && (std::is_same_v<T, arr1<double>>)) << name;
            }
        });
        EXPECT_GT(arrays, 30);
        EXPECT_TRUE(names.count("fs.PNEW") && names.count("bc.ATMINP") && names.count("mb.CIN"));
    }
}

}  // namespace
}  // namespace nep
