#include "base/my_string.h"

#include <stdarg.h>
#include <stdio.h>

int MyCString::Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatV(format, args);
    va_end(args);
    return n;
}

int MyCString::FormatV(const char* format, va_list args) {
    // Format into separate storage first: an argument may be this string's
    // own text, which writing or growing in place would destroy.
    char small[1024];
    int n = 0;
    const char* text = small;
    va_list again;
    va_copy(again, args);
    if (format) {
        n = vsnprintf(small, sizeof small, format, args);
        if (n < 0) n = 0;
    }
    CBufferT<char> large;
    if (n >= static_cast<int>(sizeof small)) {
        large.SetSize(tvx_detail::AddLengths(n, 1));
        int second = vsnprintf(large.Data(), static_cast<size_t>(n) + 1, format, again);
        if (second < n) n = second < 0 ? 0 : second;
        text = large.GetData();
    }
    va_end(again);
    SetMaxLength(1024);
    Assign(text, n);
    return n;
}
