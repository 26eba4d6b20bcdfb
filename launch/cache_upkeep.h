// The startup cache looks after itself: each archive names its executable
// and runtime library in a source file beside it, each use stamps the time,
// and now and then (after a first run, or once a day) a sweep removes the
// archives whose executable or runtime is gone or was rebuilt, then the
// least recently used ones while the directory holds more than its cap.
#ifndef TVX_LAUNCH_CACHE_UPKEEP_H
#define TVX_LAUNCH_CACHE_UPKEEP_H

#include <stddef.h>
#include <time.h>

namespace startup_cache {

// The cap when "startupcachemax" is not set: 1 GiB.
const unsigned long long kDefaultCapBytes = 1ull << 30;
// A sweep runs at most this often on later runs (a first run always sweeps).
const time_t kSweepIntervalSeconds = 24 * 3600;
// The records of an assembled archive whose assembly never finished, and the
// mark of one whose assembly failed, go after this (the failed one is tried
// again).
const time_t kAotLeftoverSeconds = 7 * 24 * 3600;
// The file whose modification time says when the last sweep ran.
const char kSweptName[] = "swept";

// "startupcachemax": digits with an optional K, M or G (powers of 1024);
// kDefaultCapBytes when `text` is empty, 0 when malformed.
unsigned long long ParseCap(const char* text);

// A source file's bytes: the executable's path and the runtime library's
// path, each absolute and ended by a NUL, and nothing more. On success
// `exe` and `jvm` point into `bytes`.
bool ParseSource(const char* bytes, size_t size, const char** exe, const char** jvm);

// Writes the source file of the archive `name` in `dir` (through a new
// temporary file renamed into place); false when it cannot.
bool WriteSourceAt(int dir, const char* name, const char* exePath, const char* jvmPath);

// Records a use of the archive `name` (its stamp file's modification time).
void NoteUseAt(int dir, const char* name);

// True when no sweep ran in `dir` for kSweepIntervalSeconds.
bool SweepDueAt(int dir, time_t now);

// The sweep. `keep` (may be empty) is this run's archive: never swept as
// stale, evicted last. Returns the number of archives removed.
int SweepAt(int dir, const char* keep, unsigned long long capBytes, time_t now);

}  // namespace startup_cache

#endif  // TVX_LAUNCH_CACHE_UPKEEP_H
