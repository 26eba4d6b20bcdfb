// Every user-visible text, by message id, with "message" overrides.
#ifndef TVX_LAUNCH_MESSAGES_H
#define TVX_LAUNCH_MESSAGES_H

#include "base/my_string.h"

struct MsgEntry {
    unsigned int id;
    const char* text;
};
extern const MsgEntry msgTable[];

MyCString RSTR(unsigned int id);

// True when `text` holds no conversion other than "%s" (and "%%"), and at most
// `maxPlaceholders` of them: only such texts may be used as printf formats.
bool IsSafeFormat(const char* text, int maxPlaceholders);

// Writes a failure message to standard error and, unless both streams go to
// the same target, to standard output.
void ReportMessage(const char* text);

#endif  // TVX_LAUNCH_MESSAGES_H
