// The state files of the checkpoints: the values of an entry read at chosen places (what a
// process of a run on several reads of a checkpoint of one process), and the format versions a
// reader takes. The truths are the values written (k / 2 at place k, exact in binary).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/statefile.h"

using namespace nep;

namespace {

std::string temp_path(const char* name) {
    return "/tmp/nepora-statefile-" + std::to_string(::getpid()) + "-" + name;
}

// A file of version v: an entry "a" of n doubles k / 2, then an entry "b" of one int, 7.
void write_file(const std::string& path, std::uint32_t v, std::size_t n) {
    std::vector<double> a(n);
    for (std::size_t k = 0; k < n; ++k) a[k] = 0.5 * (double)k;
    const int b = 7;
    state_writer w;
    ASSERT_TRUE(w.begin(path, v));
    w.put("a", 'd', a.data(), a.size());
    w.put("b", 'i', &b, 1);
    ASSERT_TRUE(w.commit());
}

}  // namespace

TEST(StateFile, PickedValuesAcrossBlocksAndTheEntryAfter) {
    const std::string path = temp_path("picked");
    const std::size_t n = 300000;  // 2.4 MB: three blocks of 131072 values
    write_file(path, 1, n);
    state_reader r;
    ASSERT_EQ(r.open(path, 1), "");
    // The first value, the last of the first block, one in the third (the second, holding
    // none, is passed over), the last value.
    const std::vector<std::uint64_t> at = {0, 131071, 262144 + 5, n - 1};
    std::vector<double> got(at.size(), -1.0);
    ASSERT_EQ(r.get_picked("a", 'd', n, at, got.data()), "");
    for (std::size_t k = 0; k < at.size(); ++k) EXPECT_EQ(got[k], 0.5 * (double)at[k]) << at[k];
    int b = 0;
    ASSERT_EQ(r.get("b", 'i', &b, 1), "");
    EXPECT_EQ(b, 7);
    // Another count than the entry's is refused with both.
    ASSERT_TRUE(r.open(path, 1).empty());
    EXPECT_EQ(r.get_picked("a", 'd', n + 1, at, got.data()), "holds 300000 values of a, this run has 300001");
    std::remove(path.c_str());
}

TEST(StateFile, FormatVersionsInRange) {
    const std::string path = temp_path("versions");
    write_file(path, 2, 4);
    state_reader r;
    EXPECT_EQ(r.open(path, 1), "is of format version 2; this program reads version 1");
    ASSERT_EQ(r.open(path, 1, 2), "");
    EXPECT_EQ(r.version(), 2u);
    write_file(path, 3, 4);
    EXPECT_EQ(r.open(path, 1, 2), "is of format version 3; this program reads versions 1 and 2");
    EXPECT_EQ(r.open(path, 1, 3), "");
    write_file(path, 5, 4);
    EXPECT_EQ(r.open(path, 1, 4), "is of format version 5; this program reads versions 1 to 4");
    std::remove(path.c_str());
}
