#include "base/statefile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/units.h"

namespace nep {

namespace {

constexpr char kMagic[20] = {'n', 'e', 'p', 'o', 'r', 'a', '3', 'd', ' ', 'c',
                             'h', 'e', 'c', 'k', 'p', 'o', 'i', 'n', 't', '\n'};
constexpr std::uint32_t kByteOrder = 0x01020304u;
constexpr char kEndMark[4] = {'E', 'N', 'D', '.'};
constexpr std::size_t kHeadBytes = sizeof kMagic + 8;
constexpr std::size_t kEndBytes = 4 + 8 + 4;
constexpr std::size_t kBlock = std::size_t(1) << 20;

}  // namespace

std::size_t state_type_size(char type) {
    switch (type) {
    case 'i': case 'f': return 4;
    case 'q': case 'd': return 8;
    case 'b': case 's': return 1;
    default: return 0;
    }
}

std::string directory_of(const std::string& path) {
    const std::size_t k = path.rfind('/');
    if (k == std::string::npos) return ".";
    return k == 0 ? "/" : path.substr(0, k);
}

bool sync_directory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return ok;
}

// ---- writing

state_writer::~state_writer() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(part_.c_str());
    }
}

void state_writer::fail(int e) {
    if (err_ == 0) err_ = e != 0 ? e : EIO;
}

bool state_writer::begin(const std::string& path, std::uint32_t version) {
    path_ = path;
    part_ = path + ".part";
    err_ = 0;
    bytes_ = 0;
    crc_ = 0;
    buf_.clear();
    buf_.reserve(kBlock);
    fd_ = ::open(part_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        fail(errno);
        return false;
    }
    out(kMagic, sizeof kMagic);
    out(&version, 4);
    out(&kByteOrder, 4);
    return true;
}

void state_writer::out(const void* p, std::size_t n) {
    const char* c = static_cast<const char*>(p);
    while (n > 0) {
        const std::size_t k = std::min(n, kBlock - buf_.size());
        buf_.insert(buf_.end(), c, c + k);
        c += k;
        n -= k;
        if (buf_.size() == kBlock) drain();
    }
}

void state_writer::drain() {
    crc_ = crc32_update(crc_, buf_.data(), buf_.size());
    std::size_t n = buf_.size(), at = 0;
    const bool kill_here =
        kill_ >= 0 && (std::uint64_t)kill_ >= bytes_ && (std::uint64_t)kill_ < bytes_ + n;
    if (kill_here) n = (std::size_t)((std::uint64_t)kill_ - bytes_);
    while (err_ == 0 && at < n) {
        const ssize_t w = ::write(fd_, buf_.data() + at, n - at);
        if (w < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        } else {
            at += (std::size_t)w;
        }
    }
    bytes_ += at;
    if (kill_here) ::raise(SIGKILL);
    buf_.clear();
}

void state_writer::put(std::string_view name, char type, const void* data, std::uint64_t count) {
    const unsigned char len = (unsigned char)std::min<std::size_t>(name.size(), 255);
    out(&len, 1);
    out(name.data(), len);
    out(&type, 1);
    out(&count, 8);
    out(data, (std::size_t)count * state_type_size(type));
}

bool state_writer::commit() {
    if (fd_ < 0) return false;
    // The end record: the mark, the length of the whole file, the CRC of everything before it.
    const std::uint64_t total = bytes_ + buf_.size() + kEndBytes;
    out(kEndMark, 4);
    out(&total, 8);
    const std::uint32_t crc = crc32_update(crc_, buf_.data(), buf_.size());
    buf_.insert(buf_.end(), reinterpret_cast<const char*>(&crc),
                reinterpret_cast<const char*>(&crc) + 4);
    drain();
    if (err_ == 0 && ::fsync(fd_) != 0) fail(errno);
    if (::close(fd_) != 0) fail(errno);
    fd_ = -1;
    if (kill_ >= 0) ::raise(SIGKILL);  // the file is complete, not yet in place
    if (err_ == 0 && std::rename(part_.c_str(), path_.c_str()) != 0) fail(errno);
    if (err_ != 0) {
        ::unlink(part_.c_str());
        return false;
    }
    if (!sync_directory(directory_of(path_))) fail(errno);
    return err_ == 0;
}

// ---- reading

void state_reader::close() {
    if (f_ != nullptr) std::fclose(f_);
    f_ = nullptr;
}

bool state_reader::in(void* p, std::size_t n) {
    return n == 0 || std::fread(p, 1, n, f_) == n;
}

