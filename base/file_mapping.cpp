// Whole-file read-only mappings (the fuzz build puts exact-size heap copies
// in their place, so that reads past a file's end are caught).
#include <stdint.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include "base/platform.h"

HANDLE CreateFileMapping(HANDLE file, void*, DWORD, DWORD, DWORD, const char*) {
    if (!file || file == INVALID_HANDLE_VALUE || file->kind != 1) return nullptr;
    const int fd = static_cast<int>(file->value);
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size <= 0) return nullptr;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size > static_cast<uint64_t>(SIZE_MAX)) return nullptr;
    void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) return nullptr;
    return new clzHANDLE(reinterpret_cast<intptr_t>(p), 2, static_cast<intptr_t>(size));
}

void ReleaseMapping(HANDLE mapping) {
    munmap(reinterpret_cast<void*>(mapping->value), static_cast<size_t>(mapping->extra));
}
