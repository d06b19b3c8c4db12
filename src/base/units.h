// Buffered output units. Every output file, standard output and the terminal log is an ounit;
// a unit without a file (a memory unit) keeps everything it was given, which is how tests read
// what a routine wrote. Records are appended to one buffer that is written out in large blocks.
//
// A file unit counts the bytes it has handed to its file and keeps their CRC-32, so that a run
// continued from a checkpoint can check that a file still holds what was written and append to
// it from there; the first failed write is kept (error()) for the run to report, since a full
// disk must stop the run rather than leave files silently short.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace nep {

class ounit {
public:
    ounit() = default;
    ounit(const ounit&) = delete;
    ounit& operator=(const ounit&) = delete;
    ~ounit() { close(); }

    // Opens (creating or truncating) a file for writing; false when it cannot be opened.
    bool open(const std::string& path);
    // Opens an existing file to go on writing at byte `bytes`, whose first `bytes` bytes have the
    // CRC-32 `crc` (what lies beyond is cut off). false, with errno set, when it cannot be opened
    // or cut.
    bool open_at(const std::string& path, long long bytes, std::uint32_t crc);
    // Opens a new version of a file beside it (path + kNewSuffix), which commit() moves over
    // the file and discard() removes: the file as it was stays until commit(). A path that is
    // not a regular file (a terminal, a device, /dev/null) is opened directly, as open().
    bool open_staged(const std::string& path);
    static constexpr const char* kNewSuffix = ".nepora-new";
    bool staged() const { return !final_.empty(); }
    // The staged version takes the file's place; false (errno set) when the move fails.
    bool commit();
    // The staged version is closed and removed; the file keeps what it held.
    void discard();
    // Whether the file a staged unit would replace exists.
    bool replaces_file() const;
    // Writes to an already open stream that the unit does not own (standard output).
    void attach(std::FILE* f);
    bool is_open() const { return f_ != nullptr || memory_; }
    // A unit that keeps its text in memory (tests, and lines built before they are written).
    void open_memory() { close(); memory_ = true; }

    // Appends text to the current record.
    void put(std::string_view s) {
        buf_.append(s.data(), s.size());
    }
    void put(char c) { buf_.push_back(c); }
    // Ends the current record.
    void end_record() {
        buf_.push_back('\n');
        if (!memory_ && buf_.size() >= kFlushAt) flush();
    }
    void record(std::string_view s) { put(s); end_record(); }

    void flush();
    // Flushes, then asks the system to put what was written since the last time on disk
    // (fdatasync); false when it fails.
    bool sync();
    void close();
    // The descriptor of a file the unit owns (-1 for none) and the bytes it holds once
    // flushed.
    int fd() const { return f_ != nullptr && owned_ ? fileno(f_) : -1; }
    long file_size() const { return f_ != nullptr ? std::ftell(f_) : -1; }

    // Bytes written to the file so far, those still in the buffer included, and their CRC-32.
    long long position() const { return bytes_ + (long long)buf_.size(); }
    std::uint32_t checksum() const;
    // The errno of the first write to the file that failed (0: none).
    int error() const { return err_; }
    // The unit writes to a regular file (not a terminal, a device or a pipe).
    bool regular() const { return regular_; }

    // Text held by a memory unit (everything written since it was opened).
    const std::string& str() const { return buf_; }
    void clear() { buf_.clear(); }

private:
    static constexpr std::size_t kFlushAt = 1 << 16;
    std::FILE* f_ = nullptr;
    std::string final_;  // the path a staged unit takes at commit()
    bool owned_ = false;
    bool memory_ = false;
    std::string buf_;
    long long bytes_ = 0;
    long long synced_ = 0;  // bytes on disk at the last sync
    std::uint32_t crc_ = 0;
    int err_ = 0;
    bool regular_ = false;
};

// The CRC-32 (that of zlib and gzip) of n bytes, continuing from crc (0 to start).
std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t n);

}  // namespace nep