std::string state_reader::open(const std::string& path, std::uint32_t oldest, std::uint32_t newest) {
    close();
    errno = 0;
    f_ = std::fopen(path.c_str(), "rb");
    if (f_ == nullptr) return std::string("cannot be opened: ") + std::strerror(errno ? errno : ENOENT);
    struct stat st {};
    if (::fstat(::fileno(f_), &st) != 0 || !S_ISREG(st.st_mode)) return "is not a regular file";
    const std::uint64_t size = (std::uint64_t)st.st_size;
    char magic[sizeof kMagic];
    std::uint32_t v = 0, order = 0;
    if (size < sizeof kMagic || !in(magic, sizeof magic) ||
        std::memcmp(magic, kMagic, sizeof kMagic) != 0) {
        return "is not a checkpoint of nepora3d";
    }
    if (!in(&v, 4) || !in(&order, 4)) return "is truncated: it ends inside its header";
    if (order != kByteOrder) return "was written on a machine of another byte order";
    if (v < oldest || v > newest) {
        return "is of format version " + std::to_string(v) + "; this program reads version" +
               (oldest == newest ? " " + std::to_string(newest)
                                 : "s " + std::to_string(oldest) + (newest == oldest + 1 ? " and " : " to ") +
                                       std::to_string(newest));
    }
    version_ = v;
    if (size < kHeadBytes + kEndBytes) {
        return "is truncated: " + std::to_string(size) + " bytes, and no end record";
    }
    // The end record, then the checksum of every byte before it.
    char mark[4];
    std::uint64_t total = 0;
    std::uint32_t crc = 0;
    if (std::fseek(f_, (long)(size - kEndBytes), SEEK_SET) != 0 || !in(mark, 4) || !in(&total, 8) ||
        !in(&crc, 4)) {
        return "cannot be read";
    }
    if (std::memcmp(mark, kEndMark, 4) != 0) {
        return "is truncated or damaged: " + std::to_string(size) + " bytes, and no end record";
    }
    if (total != size) {
        return "is truncated or damaged: its end record gives " + std::to_string(total) +
               " bytes, the file has " + std::to_string(size);
    }
    std::rewind(f_);
    std::vector<char> block(kBlock);
    std::uint32_t sum = 0;
    for (std::uint64_t left = size - 4; left > 0;) {
        const std::size_t k = (std::size_t)std::min<std::uint64_t>(left, kBlock);
        if (!in(block.data(), k)) return "cannot be read";
        sum = crc32_update(sum, block.data(), k);
        left -= k;
    }
    if (sum != crc) return "is damaged: its checksum does not match its contents";
    if (std::fseek(f_, (long)kHeadBytes, SEEK_SET) != 0) return "cannot be read";
    end_ = size - kEndBytes;
    return "";
}

std::string state_reader::count(std::string_view name, char type, std::uint64_t& count) {
    const long at = std::ftell(f_);
    std::string why = head(name, type, count);
    std::fseek(f_, at, SEEK_SET);
    return why;
}

std::string state_reader::head(std::string_view name, char type, std::uint64_t& count) {
    unsigned char len = 0;
    char got[256];
    char t = 0;
    if ((std::uint64_t)std::ftell(f_) >= end_) {
        return "ends before the entry " + std::string(name) + " (written by another build?)";
    }
    if (!in(&len, 1) || !in(got, len) || !in(&t, 1) || !in(&count, 8)) return "cannot be read";
    if (std::string_view(got, len) != name) {
        return "holds the entry " + std::string(got, len) + " where " + std::string(name) +
               " was expected (written by another build?)";
    }
    if (t != type) return "holds the entry " + std::string(name) + " with another type";
    if ((std::uint64_t)std::ftell(f_) + count * state_type_size(t) > end_) {
        return "holds an entry " + std::string(name) + " longer than the file";
    }
    return "";
}

std::string state_reader::head_of(std::string_view name, char type, std::uint64_t count) {
    std::uint64_t n = 0;
    std::string why = head(name, type, n);
    if (!why.empty()) return why;
    if (n != count) {
        return "holds " + std::to_string(n) + " values of " + std::string(name) + ", this run has " +
               std::to_string(count);
    }
    return "";
}

std::string state_reader::get(std::string_view name, char type, void* data, std::uint64_t count) {
    std::string why = head_of(name, type, count);
    if (!why.empty()) return why;
    if (!in(data, (std::size_t)(count * state_type_size(type)))) return "cannot be read";
    return "";
}

std::string state_reader::get_picked(std::string_view name, char type, std::uint64_t count,
                                     const std::vector<std::uint64_t>& at, void* data) {
    std::string why = head_of(name, type, count);
    if (!why.empty()) return why;
    const std::uint64_t n = count;
    const std::size_t size = state_type_size(type);
    const long start = std::ftell(f_);
    const std::uint64_t per = kBlock / size;
    std::vector<char> block(kBlock);
    char* out = static_cast<char*>(data);
    std::size_t k = 0;
    for (std::uint64_t first = 0; first < n && k < at.size(); first += per) {
        const std::uint64_t m = std::min(per, n - first);
        if (at[k] >= first + m) continue;
        if (std::fseek(f_, start + (long)(first * size), SEEK_SET) != 0 || !in(block.data(), (std::size_t)(m * size))) {
            return "cannot be read";
        }
        for (; k < at.size() && at[k] < first + m; ++k) {
            if (at[k] < first) return "cannot be read";  // not ascending
            std::memcpy(out + k * size, block.data() + (at[k] - first) * size, size);
        }
    }
    if (k < at.size()) return "holds fewer values of " + std::string(name) + " than this run reads";
    if (std::fseek(f_, start + (long)(n * size), SEEK_SET) != 0) return "cannot be read";
    return "";
}

std::string state_reader::skip(std::string_view name, char type, std::uint64_t& count) {
    std::string why = head(name, type, count);
    if (why.empty() && std::fseek(f_, (long)(count * state_type_size(type)), SEEK_CUR) != 0) {
        why = "cannot be read";
    }
    return why;
}

long long state_reader::tell() const { return f_ == nullptr ? -1 : (long long)std::ftell(f_); }

bool state_reader::seek(long long place) { return f_ != nullptr && std::fseek(f_, (long)place, SEEK_SET) == 0; }

std::string state_reader::get_text(std::string_view name, std::string& s) {
    std::uint64_t n = 0;
    std::string why = head(name, 's', n);
    if (!why.empty()) return why;
    s.resize((std::size_t)n);
    if (!in(s.data(), s.size())) return "cannot be read";
    return "";
}

}  // namespace nep
