// The startup cache: a class-data archive per executable and runtime, made on
// a first run and mapped by the runtime on every later run ("startupcache").
#ifndef TVX_LAUNCH_STARTUP_CACHE_H
#define TVX_LAUNCH_STARTUP_CACHE_H

#include <stddef.h>
#include <sys/stat.h>

#include "base/my_string.h"

class CJvmLauncher;
class CSettingsLoader;

// Adds the options that use or create the archive for the runtime library at
// `jvmPath`, when the "startupcache" setting asks for it and the runtime and
// the cache directory allow it; otherwise adds nothing. Never fails the
// start: any trouble means a start without the cache (and at most one line
// on standard error, the log).
void PrepareStartupCache(CSettingsLoader& loader, CJvmLauncher& launcher, const char* jvmPath);

// Internals, shared with the tests.
namespace startup_cache {

// Feature number of the runtime whose library is `jvmPath`, from the
// "release" file of its home; 0 when unknown.
int RuntimeFeature(const char* jvmPath);

// Feature number a release file's `size` bytes name in their JAVA_VERSION
// line ("17.0.2": 17, "1.8.0_292": 8); 0 when they name none from 1 to 999.
int ReleaseFeature(const char* bytes, size_t size);

// The stamp of a published archive: what stat says about it (size, inode,
// modification time), as one line.
MyCString StampOf(const struct stat& st);

// True when the `size` bytes of a stamp file are exactly the stamp of `st`.
bool StampMatches(const struct stat& st, const char* bytes, size_t size);

// A published archive this user may trust: a regular file of ours whose
// stamp file still describes it (`name` in the directory `dir`, or the path
// `archive`).
bool ArchiveIsIntactAt(int dir, const char* name);
bool ArchiveIsIntact(const char* archive);

// Writes the stamp file of the archive `name` in `dir` (or at the path
// `archive`) through a new temporary file of an unpredictable name, renamed
// into place; false when it cannot.
bool WriteStampAt(int dir, const char* name);
bool WriteStamp(const char* archive);

// The directory the "startupcache" value `value` names ("true": the default
// for this user: $CACHE_DIRECTORY's first entry, which systemd sets for a
// unit with CacheDirectory=, then $XDG_CACHE_HOME, /var/cache/tvx for root,
// ~/.cache), or "" for none. `source`, when given, says where it came from.
MyCString CacheDirectory(const char* value, const char** source = nullptr);

// File name (without directory) of the archive for the executable `exePath`
// run by the library `jvmPath`: changes with either file's path, size or
// modification time. "" when either cannot be examined.
MyCString ArchiveName(const char* exePath, const char* jvmPath);

}  // namespace startup_cache

#endif  // TVX_LAUNCH_STARTUP_CACHE_H
