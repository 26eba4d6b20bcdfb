// Conversions between locale text, wide text, UTF-8 and UTF-16 code units.
#ifndef TVX_BASE_TEXT_CONVERT_H
#define TVX_BASE_TEXT_CONVERT_H

#include <wchar.h>

#include "base/buffer.h"

// The character that stands for bytes or code units that encode none.
constexpr wchar_t kReplacementChar = 0xFFFD;

// True when the process locale's code set is plain ASCII (the C and POSIX
// locales, which services, cron and `env -i` give a program). Command lines
// and files are then read and written as UTF-8, the encoding Linux systems
// use in practice, instead of losing every byte above 0x7F.
bool LocaleIsAscii();

// UTF-16 code units, as exchanged with the Java runtime.
class UcsString : public CStringBufT<unsigned short> {
public:
    UcsString(const unsigned short* units, int length = -1) : CStringBufT<unsigned short>(units, length) {}
    // Characters above U+FFFF become surrogate pairs; values beyond U+10FFFF
    // become U+FFFD.
    explicit UcsString(const wchar_t* wide);
};

class UnicodeString : public CStringBufT<wchar_t> {
public:
    UnicodeString() {}
    // Process-locale multibyte text (length -1: up to the zero byte). Bytes
    // the locale cannot decode become U+FFFD each; the rest is kept.
    UnicodeString(const char* text, int length = -1);
    // UTF-16 code units widened until a zero unit or `count` units (negative:
    // unlimited); a surrogate pair becomes one character.
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
// Characters the locale cannot represent become "?"; an ASCII locale
// (LocaleIsAscii) gets UTF-8.
void AppendWideAsLocale(CStringBufT<char>& out, const wchar_t* wide);

#endif  // TVX_BASE_TEXT_CONVERT_H
