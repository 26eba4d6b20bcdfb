#include "base/my_string.h"

#include <stdarg.h>
#include <stdio.h>

int MyCString::Format(const char* format, ...) {
    SetMaxLength(1024);
    for (;;) {
        int capacity = GetMaxLength();
        va_list args;
        va_start(args, format);
        int n = vsnprintf(Data(), static_cast<size_t>(capacity), format, args);
        va_end(args);
        if (n < 0) n = 0;
        if (n < capacity) {
            SetSize(n);
            return n;
        }
        SetMaxLength(n + 1);
    }
}
