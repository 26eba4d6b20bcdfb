#include "base/text_convert.h"

#include <langinfo.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>

namespace {

const unsigned long kMaxChar = 0x10FFFF;

bool IsContinuation(unsigned char c) { return c >= 0x80 && c <= 0xBF; }
bool IsSurrogate(unsigned long c) { return c >= 0xD800 && c <= 0xDFFF; }

// Length of the UTF-8 sequence a lead byte announces (2 to 4) and the bits
// it contributes; 0 for a byte that leads no sequence.
int SequenceLength(unsigned char b, unsigned long* bits) {
    if (b >= 0xC0 && b <= 0xDF) {
        *bits = b & 0x1F;
        return 2;
    }
    if (b >= 0xE0 && b <= 0xEF) {
        *bits = b & 0x0F;
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        *bits = b & 0x07;
        return 4;
    }
    return 0;
}

// One well-formed UTF-8 sequence at `s` (n > 0 bytes left): its character in
// `c` and the bytes used; 0 when `s` begins none (a stray byte, an overlong
// form, a surrogate, a value beyond U+10FFFF, a sequence cut off by the end).
int DecodeStrict(const unsigned char* s, int n, unsigned long* c) {
    if (s[0] < 0x80) {
        *c = s[0];
        return 1;
    }
    static const unsigned long kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    unsigned long value = 0;
    int length = SequenceLength(s[0], &value);
    if (length == 0 || n < length) return 0;
    for (int k = 1; k < length; ++k) {
        if (!IsContinuation(s[k])) return 0;
        value = (value << 6) | (s[k] & 0x3F);
    }
    if (value < kShortest[length] || value > kMaxChar || IsSurrogate(value)) return 0;
    *c = value;
    return length;
}

// Locale text decoded as UTF-8 into `out` (room for `length` characters),
// up to the first zero byte; every byte that begins no well-formed sequence
// becomes U+FFFD. Returns the characters written.
int DecodeUtf8AsLocale(const unsigned char* s, int length, wchar_t* out) {
    int written = 0;
    for (int pos = 0; pos < length && s[pos] != 0;) {
        unsigned long c = 0;
        int used = DecodeStrict(s + pos, length - pos, &c);
        out[written++] = used ? static_cast<wchar_t>(c) : kReplacementChar;
        pos += used ? used : 1;
    }
    return written;
}

// Locale text decoded with the C library into `out` (room for `length`
// characters), up to the first zero byte; a byte the locale cannot decode
// becomes U+FFFD and decoding resumes after it.
int DecodeWithLocale(const char* text, int length, wchar_t* out) {
    mbstate_t state;
    memset(&state, 0, sizeof state);
    int written = 0;
    size_t pos = 0;
    const size_t limit = static_cast<size_t>(length);
    while (pos < limit && text[pos] != '\0') {
        wchar_t wc;
        size_t used = mbrtowc(&wc, text + pos, limit - pos, &state);
        if (used == 0) break;
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
            memset(&state, 0, sizeof state);
            wc = kReplacementChar;
            used = 1;
        }
        out[written++] = wc;
        pos += used;
    }
    return written;
}

}  // namespace

bool LocaleIsAscii() {
    const char* codeset = nl_langinfo(CODESET);
    if (!codeset) return true;
    return strcmp(codeset, "ANSI_X3.4-1968") == 0 || strcmp(codeset, "ASCII") == 0 ||
           strcmp(codeset, "US-ASCII") == 0;
}

UcsString::UcsString(const wchar_t* wide) : CStringBufT<unsigned short>() {
    if (!wide) return;
    int n = static_cast<int>(wcslen(wide));
    SetSize(tvx_detail::AddLengths(n, n));
    unsigned short* out = Data();
    int o = 0;
    for (int i = 0; i < n; ++i) {
        unsigned long c = static_cast<uint32_t>(wide[i]);
        if (c > kMaxChar) {
            out[o++] = static_cast<unsigned short>(kReplacementChar);
        } else if (c >= 0x10000) {
            c -= 0x10000;
            out[o++] = static_cast<unsigned short>(0xD800 | (c >> 10));
            out[o++] = static_cast<unsigned short>(0xDC00 | (c & 0x3FF));
        } else {
            out[o++] = static_cast<unsigned short>(c);
        }
    }
    SetSize(o);
}

UnicodeString::UnicodeString(const char* text, int length) : CStringBufT<wchar_t>() {
    if (!text) return;
    if (length < 0) length = static_cast<int>(strlen(text));
    SetSize(length);
    int written = LocaleIsAscii()
                      ? DecodeUtf8AsLocale(reinterpret_cast<const unsigned char*>(text), length, Data())
                      : DecodeWithLocale(text, length, Data());
    SetSize(written);
}

UnicodeString::UnicodeString(const unsigned short* units, int count) : CStringBufT<wchar_t>() {
    if (!units) return;
    int n = 0;
    while ((count < 0 || n < count) && units[n] != 0) ++n;
    SetSize(n);
    wchar_t* out = Data();
    int o = 0;
    for (int i = 0; i < n; ++i) {
        unsigned long unit = units[i];
        unsigned long next = i + 1 < n ? units[i + 1] : 0;
        if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            out[o++] = static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
            ++i;
        } else {
            out[o++] = static_cast<wchar_t>(unit);
        }
    }
    SetSize(o);
}

UnicodeStringFromUtf8::UnicodeStringFromUtf8(const char* utf8, int length) : UnicodeString() {
    if (!utf8) return;
    if (length < 0) length = static_cast<int>(strlen(utf8));
    const unsigned char* s = reinterpret_cast<const unsigned char*>(utf8);
    SetSize(length);
    wchar_t* out = Data();
    int o = 0;
    int j = 0;
    while (j < length) {
        unsigned long value = s[j];
        int sequence = value < 0x80 ? 1 : SequenceLength(s[j], &value);
        if (sequence == 0) {
            out[o++] = L'?';
            j += 1;
            continue;
        }
        if (j + sequence > length) break;  // cut off by the end of the input
        // A byte that does not continue the sequence ends it: one "?" for
        // the bytes before it.
        int k = 1;
        while (k < sequence && IsContinuation(s[j + k])) {
            value = (value << 6) | (s[j + k] & 0x3F);
            ++k;
        }
        out[o++] = k < sequence || value > kMaxChar ? L'?' : static_cast<wchar_t>(value);
        j += k;
    }
    SetSize(o);
    SetSize(static_cast<int>(wcslen(GetData())));  // up to the first zero character
}

Utf8String::Utf8String(const wchar_t* wide) : CStringBufT<char>() {
    if (!wide) return;
    int n = static_cast<int>(wcslen(wide));
    SetSize(tvx_detail::AddLengths(tvx_detail::AddLengths(n, n), tvx_detail::AddLengths(n, n)));
    unsigned char* out = reinterpret_cast<unsigned char*>(Data());
    int o = 0;
    for (int i = 0; i < n; ++i) {
        unsigned long c = static_cast<uint32_t>(wide[i]);
        // Surrogates and values beyond U+10FFFF have no UTF-8 form.
        if (c > kMaxChar || IsSurrogate(c)) c = kReplacementChar;
        if (c < 0x80) {
            out[o++] = static_cast<unsigned char>(c);
        } else if (c < 0x800) {
            out[o++] = static_cast<unsigned char>(0xC0 | (c >> 6));
            out[o++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
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
    if (LocaleIsAscii()) {
        Utf8String utf8(wide);
        out.Append(utf8.GetData(), utf8.GetLength());
        return;
    }
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
