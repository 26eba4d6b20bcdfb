#include "base/my_string.h"

#include <stdarg.h>
#include <stdio.h>

int MyCString::Format(const char* format, ...) {
    // Format into separate storage first: an argument may be this string's
    // own text, which writing or growing in place would destroy.
    char small[1024];
    int n = 0;
    const char* text = small;
    va_list args;
    if (format) {
        va_start(args, format);
        n = vsnprintf(small, sizeof small, format, args);
        va_end(args);
        if (n < 0) n = 0;
    }
    CBufferT<char> large;
    if (n >= static_cast<int>(sizeof small)) {
        large.SetSize(tvx_detail::AddLengths(n, 1));
        va_start(args, format);
        int again = vsnprintf(large.Data(), static_cast<size_t>(n) + 1, format, args);
        va_end(args);
        if (again < n) n = again < 0 ? 0 : again;
        text = large.GetData();
    }
    SetMaxLength(1024);
    Assign(text, n);
    return n;
}
