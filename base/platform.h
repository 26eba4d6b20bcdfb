// Windows-style file, mapping, module and library functions over POSIX.
// The launcher reads its executable, lists directories and loads libraries
// only through these.
#ifndef TVX_BASE_PLATFORM_H
#define TVX_BASE_PLATFORM_H

#include <stdint.h>
#include <stdio.h>
#include <sys/types.h>

#include "base/my_string.h"

typedef void* HMODULE;
typedef unsigned long DWORD;
typedef int BOOL;

// Handle record: kind 0 plain, 1 file (value = descriptor), 2 mapping
// (value = address, extra = length).
struct clzHANDLE {
    intptr_t value;
    int kind;
    intptr_t extra;
    FILE* stream;

    explicit clzHANDLE(intptr_t v) : value(v), kind(0), extra(0), stream(nullptr) {}
    clzHANDLE(intptr_t v, int k) : value(v), kind(k), extra(0), stream(nullptr) {}
    clzHANDLE(intptr_t v, int k, intptr_t e) : value(v), kind(k), extra(e), stream(nullptr) {}
};
typedef clzHANDLE* HANDLE;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

// Readlink of /proc/self/exe (without /proc: the executed path, resolved).
// Returns the bytes read (-1 on failure); a terminator is added only when
// the result is shorter than `size`.
int GetModuleFileName(HMODULE module, char* buffer, int size);
// Full path of the running executable through GetModuleFileName; empty when
// it cannot be read whole (a cut-short path names no file).
MyCString ModuleFilePath();

// Opens `path` for reading, without blocking (a FIFO opens at once).
HANDLE CreateFile(const char* path, DWORD access = 0, DWORD shareMode = 0, void* security = nullptr,
                  DWORD creation = 0, DWORD flags = 0, HANDLE templ = nullptr);
DWORD GetFileSize(HANDLE file, DWORD* high = nullptr);
// Maps the whole file read-only. Returns null (not a handle to an unusable
// address) when the file is empty or cannot be mapped.
HANDLE CreateFileMapping(HANDLE file, void* security = nullptr, DWORD protect = 0, DWORD sizeHigh = 0,
                         DWORD sizeLow = 0, const char* name = nullptr);
// Frees what CreateFileMapping set up (called by CloseHandle).
void ReleaseMapping(HANDLE mapping);
// The mapping's start + offsetLow; null for a bad handle or an offset past
// the mapping's end.
void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow, size_t bytes = 0);
BOOL UnmapViewOfFile(const void* address);
BOOL CloseHandle(HANDLE handle);
BOOL ReadFile(HANDLE file, void* buffer, DWORD count, DWORD* read, void* overlapped = nullptr);
DWORD GetCurrentDirectory(DWORD size, char* buffer);
DWORD GetFullPathName(const char* path, DWORD size, char* buffer, char** filePart = nullptr);

// Directory search (the 32-bit Windows record layout).
struct _finddata_t {
    uint32_t attrib;
    int32_t time_create;
    int32_t time_access;
    int32_t time_write;
    uint32_t size;
    char name[260];
};
#define _A_SUBDIR 0x10

// Lists the directory part of `searchPath` (up to its last "/", else "./") for
// names matching the rest with fnmatch. Returns a search handle, or -1 when
// the directory cannot be opened, nothing matches, or the directory part
// (PATH_MAX - 1 bytes) or the pattern (NAME_MAX bytes) is too long; that
// last refusal is reported on standard error.
long _findfirst(const char* searchPath, _finddata_t* data);
// 0 with the next match in `data`, -1 when the directory is exhausted.
int _findnext(long handle, _finddata_t* data);
int _findclose(long handle);
// True for the entries "." and "..", which a "*" search also lists.
bool IsDotEntry(const char* name);
// Appends "/" to a directory path unless it already ends in "/" or "\".
void AppendDirSeparator(MyCString& dir);
// The user's login name, or "uid N" when the user has none.
MyCString UserName(uid_t uid);

HMODULE LoadLibrary(const char* path);
void* GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);

#endif  // TVX_BASE_PLATFORM_H
