#include "base/units.h"

namespace nep {

bool ounit::open(const std::string& path) {
    close();
    f_ = std::fopen(path.c_str(), "w");
    owned_ = f_ != nullptr;
    buf_.reserve(kFlushAt + 4096);
    return f_ != nullptr;
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
