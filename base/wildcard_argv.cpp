// Wildcard expansion of paths ("*" and "?" in any segment).
#include <string.h>
#include <unistd.h>

#include "base/command_line.h"
#include "base/platform.h"
#include "base/visited_dirs.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Expands `pattern` into `out`. Each directory is listed once per remaining
// pattern, however many links lead to it, and at most kMaxSearchDepth
// wildcard segments deep: links that form cycles would otherwise multiply
// the work with every "*" segment.
void Expand(const char* pattern, MyCStringArray& out, CVisitedDirs& visited, int depth) {
    const char* wildcard = strpbrk(pattern, "*?");
    if (!*pattern || !wildcard) {
        if (*pattern && access(pattern, F_OK) == 0) out.Add(pattern);
        return;
    }
    int w = static_cast<int>(wildcard - pattern);
    int length = static_cast<int>(strlen(pattern));
    int d = 0;  // just after the last separator before the wildcard
    for (int i = w - 1; i >= 0; --i) {
        if (IsSeparator(pattern[i])) {
            d = i + 1;
            break;
        }
    }
    int e = w;  // end of the wildcard segment
    while (e < length && !IsSeparator(pattern[e])) ++e;

    // The listing splits its argument at the last "/" only (a backslash is an
    // ordinary file-name character to the directory search).
    MyCString listing(pattern, e);
    const char* slash = strrchr(listing, '/');
    MyCString directory = slash ? MyCString(listing, static_cast<int>(slash - listing.c_str()) + 1) : MyCString(".");
    if (depth == kMaxSearchDepth || !visited.FirstVisit(directory, length - w)) return;
    _finddata_t found;
    long handle = _findfirst(listing.c_str(), &found);
    if (handle == -1) return;
    do {
        if (IsDotEntry(found.name)) continue;
        MyCString path(pattern, d);
        path += found.name;
        if (e == length) {
            out.Add(path.c_str());
        } else if (found.attrib & _A_SUBDIR) {
            path += pattern + e;
            Expand(path.c_str(), out, visited, depth + 1);
        }
    } while (_findnext(handle, &found) == 0);
    _findclose(handle);
}

}  // namespace

void CWildcardArgv::FindFiles(const char* pattern, MyCStringArray& out) {
    if (!pattern) return;
    CVisitedDirs visited;
    Expand(pattern, out, visited, 0);
}
