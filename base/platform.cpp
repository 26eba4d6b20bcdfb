#include "base/platform.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

// Without /proc: the path the kernel executed, made absolute.
static ssize_t ExecutablePathFromAuxv(char* buffer, size_t size) {
    const char* executed = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (!executed) return -1;
    char* resolved = realpath(executed, nullptr);
    if (!resolved) return -1;
    size_t length = strlen(resolved);
    size_t n = length < size ? length : size;
    memcpy(buffer, resolved, n);
    free(resolved);
    return static_cast<ssize_t>(n);
}

int GetModuleFileName(HMODULE, char* buffer, int size) {
    if (!buffer || size <= 0) return -1;
    ssize_t n = readlink("/proc/self/exe", buffer, static_cast<size_t>(size));
    if (n < 0) n = ExecutablePathFromAuxv(buffer, static_cast<size_t>(size));
    if (n < 0) return -1;
    if (n < size) buffer[n] = '\0';
    return static_cast<int>(n);
}

bool IsDotEntry(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

void AppendDirSeparator(MyCString& dir) {
    char last = dir.GetAt(dir.GetLength() - 1, '\0');
    if (last != '/' && last != '\\') dir += '/';
}

MyCString ModuleFilePath() {
    char buffer[4096];
    int n = GetModuleFileName(nullptr, buffer, sizeof buffer);
    if (n <= 0 || n >= static_cast<int>(sizeof buffer)) return MyCString();
    return MyCString(buffer, n);
}

HANDLE CreateFile(const char* path, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
    // Without blocking: opening a FIFO for reading would wait for a writer.
    int fd = path ? open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK) : -1;
    if (fd < 0) return INVALID_HANDLE_VALUE;
    return new clzHANDLE(fd, 1);
}

static bool IsFileHandle(HANDLE h) { return h && h != INVALID_HANDLE_VALUE && h->kind == 1; }

static FILE* StreamOf(HANDLE h) {
    if (!h->stream) h->stream = fdopen(static_cast<int>(h->value), "rb");
    return h->stream;
}

// Size of the file behind a handle, as 64 bits.
static uint64_t FileSize64(HANDLE file) {
    struct stat st;
    if (fstat(static_cast<int>(file->value), &st) == 0) return static_cast<uint64_t>(st.st_size);
    FILE* f = StreamOf(file);
    if (!f) return 0;
    long pos = ftell(f);
    if (fseek(f, 0, SEEK_END) != 0) return 0;
    long end = ftell(f);
    fseek(f, pos, SEEK_SET);
    return end < 0 ? 0 : static_cast<uint64_t>(end);
}

DWORD GetFileSize(HANDLE file, DWORD* high) {
    if (!IsFileHandle(file)) return 0;
    uint64_t size = FileSize64(file);
    if (high) *high = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

void* MapViewOfFile(HANDLE mapping, DWORD, DWORD, DWORD offsetLow, size_t) {
    if (!mapping || mapping == INVALID_HANDLE_VALUE || mapping->kind != 2) return nullptr;
    // An offset past the end would name memory outside the mapping.
    if (offsetLow > static_cast<uintptr_t>(mapping->extra)) return nullptr;
    return reinterpret_cast<char*>(mapping->value) + offsetLow;
}

BOOL UnmapViewOfFile(const void*) { return 1; }

BOOL CloseHandle(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return 1;
    if (handle->kind == 1) {
        if (handle->stream)
            fclose(handle->stream);
        else
            close(static_cast<int>(handle->value));
    } else if (handle->kind == 2) {
        ReleaseMapping(handle);
    }
    delete handle;
    return 1;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* readOut, void*) {
    ssize_t n = -1;
    if (IsFileHandle(file)) {
        n = read(static_cast<int>(file->value), buffer, count);
        if (n == 0 && count > 0) {
            FILE* f = StreamOf(file);
            if (f) n = static_cast<ssize_t>(fread(buffer, 1, count, f));
        }
    }
    if (readOut) *readOut = static_cast<DWORD>(n);
    return 1;
}

DWORD GetCurrentDirectory(DWORD size, char* buffer) {
    if (!buffer || size == 0 || !getcwd(buffer, size)) {
        if (buffer && size) buffer[0] = '\0';
        return 0;
    }
    return static_cast<DWORD>(strlen(buffer));
}

DWORD GetFullPathName(const char* path, DWORD size, char* buffer, char**) {
    if (!path) return 0;
    size_t len = strlen(path);
    if (buffer && size > 0) {
        strncpy(buffer, path, size);
        buffer[size - 1 < len ? size - 1 : len] = '\0';
    }
    return static_cast<DWORD>(len);
}

MyCString UserName(uid_t uid) {
    MyCString name;
    struct passwd* entry = getpwuid(uid);
    if (entry && entry->pw_name)
        name = entry->pw_name;
    else
        name.Format("uid %u", static_cast<unsigned>(uid));
    return name;
}
