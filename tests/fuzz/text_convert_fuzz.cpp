// Text conversions: locale text (C locale, read as UTF-8, and C.UTF-8),
// UTF-8, wide text and UTF-16 units. Round trips over valid text are exact;
// any input gives well-formed results.
#include <locale.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "base/text_convert.h"
#include "settings/settings_private.h"
#include "tests/fuzz/support/fuzz_support.h"

namespace {

// Strict UTF-8 validity, as the encoder must always produce.
bool IsWellFormedUtf8(const unsigned char* s, int n) {
    for (int i = 0; i < n;) {
        unsigned char b = s[i];
        int length = b < 0x80 ? 1 : b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
        if (length == 0 || i + length > n) return false;
        unsigned long c = length == 1 ? b : b & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        static const unsigned long kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kShortest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

bool HasSurrogate(const CBufferRefT<wchar_t>& w) {
    for (int i = 0; i < w.GetSize(); ++i)
        if (w[i] >= 0xD800 && w[i] <= 0xDFFF) return true;
    return false;
}

void CheckWide(const CBufferRefT<wchar_t>& w, int inputLength) {
    FUZZ_CHECK(w.GetSize() <= inputLength, "more characters than bytes");
    Utf8String utf8(w.GetData());
    FUZZ_CHECK(IsWellFormedUtf8(reinterpret_cast<const unsigned char*>(utf8.GetData()), utf8.GetSize()),
               "the encoder wrote malformed UTF-8");
    UcsString units(w.GetData());
    UnicodeString back(units.GetData(), units.GetSize());
    if (!HasSurrogate(w)) {
        bool same = back.GetSize() == w.GetSize();
        for (int i = 0; same && i < w.GetSize(); ++i)
            same = back[i] == w[i] || (static_cast<uint32_t>(w[i]) > 0x10FFFF && back[i] == kReplacementChar);
        FUZZ_CHECK(same, "wide -> UTF-16 -> wide");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const int n = static_cast<int>(size);
    const std::string input(text, size);
    const bool valid = IsWellFormedUtf8(data, n) && input.find('\0') == std::string::npos;

    UnicodeStringFromUtf8 decoded(text, n);
    CheckWide(decoded, n);
    if (valid) {
        Utf8String again(decoded.GetData());
        FUZZ_CHECK(std::string(again.GetData(), again.GetSize()) == input, "UTF-8 -> wide -> UTF-8");
    }

    for (const char* name : {"C", "C.UTF-8"}) {
        if (!setlocale(LC_CTYPE, name)) continue;
        UnicodeString local(text, n);
        CheckWide(local, n);
        if (valid) {
            FUZZ_CHECK(std::string(LocaleToUtf8(text, n).c_str()) == input, std::string("locale -> UTF-8 in ") + name);
            FUZZ_CHECK(std::string(Utf8ToLocale(text, n).c_str()) == input, std::string("UTF-8 -> locale in ") + name);
        } else {
            LocaleToUtf8(text, n);
            Utf8ToLocale(text, n);
        }
        // Nothing but a NUL ends locale text early.
        const size_t nul = input.find('\0');
        if (nul == std::string::npos && size > 0) FUZZ_CHECK(local.GetSize() > 0, "locale text emptied");
    }
    setlocale(LC_CTYPE, "C");

    // UTF-16 units: widened and cut back to units unchanged.
    const int count = n / 2;
    CBufferT<unsigned short> units;
    units.SetSize(count);
    for (int i = 0; i < count; ++i) units[i] = static_cast<unsigned short>(data[2 * i] | (data[2 * i + 1] << 8));
    UnicodeString wide(units.GetData(), count);
    UcsString back(wide.GetData());
    int length = 0;
    while (length < count && units[length] != 0) ++length;
    bool same = back.GetSize() == length;
    for (int i = 0; same && i < length; ++i) same = back[i] == units[i];
    FUZZ_CHECK(same, "UTF-16 -> wide -> UTF-16");
    return 0;
}
