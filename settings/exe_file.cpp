#include <sys/stat.h>

#include "settings/settings_private.h"

namespace {

// Size of an open file handle, all 64 bits.
uint64_t SizeOfHandle(HANDLE file) {
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    return (static_cast<uint64_t>(high) << 32) | (low & 0xFFFFFFFFu);
}

}  // namespace

MyCString ExecutableOrSelf(const char* path) {
    return path ? MyCString(path) : ModuleFilePath();
}

CMappedFile::CMappedFile(const char* path)
    : m_file(INVALID_HANDLE_VALUE), m_mapping(nullptr), m_data(nullptr), m_size(0) {
    if (!path || !*path) return;
    m_file = CreateFile(path);
    if (m_file == INVALID_HANDLE_VALUE) return;
    m_mapping = CreateFileMapping(m_file);
    if (!m_mapping) return;
    m_data = static_cast<const unsigned char*>(MapViewOfFile(m_mapping, 0, 0, 0));
    // The mapping's own length bounds every read, whatever the file's size
    // is by now.
    if (m_data) m_size = static_cast<uint64_t>(m_mapping->extra);
}

CMappedFile::~CMappedFile() {
    if (m_data) UnmapViewOfFile(m_data);
    if (m_mapping) CloseHandle(m_mapping);
    if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
}

bool ReadWholeFile(const char* path, uint32_t limit, MyCString& out, const char** refusal) {
    out.Empty();
    *refusal = nullptr;
    HANDLE file = CreateFile(path);
    if (file == INVALID_HANDLE_VALUE) return false;
    struct stat st;
    if (fstat(static_cast<int>(file->value), &st) != 0 || !S_ISREG(st.st_mode)) {
        *refusal = "not a regular file";
    } else if (SizeOfHandle(file) > limit) {
        *refusal = "larger than the 64 MiB limit of settings";
    }
    if (*refusal) {
        CloseHandle(file);
        return false;
    }
    const uint64_t size = SizeOfHandle(file);
    int total = static_cast<int>(size);
    out.SetSize(total);
    int got = 0;
    while (got < total) {
        DWORD n = 0;
        ReadFile(file, out.Data() + got, static_cast<DWORD>(total - got), &n);
        if (n == 0 || n > static_cast<DWORD>(total - got)) break;  // end of file or error
        got += static_cast<int>(n);
    }
    out.SetSize(got);
    CloseHandle(file);
    return true;
}
