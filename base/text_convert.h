// Conversions between locale text, wide text, UTF-8 and UTF-16 code units.
#ifndef TVX_BASE_TEXT_CONVERT_H
#define TVX_BASE_TEXT_CONVERT_H

#include <wchar.h>

#include "base/buffer.h"

// UTF-16 code units, as exchanged with the Java runtime.
class UcsString : public CStringBufT<unsigned short> {
public:
    UcsString(const unsigned short* units, int length = -1) : CStringBufT<unsigned short>(units, length) {}
    // Each wide character truncated to its low 16 bits.
    explicit UcsString(const wchar_t* wide);
};

class UnicodeString : public CStringBufT<wchar_t> {
public:
    UnicodeString() {}
    // Process-locale multibyte text (length -1: up to the zero byte).
    UnicodeString(const char* text, int length = -1);
    // UTF-16 code units widened one by one until a zero unit or `count` units
    // (negative: unlimited).
    UnicodeString(const unsigned short* units, int count);
};

class UnicodeStringFromUtf8 : public UnicodeString {
public:
    UnicodeStringFromUtf8(const char* utf8, int length = -1);
};

class Utf8String : public CStringBufT<char> {
public:
    explicit Utf8String(const wchar_t* wide);
};

// Wide text to the process-locale multibyte encoding, appended to `out`.
// Characters the locale cannot represent become "?".
void AppendWideAsLocale(CStringBufT<char>& out, const wchar_t* wide);

#endif  // TVX_BASE_TEXT_CONVERT_H
