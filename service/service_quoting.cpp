// The service's arguments are stored as one command line (ArgvToCmdline).
// Each init system reads its file with its own rules, so the line is split
// back into its arguments and every argument is written the way that
// system reads it back unchanged: systemd's quoting with its "%" specifiers
// and "$" variables escaped, or a shell word for the Upstart job and the
// SysV script. Only what no file line can carry is refused: control
// characters (newlines among them).
#include <stdio.h>
#include <string.h>

#include "base/command_line.h"
#include "service/service.h"

namespace {

// Characters that mean nothing to a shell or to systemd inside a word.
bool IsPlainWordByte(unsigned char c) {
    if (c >= 0x80) return true;  // bytes of non-ASCII text
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c != '\0' && strchr("-_./:=@+,", c) != nullptr;
}

bool IsPlainWord(const char* word) {
    if (!*word) return false;
    for (const char* p = word; *p; ++p) {
        if (!IsPlainWordByte(static_cast<unsigned char>(*p))) return false;
    }
    return true;
}

bool IsControlByte(unsigned char c) { return c < 0x20 || c == 0x7f; }

// Joins the arguments of the stored command line with blanks: plain words
// as they are, any other through `quote`.
MyCString JoinQuoted(const char* args, void (*quote)(MyCString& out, const char* word)) {
    MyCString pool(args ? args : "");
    CBufferT<char*> words;
    CmdlineToArgv(words, pool.GetBuffer());
    MyCString out;
    for (int i = 0; i < words.GetSize(); ++i) {
        if (i > 0) out += ' ';
        if (IsPlainWord(words[i]))
            out += words[i];
        else
            quote(out, words[i]);
    }
    return out;
}

// systemd: inside double quotes a backslash escapes; "%" starts a specifier
// and "$" a variable anywhere on the line, so both are doubled.
void QuoteSystemDWord(MyCString& out, const char* word) {
    out += '"';
    for (const char* p = word; *p; ++p) {
        if (*p == '"' || *p == '\\') out += '\\';
        if (*p == '%' || *p == '$') out += *p;
        out += *p;
    }
    out += '"';
}

// A shell word: single quotes take everything literally but themselves.
void QuoteShellWord(MyCString& out, const char* word) {
    out += '\'';
    for (const char* p = word; *p; ++p) {
        if (*p == '\'')
            out += "'\\''";
        else
            out += *p;
    }
    out += '\'';
}

}  // namespace

MyCString QuoteArgumentsSystemD(const char* args) { return JoinQuoted(args, QuoteSystemDWord); }

MyCString QuoteArgumentsShell(const char* args) { return JoinQuoted(args, QuoteShellWord); }

MyCString CheckServiceArguments(const char* args) {
    MyCString pool(args ? args : "");
    CBufferT<char*> words;
    CmdlineToArgv(words, pool.GetBuffer());
    MyCString problem;
    for (int i = 0; i < words.GetSize() && problem.IsEmpty(); ++i) {
        const char* word = words[i];
        unsigned char found = 0;
        MyCString shown;  // the argument with its control characters made visible
        for (const char* p = word; *p; ++p) {
            unsigned char c = static_cast<unsigned char>(*p);
            if (!IsControlByte(c)) {
                shown += *p;
                continue;
            }
            if (!found) found = c;
            char escape[8];
            snprintf(escape, sizeof escape, c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\x%02X", c);
            shown += escape;
        }
        if (!found) continue;
        const char* what = found == '\n' ? "a newline" : found == '\r' ? "a carriage return" : "a control character";
        problem.Format("The service argument \"%s\" holds %s, which no line of the service's file can carry.",
                       shown.c_str(), what);
    }
    return problem;
}
