// The message table, its "message" overrides and the reporting of failures.
#include "launch/messages.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/command_line.h"
#include "base/diagnostic.h"
#include "base/sigpipe_guard.h"
#include "launch/launch_driver.h"
#include "redirect/std_redir.h"
#include "settings/settings_loader.h"

const MsgEntry msgTable[] = {
    {kMsgJreNotFound, "Java Runtime Environment not found."},
    {kMsgJreNotValid, "Java Runtime Environment not valid."},
    {kMsgJvmInitFailed, "Java Virtual Machine initialize failed."},
    {kMsgJvmStartFailed, "Java Virtual Machine starts failed."},
    {kMsgNoVmVersion, "Can not get the virtual machine version."},
    {kMsgVersionTooLow, "Java virtual machine version %s is too low, require %s or higher."},
    {kMsgMainClassNotFound, "The main startup class could not be found."},
    {kMsgMainMethodMissing, "The main startup class is not valid, main method missing."},
    {kMsgError, "Error"},
    {kMsgVersionTooHigh, "Java virtual machine version %s is too high, version between %s and %s is required."},
    {kMsgAlreadyRunning, "There is already an instance of this program running."},
    {kMsgMainThrew, "The application ended with an exception: %s"},
    {kMsgServiceInstalled, "Service '%s' installed successfully."},
    {kMsgServiceInstallFailed, "Service '%s' install failed, "},
    {kMsgServiceUninstalled, "Service '%s' uninstalled successfully."},
    {kMsgServiceUninstallFailed, "Service '%s' uninstall failed, "},
    {kMsgAccessDenied, "the requested access was denied."},
    {kMsgServiceNameExists, "the service name already exists."},
    {kMsgServiceMarkedForDelete, "service is marked for delete at next startup."},
    {kMsgServiceExists, "the service already exists."},
    {kMsgErrorOccurs, "error occurs."},
    {kMsgServiceMissing, "service does not exist."},
    {kMsgServiceForeign, "it starts %s, not this executable."},
    {kMsgServiceHelp, "Service type application.\n\nUse /install to install service."},
    {0, ""},
};

namespace {

const int kMaxTableScan = 100;

}  // namespace

void LoadMessageOverrides(const MyCStringArray& values, CBufferT<unsigned int>& pairs, MyCStringArray& texts) {
    for (int i = 0; i < values.GetCount(); ++i) {
        const char* value = values[i];
        const char* equals = strchr(value, '=');
        if (!equals) continue;
        MyCString number(value, static_cast<int>(equals - value));
        long id = strtol(number, nullptr, 10);
        // Ids are 32-bit: a larger number must not wrap onto a small id.
        if (id <= 0 || static_cast<unsigned long>(id) > UINT_MAX) continue;
        pairs.Append(static_cast<unsigned int>(id));
        pairs.Append(static_cast<unsigned int>(texts.GetCount()));
        texts.Add(unescape(equals + 1));
    }
    pairs.Append(0u);
    pairs.Append(0u);
}

bool FindMessageOverride(const CBufferT<unsigned int>& pairs, const MyCStringArray& texts, unsigned int id,
                         MyCString& text) {
    if (pairs.GetSize() < 2) return false;
    for (int i = 0; i + 1 < pairs.GetSize(); i += 2) {
        if (pairs[i] == 0) break;  // end mark
        if (pairs[i] == id && pairs[i + 1] < static_cast<unsigned int>(texts.GetCount())) {
            text = texts[static_cast<int>(pairs[i + 1])];
            return true;
        }
    }
    return false;
}

MyCString RSTR(unsigned int id) {
    static CBufferT<unsigned int> pairs;
    static MyCStringArray texts;
    if (pairs.GetSize() == 0) {
        MyCStringArray values;
        if (pldr) pldr->GetAll("message", values);
        LoadMessageOverrides(values, pairs, texts);
    }
    MyCString text;
    if (FindMessageOverride(pairs, texts, id, text)) return text;
    for (int i = 0; i < kMaxTableScan && msgTable[i].id != 0; ++i) {
        if (msgTable[i].id == id) return MyCString(msgTable[i].text);
    }
    text.Format("%u", id);
    return text;
}

bool IsSafeFormat(const char* text, int maxPlaceholders) {
    if (!text) return true;
    int placeholders = 0;
    for (const char* p = text; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        if (*p != 's') return false;
        if (++placeholders > maxPlaceholders) return false;
    }
    return true;
}

MyCString FormatPlaceholders(const char* text, const char* const* args, int argCount) {
    MyCString out;
    if (!text) return out;
    if (!IsSafeFormat(text, argCount)) {
        out = text;
        return out;
    }
    int next = 0;
    for (const char* p = text; *p; ++p) {
        if (*p != '%') {
            out += *p;
        } else if (*++p == '%') {
            out += '%';
        } else {
            const char* arg = args[next++];
            out += arg ? arg : "(null)";
        }
    }
    return out;
}

namespace {

void (*stdoutRelay)(const char* text);

// Standard output goes to a file or command now: the terminal or journal
// that started the launcher sees the text too, not only the log.
void ShowOnOriginalStdout(const char* text) {
    int original = stdredir.OriginalStdout();
    if (original < 0) return;
    MyCString line(text);
    line += '\n';
    WriteWhole(original, line.GetData(), static_cast<size_t>(line.GetLength()));
}

}  // namespace

void SetStdoutRelay(void (*relay)(const char* text)) { stdoutRelay = relay; }

void ShowOnStdout(const char* text) {
    if (!text) text = "";
    if (stdoutRelay) {
        stdoutRelay(text);
        return;
    }
    CSigpipeGuard quiet;
    puts(text);
    fflush(stdout);
    ShowOnOriginalStdout(text);
}

void ReportMessage(const char* text) {
    if (!text) text = "";
    SayLine(text);
    if (!bStdredirSame) {
        ShowOnStdout(text);
    } else if (!stdoutRelay) {
        CSigpipeGuard quiet;
        ShowOnOriginalStdout(text);
    }
}

MyCString SymlinkRefusal(const char* path) {
    MyCString text;
    struct stat st;
    if (path && lstat(path, &st) == 0 && S_ISLNK(st.st_mode))
        text.Format("ERROR: %s is a symbolic link; the launcher does not open its files through one.", path);
    return text;
}
