// Option parser over an argument vector.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "base/command_line.h"

static bool IsOptionStart(const char* arg) { return arg && (arg[0] == '-' || arg[0] == '/'); }

CGetOption::CGetOption(int argc, char** argv, const char* optionList, bool ignoreCase)
    : m_argc(argc), m_argv(argv), m_nOpts(0), m_opts(nullptr), m_spec(nullptr), m_kinds(nullptr),
      m_ncmp(nullptr), m_cmp(nullptr) {
    if (optionList) {
        BuildOpts(optionList, ignoreCase);
    } else {
        m_ncmp = ignoreCase ? strncasecmp : strncmp;
        m_cmp = ignoreCase ? strcasecmp : strcmp;
    }
}

CGetOption::~CGetOption() { Clean(); }

void CGetOption::Clean() {
    free(m_opts);
    free(m_spec);
    free(m_kinds);
    m_opts = nullptr;
    m_spec = nullptr;
    m_kinds = nullptr;
    m_nOpts = 0;
}

void CGetOption::BuildOpts(const char* optionList, bool ignoreCase) {
    Clean();
    m_ncmp = ignoreCase ? strncasecmp : strncmp;
    m_cmp = ignoreCase ? strcasecmp : strcmp;
    if (!optionList) return;
    size_t length = strlen(optionList);
    m_spec = static_cast<char*>(malloc(length + 1));
    if (!m_spec) return;
    memcpy(m_spec, optionList, length + 1);
    int pieces = 1;
    for (size_t i = 0; i < length; ++i) {
        if (m_spec[i] == '|') {
            m_spec[i] = '\0';
            ++pieces;
        }
    }
    m_opts = static_cast<char**>(malloc(sizeof(char*) * pieces));
    m_kinds = static_cast<char*>(malloc(static_cast<size_t>(pieces)));
    if (!m_opts || !m_kinds) {
        Clean();
        return;
    }
    for (char* p = m_spec; p <= m_spec + length; p += strlen(p) + 1) {
        if (*p) m_opts[m_nOpts++] = p;
    }
    for (int i = 0; i < m_nOpts; ++i) {
        size_t n = strlen(m_opts[i]);
        if (m_opts[i][n - 1] == ':') {
            m_kinds[i] = 'p';
            m_opts[i][n - 1] = '\0';
        } else {
            m_kinds[i] = 'f';
        }
    }
}

int CGetOption::EnumOpts(const char*& name, const char*& value, int& index) {
    if (index < 0 || index >= m_argc || !m_argv || !m_argv[index]) return 0;
    const char* arg = m_argv[index];
    if (!IsOptionStart(arg)) {
        name = nullptr;
        value = arg;
        ++index;
        return 1;
    }
    const char* text = arg + 1;
    const char* sep = strpbrk(text, ":=");
    for (int i = 0; i < m_nOpts; ++i) {
        const char* option = m_opts[i];
        size_t optionLength = strlen(option);
        const char* attached;
        if (sep) {
            size_t length = static_cast<size_t>(sep - text);
            if (optionLength != length || m_ncmp(text, option, length) != 0) continue;
            attached = sep + 1;
        } else {
            if (m_ncmp(text, option, optionLength) != 0) continue;
            attached = text + optionLength;
        }
        name = option;
        value = attached;
        ++index;
        if (m_kinds[i] == 'f') return *attached ? 2 : 1;
        if (*attached) return 1;
        if (index >= m_argc || !m_argv[index] || IsOptionStart(m_argv[index])) return -1;
        value = m_argv[index++];
        return 1;
    }
    name = arg;
    value = nullptr;
    ++index;
    return -2;
}
