// Directory search over opendir/readdir/fnmatch.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "base/diagnostic.h"
#include "base/platform.h"

// The search record keeps the layout of the 32-bit Windows record.
static_assert(offsetof(_finddata_t, time_create) == 4 && offsetof(_finddata_t, size) == 16 &&
                  offsetof(_finddata_t, name) == 20 && sizeof(_finddata_t) == 280,
              "_finddata_t layout");

namespace {

struct FindState {
    DIR* dir;
    char path[PATH_MAX];  // directory with its trailing "/"; names are tested after it
    long pathLength;
    char pattern[NAME_MAX + 1];
};

// Attribute of a matched entry: 0x10 for a directory or a link to one.
unsigned DirectoryAttribute(FindState* state, const dirent* entry) {
    if (entry->d_type == DT_DIR) return _A_SUBDIR;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return 0;
    // "name/." exists only when name resolves to a directory.
    static const char kSelf[] = "/.";
    size_t nameLength = strlen(entry->d_name);
    size_t start = static_cast<size_t>(state->pathLength);
    if (start + nameLength + sizeof kSelf <= sizeof state->path) {
        memcpy(state->path + start, entry->d_name, nameLength);
        memcpy(state->path + start + nameLength, kSelf, sizeof kSelf);
        bool isDir = access(state->path, F_OK) == 0;
        state->path[start] = '\0';
        return isDir ? _A_SUBDIR : 0;
    }
    // Too long to append to the directory path: test it relative to the open
    // directory instead.
    char relative[sizeof entry->d_name + sizeof kSelf];
    memcpy(relative, entry->d_name, nameLength);
    memcpy(relative + nameLength, kSelf, sizeof kSelf);
    return faccessat(dirfd(state->dir), relative, F_OK, 0) == 0 ? _A_SUBDIR : 0;
}

int FindNext(FindState* state, _finddata_t* data) {
    for (;;) {
        const dirent* entry = readdir(state->dir);
        if (!entry) return -1;
        size_t nameLength = strlen(entry->d_name);
        // A name the record cannot hold is skipped, never cut short.
        if (nameLength >= sizeof data->name) continue;
        if (fnmatch(state->pattern, entry->d_name, 0) != 0) continue;
        memset(data, 0, sizeof *data);
        memcpy(data->name, entry->d_name, nameLength + 1);
        data->attrib = DirectoryAttribute(state, entry);
        return 0;
    }
}

}  // namespace

long _findfirst(const char* searchPath, _finddata_t* data) {
    if (!searchPath || !data) return -1;
    FindState state;
    memset(&state, 0, sizeof state);
    const char* slash = strrchr(searchPath, '/');
    const char* pattern = slash ? slash + 1 : searchPath;
    size_t dirLength = slash ? static_cast<size_t>(pattern - searchPath) : 2;
    size_t patternLength = strlen(pattern);
    // Refuse what the buffers cannot hold rather than search a cut-down
    // directory or pattern, and say so: the search would find nothing.
    if (dirLength >= sizeof state.path || patternLength >= sizeof state.pattern) {
        SayWarning("%s: path too long to search (at most %d bytes, %d per name)", searchPath,
                static_cast<int>(sizeof state.path) - 1, static_cast<int>(sizeof state.pattern) - 1);
        return -1;
    }
    memcpy(state.path, slash ? searchPath : "./", dirLength);
    memcpy(state.pattern, pattern, patternLength + 1);
    state.pathLength = static_cast<long>(dirLength);
    state.dir = opendir(state.path);
    if (!state.dir) return -1;
    if (FindNext(&state, data) != 0) {
        closedir(state.dir);
        return -1;
    }
    FindState* handle = new FindState(state);
    return reinterpret_cast<long>(handle);
}

int _findnext(long handle, _finddata_t* data) {
    if (handle == -1 || handle == 0 || !data) return -1;
    return FindNext(reinterpret_cast<FindState*>(handle), data);
}

int _findclose(long handle) {
    if (handle == -1 || handle == 0) return -1;
    FindState* state = reinterpret_cast<FindState*>(handle);
    closedir(state->dir);
    delete state;
    return 0;
}
