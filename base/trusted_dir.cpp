// Directories only this user (and root) can change, walked from the root.
#include "base/trusted_dir.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Whether a directory of owner `st` may lead further down: root's or this
// user's, and nobody else can rename what it holds (no group or other
// write, or a sticky directory of root's such as /tmp).
bool MayLeadFurther(const struct stat& st) {
    if (st.st_uid != 0 && st.st_uid != geteuid()) return false;
    return (st.st_mode & 022) == 0 || ((st.st_mode & S_ISVTX) != 0 && st.st_uid == 0);
}

// `path` with the part that exists resolved to its real path, so that a
// link in a trusted place (a home directory's) is followed once here and
// the walk below sees only real directories.
MyCString ResolveExisting(const MyCString& path) {
    MyCString head(path);
    MyCString tail;
    while (head.GetLength() > 1) {
        char real[PATH_MAX];
        if (realpath(head, real)) {
            MyCString resolved(real);
            if (resolved.GetLength() == 1 && !tail.IsEmpty()) resolved.Empty();  // "/" + "/x"
            resolved += tail;
            return resolved;
        }
        const char* slash = strrchr(head, '/');
        if (!slash) break;
        MyCString part(slash);
        part += tail;
        tail = part;
        head.SetSize(slash == head.c_str() ? 1 : static_cast<int>(slash - head.c_str()));
    }
    return path;
}

}  // namespace

int OpenTrustedDirectory(const MyCString& given, MyCString* why, bool create) {
    const MyCString path = ResolveExisting(given);
    if (path.IsEmpty() || path[0] != '/') {
        why->Format("%s is not an absolute path", path.c_str());
        return -1;
    }
    int dir = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        why->Format("cannot open /: %s", strerror(errno));
        return -1;
    }
    MyCString walked;
    const char* p = path.c_str();
    for (;;) {
        struct stat st;
        if (fstat(dir, &st) != 0) {
            why->Format("cannot examine %s: %s", walked.IsEmpty() ? "/" : walked.c_str(), strerror(errno));
            break;
        }
        while (*p == '/') ++p;
        const char* end = strchr(p, '/');
        if (!end) end = p + strlen(p);
        if (end == p) {
            // The directory itself: this user's alone.
            if (st.st_uid != geteuid() || (st.st_mode & 022) != 0) {
                why->Format("%s is not this user's alone (owner %u, mode %03o)", walked.c_str(),
                            static_cast<unsigned>(st.st_uid), static_cast<unsigned>(st.st_mode & 0777));
                break;
            }
            return dir;
        }
        if (!MayLeadFurther(st)) {
            why->Format("%s may be changed by another user (owner %u, mode %03o)", walked.IsEmpty() ? "/" : walked.c_str(),
                        static_cast<unsigned>(st.st_uid), static_cast<unsigned>(st.st_mode & 07777));
            break;
        }
        MyCString name(p, static_cast<int>(end - p));
        walked += "/";
        walked += name;
        if (name.Compare("..") == 0 || name.Compare(".") == 0) {
            why->Format("%s is not a plain path", path.c_str());
            break;
        }
        int next = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && !create) {
            why->Format("%s does not exist yet", walked.c_str());
            break;
        }
        if (next < 0 && errno == ENOENT) {
            if (mkdirat(dir, name, 0700) != 0 && errno != EEXIST) {
                why->Format("cannot create %s: %s", walked.c_str(), strerror(errno));
                break;
            }
            next = openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        }
        if (next < 0) {
            if (errno == ELOOP || errno == ENOTDIR)
                why->Format("%s is not a directory", walked.c_str());
            else
                why->Format("cannot open %s: %s", walked.c_str(), strerror(errno));
            break;
        }
        close(dir);
        dir = next;
        p = end;
    }
    close(dir);
    return -1;
}

