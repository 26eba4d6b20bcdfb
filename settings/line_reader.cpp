#include "settings/settings_loader.h"

namespace {
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
}  // namespace

bool CLineReader::GetLine(MyCString& line) {
    const char* p = m_pRef;
    if (!p || *p == '\0') return false;
    int n = 0;
    while (p[n] != '\0' && !IsLineEnd(p[n])) ++n;
    line.Assign(p, n);
    p += n;
    if (IsLineEnd(*p)) {
        // CR LF and LF CR are one line end; a NUL is never passed.
        if (IsLineEnd(p[1]) && p[1] != p[0])
            p += 2;
        else
            p += 1;
    }
    m_pRef = p;
    return true;
}
