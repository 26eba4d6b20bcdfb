// Text-level argument tools: option parser, wildcard expansion, splitting a
// command line into arguments and joining it back, backslash escapes.
#ifndef TVX_BASE_COMMAND_LINE_H
#define TVX_BASE_COMMAND_LINE_H

#include "base/my_string.h"

class CGetOption {
public:
    CGetOption(int argc, char** argv, const char* optionList, bool ignoreCase);
    virtual ~CGetOption();
    CGetOption(const CGetOption&) = delete;
    CGetOption& operator=(const CGetOption&) = delete;

    void BuildOpts(const char* optionList, bool ignoreCase);
    void Clean();
    // 0 end, 1 plain argument or recognised option, 2 flag with attached
    // text, -1 value option without value, -2 unknown option.
    int EnumOpts(const char*& name, const char*& value, int& index);

private:
    int m_argc;
    char** m_argv;
    int m_nOpts;
    char** m_opts;
    char* m_spec;
    char* m_kinds;
    int (*m_ncmp)(const char*, const char*, size_t);
    int (*m_cmp)(const char*, const char*);
};

class CWildcardArgv {
public:
    CWildcardArgv() {}
    virtual ~CWildcardArgv() {}
    static void FindFiles(const char* pattern, MyCStringArray& out);
    MyCStringArray& Files() { return m_files; }

private:
    MyCStringArray m_files;
};

// Splits `text` in place; appends one pointer per argument; returns the
// list's new length.
int CmdlineToArgv(CBufferT<char*>& list, char* text);
MyCString EscapeCmdLine(const MyCString& text);
MyCString ArgvToCmdline(int argc, char** argv, int first);
MyCString unescape(const char* text);

#endif  // TVX_BASE_COMMAND_LINE_H
