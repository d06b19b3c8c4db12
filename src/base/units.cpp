#include "base/units.h"

#include <sys/stat.h>
#include <unistd.h>

namespace nep {

bool ounit::open(const std::string& path) {
    close();
    final_.clear();
    f_ = std::fopen(path.c_str(), "w");
    owned_ = f_ != nullptr;
    buf_.reserve(kFlushAt + 4096);
    return f_ != nullptr;
}

bool ounit::open_staged(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return open(path);
    if (!open(path + kNewSuffix)) return false;
    final_ = path;
    return true;
}

bool ounit::commit() {
    if (final_.empty()) return true;
    flush();
    const std::string from = final_ + kNewSuffix;
    if (std::rename(from.c_str(), final_.c_str()) != 0) return false;
    final_.clear();
    return true;
}

void ounit::discard() {
    if (final_.empty()) return;
    const std::string path = final_ + kNewSuffix;
    final_.clear();
    buf_.clear();
    close();
    ::unlink(path.c_str());
}

bool ounit::replaces_file() const {
    struct stat st {};
    return !final_.empty() && ::stat(final_.c_str(), &st) == 0;
}

void ounit::attach(std::FILE* f) {
    close();
    f_ = f;
    owned_ = false;
}

void ounit::flush() {
    if (f_ == nullptr) return;
    if (!buf_.empty()) std::fwrite(buf_.data(), 1, buf_.size(), f_);
    buf_.clear();
    std::fflush(f_);
}

void ounit::close() {
    if (memory_) {
        memory_ = false;
        buf_.clear();
        return;
    }
    if (f_ == nullptr) return;
    flush();
    if (owned_) std::fclose(f_);
    f_ = nullptr;
    owned_ = false;
}

}  // namespace nep
