// Every user-visible text, by message id, with "message" overrides.
#ifndef TVX_LAUNCH_MESSAGES_H
#define TVX_LAUNCH_MESSAGES_H

#include "base/my_string.h"

// Message ids: the index of every text in the message table. A launch result
// is the id of its failure message (kLaunchOk when the application ran), and
// for -test also the exit status.
enum MessageId {
    kLaunchOk = 0,
    kMsgJreNotFound = 1,
    kMsgJreNotValid = 2,
    kMsgJvmInitFailed = 3,
    kMsgJvmStartFailed = 4,
    kMsgNoVmVersion = 5,
    kMsgVersionTooLow = 6,
    kMsgMainClassNotFound = 7,
    kMsgMainMethodMissing = 8,
    kMsgError = 10,
    kMsgVersionTooHigh = 12,
    kMsgAlreadyRunning = 13,
    kMsgMainThrew = 70,
    kMsgServiceInstalled = 273,
    kMsgServiceInstallFailed = 274,
    kMsgServiceUninstalled = 275,
    kMsgServiceUninstallFailed = 276,
    kMsgAccessDenied = 277,
    kMsgServiceNameExists = 278,
    kMsgServiceMarkedForDelete = 279,
    kMsgServiceExists = 280,
    kMsgErrorOccurs = 281,
    kMsgServiceMissing = 282,
    kMsgServiceForeign = 283,
    kMsgServiceHelp = 1024,
};

// Exit status of a start refused because another instance runs
// (singleinstance true).
constexpr int kExitAlreadyRunning = 11;

struct MsgEntry {
    unsigned int id;
    const char* text;
};
extern const MsgEntry msgTable[];

MyCString RSTR(unsigned int id);

// True when `text` holds no conversion other than "%s" (and "%%"), and at most
// `maxPlaceholders` of them: only such texts may be used as printf formats.
bool IsSafeFormat(const char* text, int maxPlaceholders);

// `text` with its "%s" placeholders replaced by `args` in order and "%%" by
// "%", as printf would print it; a text that is not a safe format for
// `argCount` arguments comes back unchanged, as plain text.
MyCString FormatPlaceholders(const char* text, const char* const* args, int argCount);

// Writes a failure message to standard error and, unless both streams go to
// the same target, to standard output (ShowOnStdout).
void ReportMessage(const char* text);
// Writes `text` and a newline to standard output, or hands it to the relay
// when one is set. Never dies of SIGPIPE.
void ShowOnStdout(const char* text);
// While a relay is set, what would be shown on standard output goes to it
// instead (a detached daemon hands its messages to the process that started
// it, whose standard output is the user's terminal). Null clears it.
void SetStdoutRelay(void (*relay)(const char* text));
// The one line that says a file the launcher creates was not opened because
// a symbolic link stands in its place; empty when `path` is no symbolic link.
MyCString SymlinkRefusal(const char* path);

// The override store behind RSTR: `pairs` holds (id, text index) pairs ended
// by (0, 0); `values` are "message" settings values (id "=" text).
void LoadMessageOverrides(const MyCStringArray& values, CBufferT<unsigned int>& pairs, MyCStringArray& texts);
// The override text for `id`, if the store has one.
bool FindMessageOverride(const CBufferT<unsigned int>& pairs, const MyCStringArray& texts, unsigned int id,
                         MyCString& text);

#endif  // TVX_LAUNCH_MESSAGES_H
