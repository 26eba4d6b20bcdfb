#include "pack/file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace tvxpack {

namespace {

// Repeats `op` (pread or pwrite) until all `n` bytes are moved; a transfer
// of 0 bytes counts as EIO (a short file).
template <class Buffer, class Op>
bool TransferAll(Op op, int fd, Buffer* p, size_t n, uint64_t offset) {
    while (n > 0) {
        ssize_t moved = op(fd, p, n, static_cast<off_t>(offset));
        if (moved < 0 && errno == EINTR) continue;
        if (moved <= 0) {
            if (moved == 0) errno = EIO;
            return false;
        }
        p += moved;
        n -= static_cast<size_t>(moved);
        offset += static_cast<uint64_t>(moved);
    }
    return true;
}

}  // namespace

bool ReadAt(int fd, void* data, size_t n, uint64_t offset) {
    return TransferAll(pread, fd, static_cast<char*>(data), n, offset);
}

bool WriteAt(int fd, const void* data, size_t n, uint64_t offset) {
    return TransferAll(pwrite, fd, static_cast<const char*>(data), n, offset);
}

namespace {

bool CopyByReading(int in, uint64_t inOffset, int out, uint64_t outOffset, uint64_t n) {
    std::vector<char> buffer(1 << 20);
    while (n > 0) {
        size_t chunk = n < buffer.size() ? static_cast<size_t>(n) : buffer.size();
        if (!ReadAt(in, buffer.data(), chunk, inOffset) || !WriteAt(out, buffer.data(), chunk, outOffset))
            return false;
        inOffset += chunk;
        outOffset += chunk;
        n -= chunk;
    }
    return true;
}

}  // namespace

bool CopyRange(int in, uint64_t inOffset, int out, uint64_t outOffset, uint64_t n, std::string* error) {
    bool ok = true;
    while (n > 0) {
        // loff_t: 64-bit offsets on 32-bit processors too.
        loff_t from = static_cast<loff_t>(inOffset), to = static_cast<loff_t>(outOffset);
        // At most 1 GiB per call, so the count fits a 32-bit size_t.
        size_t chunk = n > (uint64_t{1} << 30) ? size_t{1} << 30 : static_cast<size_t>(n);
        ssize_t done = copy_file_range(in, &from, out, &to, chunk, 0);
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                         errno == EBADF || errno == EPERM)) {
            ok = CopyByReading(in, inOffset, out, outOffset, n);
            break;
        }
        if (done <= 0) {
            if (done == 0) errno = EIO;  // the source ended early
            ok = false;
            break;
        }
        inOffset += static_cast<uint64_t>(done);
        outOffset += static_cast<uint64_t>(done);
        n -= static_cast<uint64_t>(done);
    }
    if (!ok) {
        int saved = errno;
        *error = std::string("copy failed: ") + strerror(saved);
        errno = saved;
    }
    return ok;
}

bool ReadWholeFile(const std::string& path, std::string* content, std::string* error) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) {
        *error = path + ": not a regular file";
    } else {
        content->assign(static_cast<size_t>(st.st_size), '\0');
        ok = content->empty() || ReadAt(fd, &(*content)[0], content->size(), 0);
        if (!ok) *error = "cannot read " + path + ": " + strerror(errno);
    }
    close(fd);
    return ok;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace tvxpack
