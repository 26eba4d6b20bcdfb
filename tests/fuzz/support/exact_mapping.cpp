// File mappings for the fuzz build: the whole file is read into a heap block
// of exactly its size, so that a read one byte past the end is caught by
// AddressSanitizer instead of landing in the rest of a mapped page.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/platform.h"

HANDLE CreateFileMapping(HANDLE file, void*, DWORD, DWORD, DWORD, const char*) {
    if (!file || file == INVALID_HANDLE_VALUE || file->kind != 1) return nullptr;
    const int fd = static_cast<int>(file->value);
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size <= 0) return nullptr;
    const size_t size = static_cast<size_t>(st.st_size);
    char* copy = static_cast<char*>(malloc(size));
    if (!copy) return nullptr;
    size_t got = 0;
    while (got < size) {
        ssize_t n = pread(fd, copy + got, size - got, static_cast<off_t>(got));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got != size) {
        free(copy);
        return nullptr;
    }
    return new clzHANDLE(reinterpret_cast<intptr_t>(copy), 2, static_cast<intptr_t>(size));
}

void ReleaseMapping(HANDLE mapping) { free(reinterpret_cast<void*>(mapping->value)); }
