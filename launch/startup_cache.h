// The startup cache: a class-data archive per executable and runtime, made on
// a first run and mapped by the runtime on every later run ("startupcache").
#ifndef TVX_LAUNCH_STARTUP_CACHE_H
#define TVX_LAUNCH_STARTUP_CACHE_H

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

// The directory the "startupcache" value `value` names ("true": the default
// for this user), or "" for none.
MyCString CacheDirectory(const char* value);

// File name (without directory) of the archive for the executable `exePath`
// run by the library `jvmPath`: changes with either file's path, size or
// modification time. "" when either cannot be examined.
MyCString ArchiveName(const char* exePath, const char* jvmPath);

}  // namespace startup_cache

#endif  // TVX_LAUNCH_STARTUP_CACHE_H
