// End-to-end runs: a deck from tests/cases copied to a fresh directory, a program run in it as a
// user would (no arguments, no terminal), and its files read back.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace e2e {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void spit(const fs::path& p, const std::string& s) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << s;
}

inline std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

struct result {
    int status = -1;
    std::string out, err;
};

class deck {
public:
    // Copies tests/cases/<name> into a new temporary directory.
    explicit deck(const std::string& name) {
        static int serial = 0;
        dir_ = fs::temp_directory_path() /
               ("nepora-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::copy(fs::path(NEPORA_SOURCE_DIR) / "tests" / "cases" / name, dir_,
                 fs::copy_options::recursive);
    }
    ~deck() {
        if (std::getenv("NEPORA_KEEP_E2E") == nullptr) {
            std::error_code ec;
            fs::remove_all(dir_, ec);
        }
    }
    deck(const deck&) = delete;
    deck& operator=(const deck&) = delete;

    const fs::path& dir() const { return dir_; }
    fs::path path(const std::string& f) const { return dir_ / f; }
    bool exists(const std::string& f) const { return fs::exists(dir_ / f); }
    std::string read(const std::string& f) const { return slurp(dir_ / f); }
    void write(const std::string& f, const std::string& text) const { spit(dir_ / f, text); }
    void remove(const std::string& f) const { fs::remove(dir_ / f); }
    // Replaces line n (1-based) of a file.
    void set_line(const std::string& f, int n, const std::string& text) const {
        auto v = lines_of(read(f));
        if ((int)v.size() < n) v.resize(n);
        v[n - 1] = text;
        std::string s;
        for (auto& l : v) s += l + "\n";
        write(f, s);
    }

    result run(const char* program = NEPORA_BIN) const {
        result r;
        std::string cmd = "cd '" + dir_.string() + "' && '" + program +
                          "' >stdout.txt 2>stderr.txt </dev/null";
        int st = std::system(cmd.c_str());
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        r.out = read("stdout.txt");
        r.err = read("stderr.txt");
        return r;
    }

private:
    fs::path dir_;
};

}  // namespace e2e
