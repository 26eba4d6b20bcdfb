// Whether the external configuration file may be read. Its settings can run
// commands ("stdout |command") as the service's user, so, as ssh does with
// its strict modes, a file that someone other than root or the owner of the
// executable could have written is ignored.
#include <sys/stat.h>

#include "base/platform.h"
#include "settings/settings_private.h"

MyCString ExternalFileDistrust(const char* path, const char* exePath) {
    MyCString reason;
    struct stat file, exe;
    if (!path || stat(path, &file) != 0) return reason;
    if (file.st_mode & (S_IWGRP | S_IWOTH)) {
        reason.Format("WARNING: %s is ignored: it is writable by group or others.", path);
        return reason;
    }
    bool exeKnown = exePath && stat(exePath, &exe) == 0;
    if (file.st_uid != 0 && (!exeKnown || file.st_uid != exe.st_uid)) {
        reason.Format("WARNING: %s is ignored: it belongs to user %s, neither root nor the owner of the executable.",
                      path, UserName(file.st_uid).c_str());
    }
    return reason;
}
