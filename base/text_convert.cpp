#include "base/text_convert.h"

#include <limits.h>
#include <stdlib.h>

UcsString::UcsString(const wchar_t* wide) : CStringBufT<unsigned short>() {
    if (!wide) return;
    int n = static_cast<int>(wcslen(wide));
    unsigned short* out = PrepareInsert(0, n);
    for (int i = 0; i < n; ++i) out[i] = static_cast<unsigned short>(wide[i] & 0xFFFF);
}

UnicodeString::UnicodeString(const char* text, int length) : CStringBufT<wchar_t>() {
    if (!text) return;
    if (length < 0) length = static_cast<int>(strlen(text));
    SetSize(length);
    // Convert sequence by sequence so that text invalid in the locale keeps
    // what came before it instead of failing as a whole.
    mbstate_t state;
    memset(&state, 0, sizeof state);
    wchar_t* out = Data();
    int written = 0;
    size_t pos = 0;
    size_t limit = static_cast<size_t>(length);
    while (pos < limit && text[pos] != '\0') {
        wchar_t wc;
        size_t used = mbrtowc(&wc, text + pos, limit - pos, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) break;
        out[written++] = wc;
        pos += used;
    }
    SetSize(written);
}

UnicodeString::UnicodeString(const unsigned short* units, int count) : CStringBufT<wchar_t>() {
    if (!units) return;
    int n = 0;
    while ((count < 0 || n < count) && units[n] != 0) ++n;
    wchar_t* out = PrepareInsert(0, n);
    for (int i = 0; i < n; ++i) out[i] = static_cast<wchar_t>(units[i]);
}

static bool IsContinuation(unsigned char c) { return c >= 0x80 && c <= 0xBF; }

UnicodeStringFromUtf8::UnicodeStringFromUtf8(const char* utf8, int length) : UnicodeString() {
    if (!utf8) return;
    if (length < 0) length = static_cast<int>(strlen(utf8));
    const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8);
    SetSize(length);
    wchar_t* out = Data();
    int o = 0;
    int j = 0;
    while (j < length) {
        unsigned char b = s[j];
        if (b < 0x80) {
            out[o++] = b;
            j += 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            if (j + 3 > length) break;
            if (!IsContinuation(s[j + 1])) {
                out[o++] = L'?';
                j += 1;
            } else if (!IsContinuation(s[j + 2])) {
                out[o++] = L'?';
                j += 2;
            } else {
                out[o++] = static_cast<wchar_t>(((b & 0x0F) << 12) | ((s[j + 1] & 0x3F) << 6) | (s[j + 2] & 0x3F));
                j += 3;
            }
        } else if (b >= 0xC0 && b <= 0xDF) {
            if (j + 2 > length) break;
            if (IsContinuation(s[j + 1])) {
                out[o++] = static_cast<wchar_t>(((b & 0x1F) << 6) | (s[j + 1] & 0x3F));
                j += 2;
            } else {
                out[o++] = L'?';
                j += 1;
            }
        } else {
            out[o++] = L'?';
            j += 1;
        }
    }
    SetSize(o);
    SetSize(static_cast<int>(wcslen(GetData())));  // up to the first zero character
}

Utf8String::Utf8String(const wchar_t* wide) : CStringBufT<char>() {
    if (!wide) return;
    int n = static_cast<int>(wcslen(wide));
    // Four bytes per character: characters above U+FFFF get their full
    // four-byte form instead of being cut to three bytes.
    SetSize(4 * n);
    unsigned char* out = reinterpret_cast<unsigned char*>(Data());
    int o = 0;
    for (int i = 0; i < n; ++i) {
        unsigned long c = static_cast<unsigned long>(wide[i]);
        if (c < 0x80) {
            out[o++] = static_cast<unsigned char>(c);
        } else if (c < 0x800) {
            out[o++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            out[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000 || c > 0x10FFFF) {
            c &= 0xFFFF;
            out[o++] = static_cast<unsigned char>(0xE0 | (c >> 12));
            out[o++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            out[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else {
            out[o++] = static_cast<unsigned char>(0xF0 | (c >> 18));
            out[o++] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            out[o++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            out[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        }
    }
    SetSize(o);
}

void AppendWideAsLocale(CStringBufT<char>& out, const wchar_t* wide) {
    if (!wide) return;
    mbstate_t state;
    memset(&state, 0, sizeof state);
    char bytes[MB_LEN_MAX];
    for (; *wide; ++wide) {
        size_t n = wcrtomb(bytes, *wide, &state);
        if (n == static_cast<size_t>(-1)) {
            memset(&state, 0, sizeof state);
            out.Append('?');
        } else {
            out.Append(bytes, static_cast<int>(n));
        }
    }
}
