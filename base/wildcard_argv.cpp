// Wildcard expansion of paths ("*" and "?" in any segment).
#include <string.h>
#include <unistd.h>

#include "base/command_line.h"
#include "base/platform.h"

static bool IsSeparator(char c) { return c == '/' || c == '\\'; }

void CWildcardArgv::FindFiles(const char* pattern, MyCStringArray& out) {
    if (!pattern) return;
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
            FindFiles(path.c_str(), out);
        }
    } while (_findnext(handle, &found) == 0);
    _findclose(handle);
}
