// The startup cache: a class-data archive per executable and runtime, made on
// a first run and mapped by the runtime on every later run ("startupcache").
#ifndef TVX_LAUNCH_STARTUP_CACHE_H
#define TVX_LAUNCH_STARTUP_CACHE_H

#include <stddef.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include "base/my_string.h"

class CJvmLauncher;
class CSettingsLoader;

// Adds the options that use or create the archive for the runtime library at
// `jvmPath` (of the runtime feature `feature`, RuntimeFeature's), when the
// "startupcache" setting asks for it and the runtime and the cache directory
// allow it; otherwise adds nothing. Never fails the
// start: any trouble means a start without the cache (and at most one line
// on standard error, the log). With `dryRun` it only explains which archive
// a start would use or make and why: nothing is made, added or logged.
void PrepareStartupCache(CSettingsLoader& loader, CJvmLauncher& launcher, const char* jvmPath, int feature,
                         bool dryRun = false);

// Internals, shared with the cache's upkeep and the tests.
namespace startup_cache {

// Temporary files of runs killed while writing are removed after this.
const time_t kStaleTemporarySeconds = 3600;

// The names beside an archive: `archive` followed by `suffix`; its stamp
// and its source file.
MyCString NameBeside(const char* archive, const char* suffix);
MyCString StampName(const char* archive);
MyCString SourceName(const char* archive);
// True for the name of an archive (not of a file beside one).
bool IsArchiveName(const char* name);

// `base` followed by "." and 16 random hexadecimal digits and ".tmp": a name
// nobody can plant anything at beforehand. Empty when no random bytes come.
MyCString TemporaryName(const char* base);

// Reads up to `size` - 1 bytes of the small regular file `name` in `dir`
// and ends them with a NUL; the number read, or -1 when it cannot be read.
// Neither a link nor a FIFO is opened in a way that could block or lead
// elsewhere.
ssize_t ReadSmallFileAt(int dir, const char* name, char* buffer, size_t size);

// Creates the new file `name` in `dir` (never an existing one, never through
// a link) holding `length` bytes of `text`.
bool WriteNewFileAt(int dir, const char* name, const char* text, size_t length);

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
// Why the archive `name` in `dir` is not one to trust ("none yet", ...), or
// null when it is.
const char* ArchiveProblemAt(int dir, const char* name);
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
