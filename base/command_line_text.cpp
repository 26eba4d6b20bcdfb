// Splitting a command line into arguments, joining arguments back into one,
// and backslash escapes.
#include <string.h>

#include "base/command_line.h"

static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

int CmdlineToArgv(CBufferT<char*>& list, char* s) {
    if (!s || !*s) return list.GetSize();
    int i = 0;  // write index
    int r = 0;  // read index
    bool quoted = false;
    for (;;) {
        while (IsBlank(s[r])) {
            s[i++] = '\0';
            ++r;
        }
        if (!s[r]) break;
        list.Append(s + i);
        for (;;) {
            char c = s[r];
            if (!c || (!quoted && IsBlank(c))) break;
            if (c == '"') {
                quoted = !quoted;
                ++r;
            } else if (c == '\\' && !quoted) {
                if (s[r + 1]) ++r;  // the next character is taken literally
                s[i++] = s[r++];
            } else if (c == '\\' && (s[r + 1] == '\\' || s[r + 1] == '"')) {
                s[i++] = s[r + 1];
                r += 2;
            } else {
                s[i++] = s[r++];
            }
        }
        if (!s[r]) break;
    }
    s[i] = '\0';
    return list.GetSize();
}

MyCString EscapeCmdLine(const MyCString& text) {
    MyCString out;
    for (int i = 0; i < text.GetSize(); ++i) {
        char c = text[i];
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

MyCString ArgvToCmdline(int argc, char** argv, int first) {
    MyCString out;
    for (int k = first < 0 ? 0 : first; argv && k < argc; ++k) {
        const char* arg = argv[k] ? argv[k] : "";
        if (!out.IsEmpty()) out += ' ';
        if (!*arg) {
            out += "\"\"";
        } else if (strpbrk(arg, " \t\"\\")) {
            out += '"';
            out += EscapeCmdLine(MyCString(arg));
            out += '"';
        } else {
            out += arg;
        }
    }
    return out;
}

MyCString unescape(const char* text) {
    MyCString out;
    if (!text) return out;
    for (const char* p = text; *p; ++p) {
        if (*p != '\\') {
            out += *p;
            continue;
        }
        char next = *++p;
        if (!next) break;  // a trailing backslash is dropped
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
    }
    return out;
}
