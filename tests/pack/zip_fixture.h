// ZIP archives for the generator's tests, made and read with libzip: jars
// with chosen entries, methods and comments, and the raw (compressed) bytes
// of every entry of an archive that may sit inside a larger file.
#ifndef TVX_TESTS_PACK_ZIP_FIXTURE_H
#define TVX_TESTS_PACK_ZIP_FIXTURE_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace packtest {

struct EntrySpec {
    std::string name;
    std::string data;
    bool deflate = true;
    int64_t mtime = -1;  // modification time; -1: now
};

// Writes an archive with the entries (in order) and the comment.
void WriteZip(const std::string& path, const std::vector<EntrySpec>& entries, const std::string& comment = "");

struct RawEntry {
    std::string raw;      // compressed bytes as stored
    int method = 0;
    uint32_t crc = 0;
    uint64_t size = 0;
    int64_t mtime = 0;
};

struct ArchiveView {
    bool ok = false;
    std::string error;
    std::map<std::string, RawEntry> entries;
    std::string comment;
};

// Reads the archive occupying [offset, end of file) of `path`.
ArchiveView ReadArchive(const std::string& path, uint64_t offset = 0);

// `n` bytes that deflate cannot shrink, from a fixed seed.
std::string RandomBytes(size_t n, uint32_t seed);

// Names of the entries of a directory (without "." and "..").
std::set<std::string> ListDir(const std::string& dir);

// A jar whose only entry claims 4 GiB + 16 stored bytes; the file is sparse
// (written as holes), so it costs no disk space.
void WriteHugeSparseZip(const std::string& path);

}  // namespace packtest

#endif  // TVX_TESTS_PACK_ZIP_FIXTURE_H
