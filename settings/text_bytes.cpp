#include "base/text_convert.h"
#include "settings/settings_private.h"

bool HasHighBytes(const char* text, int length) {
    for (int i = 0; i < length; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return true;
    return false;
}

MyCString Utf8ToLocale(const char* text, int length) {
    UnicodeStringFromUtf8 wide(text, length);
    MyCString out;
    AppendWideAsLocale(out, wide.GetData());
    return out;
}

MyCString LocaleToUtf8(const char* text, int length) {
    UnicodeString wide(text, length);
    Utf8String utf8(wide.GetData());
    return MyCString(utf8.GetData(), utf8.GetLength());
}
