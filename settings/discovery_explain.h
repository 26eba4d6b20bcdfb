// Explain-mode reports of the runtime search: what each source probed and
// why it was accepted or refused.
#ifndef TVX_SETTINGS_DISCOVERY_EXPLAIN_H
#define TVX_SETTINGS_DISCOVERY_EXPLAIN_H

#include "base/my_string.h"

// One line for search source `source` that probed `probed` (a runtime home,
// a library file or a java command) and found `found` ("" for nothing).
// Only called when explain mode is on.
void ExplainRuntimeSource(const char* source, const char* probed, const MyCString& found);

// Why the library at `path` cannot serve this launcher ("" when it can):
// not an ELF shared library, or built for another processor.
MyCString LibraryMismatch(const char* path);

#endif  // TVX_SETTINGS_DISCOVERY_EXPLAIN_H
