// Small file helpers of the generator: whole reads and writes at an offset
// that retry short transfers, and a kernel-side copy between descriptors.
#ifndef TVX_PACK_FILE_IO_H
#define TVX_PACK_FILE_IO_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace tvxpack {

// Reads exactly `n` bytes at `offset`; false (errno set, EIO for a short
// file) otherwise.
bool ReadAt(int fd, void* data, size_t n, uint64_t offset);

// Writes exactly `n` bytes at `offset`; false with errno set otherwise.
bool WriteAt(int fd, const void* data, size_t n, uint64_t offset);

// Copies `n` bytes from `in` at `inOffset` to `out` at `outOffset`
// (copy_file_range, falling back to reads and writes). On failure errno is
// kept and `error` describes it.
bool CopyRange(int in, uint64_t inOffset, int out, uint64_t outOffset, uint64_t n, std::string* error);

// Reads a whole regular file; `error` names the file on failure. Files are
// opened without blocking, so a FIFO is refused instead of waited on.
bool ReadWholeFile(const std::string& path, std::string* content, std::string* error);

// True when `path` (links followed) is a directory, or a regular file.
bool IsDirectory(const std::string& path);
bool IsRegularFile(const std::string& path);

}  // namespace tvxpack

#endif  // TVX_PACK_FILE_IO_H
