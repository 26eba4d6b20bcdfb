// Looking up settings lines by key.
#include <ctype.h>
#include <string.h>
#include <strings.h>

#include "settings/settings_loader.h"
#include "settings/settings_private.h"

namespace {
bool IsKeyChar(char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; }

const char* SkipSpaces(const char* p) {
    while (*p == ' ') ++p;
    return p;
}
}  // namespace

const char* ValueOfSettingsLine(const char* line, const char* key) {
    const size_t keyLength = strlen(key);
    const char* p = SkipSpaces(line);
    if (keyLength == 0 || strncasecmp(p, key, keyLength) != 0 || IsKeyChar(p[keyLength])) return nullptr;
    p = SkipSpaces(p + keyLength);
    if (*p == '=') p = SkipSpaces(p + 1);
    return p;
}

MyCString CSettingsLoader::EnumLines(const MyCString& key, EnumCallback callback, void* context,
                                     bool embeddedOnly, bool localeConversion, const MyCString& prefixFilter) {
    // Up to the key's first NUL, so that a match never runs past a line's end.
    const size_t keyLength = strlen(key);
    if (keyLength == 0) return MyCString();
    int start = embeddedOnly ? m_externalLength : 0;
    if (start < 0 || start > GetLength()) start = GetLength();
    const CStringRefT<char> prefix(prefixFilter.GetData(), prefixFilter.GetLength());

    CLineReader reader(GetData() + start);
    MyCString line;
    while (reader.GetLine(line)) {
        const char* p = ValueOfSettingsLine(line, key);
        if (!p) continue;
        MyCString value(p, line.GetLength() - static_cast<int>(p - line.c_str()));
        if (localeConversion && HasHighBytes(value, value.GetLength()))
            value = Utf8ToLocale(value, value.GetLength());
        if (prefix.GetLength() > 0 && prefix.nCompare(value) != 0) continue;
        if (!callback) return value;
        callback(context, value);
    }
    return MyCString();
}

MyCString CSettingsLoader::GetCommon(const MyCString& key, bool embeddedOnly, bool localeConversion) {
    return EnumLines(key, nullptr, nullptr, embeddedOnly, localeConversion, MyCString());
}

namespace {

// A stream target: a "|command" target gets every variable's value as one
// quoted shell word, so a value never becomes shell syntax.
MyCString StreamTarget(const MyCString& raw) {
    return CSettingsLoader::EnvProcess(raw, false, raw.GetLength() > 0 && raw[0] == '|');
}

}  // namespace

MyCString CSettingsLoader::GetStdout() { return StreamTarget(GetCommon("stdout", false, true)); }
MyCString CSettingsLoader::GetStderr() { return StreamTarget(GetCommon("stderr", false, true)); }
MyCString CSettingsLoader::GetForceCwd() { return EnvProcess(GetCommon("forcecwd", false, true), false); }

void CSettingsLoader::GetAll(const char* key, MyCStringArray& out, bool utf8) {
    EnumLines(key, utf8 ? EnumCommonCallbackUtf8 : EnumCommonCallback, &out, false, !utf8, MyCString());
}

void CSettingsLoader::EnumCommonCallback(void* context, const char* value) {
    MyCString expanded = EnvProcess(value, false);
    static_cast<MyCStringArray*>(context)->Add(expanded, expanded.GetLength());
}

void CSettingsLoader::EnumCommonCallbackUtf8(void* context, const char* value) {
    MyCString expanded = EnvProcess(value, true);
    static_cast<MyCStringArray*>(context)->Add(expanded, expanded.GetLength());
}
