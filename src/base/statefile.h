// Binary state files, the checkpoints of a run: a header (a magic text, a format version and a
// byte-order mark), a sequence of named and typed entries, and an end record holding the length
// of the file and the CRC-32 of every byte before the CRC itself. Numbers are kept as the
// machine holds them (IEEE doubles, two's-complement integers): what is read back is, bit for
// bit, what was written.
//
// An entry: the length of its name (one byte), the name, its type (one byte: 'i' int32, 'q'
// int64, 'd' double, 'f' float, 'b' bool as one byte, 's' bytes of a text), the number of values
// (uint64), the values.
//
// A file is written under a temporary name (PATH.part), put on disk (fsync), renamed over PATH,
// and the directory put on disk: PATH holds at every moment either the previous file or the new
// one, complete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace nep {

// Bytes of one value of each entry type (0: not a type).
std::size_t state_type_size(char type);

class state_writer {
public:
    state_writer() = default;
    state_writer(const state_writer&) = delete;
    state_writer& operator=(const state_writer&) = delete;
    ~state_writer();  // removes the temporary file of a file not committed

    // Creates PATH.part and writes the header; false (error() set) when it cannot be created.
    bool begin(const std::string& path, std::uint32_t version);
    void put(std::string_view name, char type, const void* data, std::uint64_t count);
    void put_text(std::string_view name, std::string_view s) { put(name, 's', s.data(), s.size()); }
    // Writes the end record, puts the file on disk and moves it into place; false (error() set,
    // the temporary file removed, PATH untouched) when any of it fails.
    bool commit();
    // The errno of the first failure (0: none).
    int error() const { return err_; }
    const std::string& part_path() const { return part_; }

    // Fault injection for the tests: the process kills itself (SIGKILL) once `bytes` bytes of
    // the file are written, or, when the file is shorter, just before the rename.
    void kill_after(long long bytes) { kill_ = bytes; }

private:
    void out(const void* p, std::size_t n);
    void drain();
    void fail(int e);

    int fd_ = -1;
    std::string path_, part_;
    std::vector<char> buf_;
    std::uint64_t bytes_ = 0;  // handed to the file so far
    std::uint32_t crc_ = 0;
    int err_ = 0;
    long long kill_ = -1;
};

class state_reader {
public:
    state_reader() = default;
    state_reader(const state_reader&) = delete;
    state_reader& operator=(const state_reader&) = delete;
    ~state_reader() { close(); }

    // Opens PATH and checks it whole (header, version, end record, length, checksum). Returns
    // "" when it can be read, else what is wrong, as the end of a sentence about the file ("is
    // truncated: ...").
    std::string open(const std::string& path, std::uint32_t version) { return open(path, version, version); }
    // The same for a file of any format version from `oldest` to `newest` (version() gives it).
    std::string open(const std::string& path, std::uint32_t oldest, std::uint32_t newest);
    std::uint32_t version() const { return version_; }
    void close();

    // The next entry, which must be `name` of `type` with `count` values, into data; "" or what
    // is wrong.
    std::string get(std::string_view name, char type, void* data, std::uint64_t count);
    // The next entry, a text of any length.
    std::string get_text(std::string_view name, std::string& s);
    // The values at `at` (ascending, from 0) of the next entry, which must be `name` of `type`
    // with `count` values, into data one after the other; the entry is read a block at a time
    // and the blocks without such a value are passed over.
    std::string get_picked(std::string_view name, char type, std::uint64_t count,
                           const std::vector<std::uint64_t>& at, void* data);
    // The number of values of the next entry, which must be `name` of `type`, without reading
    // it; "" or what is wrong.
    std::string count(std::string_view name, char type, std::uint64_t& count);
    // Passes over the next entry, which must be `name` of `type`, giving its number of values;
    // "" or what is wrong.
    std::string skip(std::string_view name, char type, std::uint64_t& count);
    // The place of the next entry, and a return to it.
    long long tell() const;
    bool seek(long long place);

private:
    std::string head(std::string_view name, char type, std::uint64_t& count);
    // head, and the entry's count checked to be `count`.
    std::string head_of(std::string_view name, char type, std::uint64_t count);
    bool in(void* p, std::size_t n);

    std::FILE* f_ = nullptr;
    std::uint64_t end_ = 0;  // offset of the end record
    std::uint32_t version_ = 0;
};

// Puts a directory on disk (after a rename into it); false when it fails.
bool sync_directory(const std::string& dir);
// The directory part of a path ("." when it has none).
std::string directory_of(const std::string& path);

}  // namespace nep
