#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "settings/settings_loader.h"

namespace {
const unsigned kBufferOfSize = 100;
unsigned char g_bufferOf[kBufferOfSize];
}  // namespace

unsigned char* BUFFER_OF(const void* bytes, unsigned length) {
    if (!bytes) length = 0;
    if (length > kBufferOfSize) length = kBufferOfSize;  // the rest would not fit
    if (length) memcpy(g_bufferOf, bytes, length);
    if (getenv("_TOLVANE_BINARY_DEBUG_")) {
        for (unsigned i = 0; i < length; ++i) putchar(g_bufferOf[i] < 32 ? '.' : g_bufferOf[i]);
        putchar('\n');
        fflush(stdout);
    }
    return g_bufferOf;
}
