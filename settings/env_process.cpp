// Variable expansion in settings values, and the loader's internal variables.
#include <ctype.h>
#include <stdlib.h>
#include <strings.h>

#include "base/explain.h"
#include "settings/settings_loader.h"
#include "settings/settings_private.h"

namespace {

// Explain mode: one line per variable reference and what replaced it.
void ExplainExpansion(const char* reference, int length, const char* value, bool fromEnvironment) {
    MyCString ref(reference, length);
    if (!value)
        CExplain::Fact("expand %s: undefined, kept as written", ref.c_str());
    else
        CExplain::Fact("expand %s = %s (%s)", ref.c_str(), value,
                       fromEnvironment ? "environment" : "internal variable");
}

// `value` in single quotes, each ' written '\'': one word the shell takes
// as it is.
MyCString ShellWord(const MyCString& value) {
    MyCString word("'");
    for (int i = 0; i < value.GetLength(); ++i) {
        if (value[i] == '\'')
            word += "'\\''";
        else
            word += value[i];
    }
    word += "'";
    return word;
}

bool IsNameChar(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// HOMEDRIVE followed by HOMEPATH, built once both are set; freed at exit.
MyCString* g_homeText = nullptr;

void getinternalenv_callback() {
    delete g_homeText;
    g_homeText = nullptr;
}

MyCString* CreateHomeText() {
    MyCString* text = new MyCString();
    g_homeText = text;
    atexit(getinternalenv_callback);
    return text;
}

const char* HomeText() {
    static MyCString* text = CreateHomeText();
    if (text->IsEmpty()) {
        const char* drive = getenv("HOMEDRIVE");
        const char* path = getenv("HOMEPATH");
        if (drive && path) {
            *text += drive;
            *text += path;
        }
    }
    return *text;
}

}  // namespace

const char* CSettingsLoader::getinternalenv(const char* name) {
    if (!name) return nullptr;
    if (strcasecmp(name, "APPLICATION_HOME") == 0) return m_appHome;
    if (strcasecmp(name, "PWD") == 0) return m_curDir;
    if (strcasecmp(name, "TVX_APP_PATH") == 0) return m_exePath;
    if (strcasecmp(name, "HOME") == 0) return HomeText();
    return nullptr;
}

MyCString CSettingsLoader::EnvProcess(const MyCString& text, bool utf8, bool shellWords) {
    const char* s = text.GetData();
    const int n = text.GetLength();
    MyCString out;
    int scan = 0;
    int copy = 0;
    for (;;) {
        int i = scan;
        while (i < n && s[i] != '%' && s[i] != '$') ++i;
        if (i >= n) break;
        const char trigger = s[i];

        // The name: {...} (to the end when unclosed) or a run of name characters.
        int nameStart = i + 1;
        int nameEnd;
        if (nameStart < n && s[nameStart] == '{') {
            ++nameStart;
            nameEnd = nameStart;
            while (nameEnd < n && s[nameEnd] != '}') ++nameEnd;
            scan = nameEnd < n ? nameEnd + 1 : n;
        } else {
            nameEnd = nameStart;
            while (nameEnd < n && IsNameChar(s[nameEnd])) ++nameEnd;
            scan = nameEnd;
        }

        MyCString replacement;
        if (nameEnd == nameStart) {
            // "%%" and "$$" stand for the character itself.
            if (scan >= n || s[scan] != trigger) continue;
            replacement += trigger;
            ++scan;
        } else {
            if (trigger == '%') {
                if (scan >= n || s[scan] != '%') continue;
                ++scan;
            }
            MyCString name(s + nameStart, nameEnd - nameStart);
            const char* value = getenv(name);
            const bool fromEnvironment = value != nullptr;
            if (!value && pldr) value = pldr->getinternalenv(name);
            if (CExplain::On()) ExplainExpansion(s + i, scan - i, value, fromEnvironment);
            if (!value) continue;  // unknown: the reference stays as written
            replacement = value;
            if (utf8 && HasHighBytes(replacement, replacement.GetLength()))
                replacement = LocaleToUtf8(replacement, replacement.GetLength());
            if (shellWords) replacement = ShellWord(replacement);
        }
        out.Append(s + copy, i - copy);
        out += replacement;
        copy = scan;
    }
    out.Append(s + copy, n - copy);
    return out;
}
