#include "base/units.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>

#include "base/procs.h"

namespace nep {

std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t n) {
    const auto* p = static_cast<const Bytef*>(data);
    uLong c = crc;
    while (n > 0) {
        const uInt k = n > (1u << 30) ? (1u << 30) : (uInt)n;
        c = ::crc32(c, p, k);
        p += k;
        n -= k;
    }
    return (std::uint32_t)c;
}

namespace {

bool is_regular(std::FILE* f) {
    struct stat st {};
    return ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

// Only one process of a run writes files; the others' units write to /dev/null (base/procs.h).
bool ounit::open(const std::string& path) {
    if (!proc_writes() && path != "/dev/null") return open("/dev/null");
    close();
    bytes_ = synced_ = 0;
    crc_ = 0;
    err_ = 0;
    final_.clear();
    f_ = std::fopen(path.c_str(), "w");
    owned_ = f_ != nullptr;
    regular_ = f_ != nullptr && is_regular(f_);
    buf_.reserve(kFlushAt + 4096);
    return f_ != nullptr;
}

bool ounit::open_at(const std::string& path, long long bytes, std::uint32_t crc) {
    if (!proc_writes()) {
        if (!open("/dev/null")) return false;
        bytes_ = synced_ = bytes;
        crc_ = crc;
        return true;
    }
    close();
    final_.clear();
    err_ = 0;
    std::FILE* f = std::fopen(path.c_str(), "r+");
    if (f == nullptr) return false;
    if (::ftruncate(::fileno(f), (off_t)bytes) != 0 || std::fseek(f, 0, SEEK_END) != 0 ||
        std::ftell(f) != (long)bytes) {
        const int e = errno;
        std::fclose(f);
        errno = e != 0 ? e : EIO;
        return false;
    }
    f_ = f;
    owned_ = true;
    regular_ = is_regular(f);
    bytes_ = synced_ = bytes;
    crc_ = crc;
    buf_.reserve(kFlushAt + 4096);
    return true;
}

bool ounit::open_staged(const std::string& path) {
    if (!proc_writes()) return open("/dev/null");
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
    regular_ = false;
}

void ounit::flush() {
    if (f_ == nullptr) return;
    errno = 0;
    if (!buf_.empty()) {
        const std::size_t n = std::fwrite(buf_.data(), 1, buf_.size(), f_);
        if (n != buf_.size() && err_ == 0) err_ = errno != 0 ? errno : EIO;
        crc_ = crc32_update(crc_, buf_.data(), n);
        bytes_ += (long long)n;
    }
    buf_.clear();
    if (std::fflush(f_) != 0 && err_ == 0) err_ = errno != 0 ? errno : EIO;
}

bool ounit::sync() {
    if (f_ == nullptr) return true;
    flush();
    errno = 0;
    // Only what was written since the last time; a terminal or a pipe has nothing to keep.
    if (err_ == 0 && bytes_ != synced_) {
        if (::fdatasync(::fileno(f_)) != 0 && errno != EINVAL && errno != EROFS) err_ = errno;
        else synced_ = bytes_;
    }
    return err_ == 0;
}

std::uint32_t ounit::checksum() const { return crc32_update(crc_, buf_.data(), buf_.size()); }

void ounit::close() {
    if (memory_) {
        memory_ = false;
        buf_.clear();
        return;
    }
    if (f_ == nullptr) return;
    flush();
    if (owned_ && std::fclose(f_) != 0 && err_ == 0) err_ = errno != 0 ? errno : EIO;
    f_ = nullptr;
    owned_ = false;
}

}  // namespace nep
