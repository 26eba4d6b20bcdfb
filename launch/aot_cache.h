// An archive made in two steps: a run records, and afterwards a separate
// virtual machine assembles the archive from that record, in the background,
// at the lowest priority, with its output discarded, so that the first run
// costs next to nothing. The record is either the list of the classes the
// run loaded (-XX:DumpLoadedClassList, which costs the run nothing;
// assembled with -Xshare:dump into a static archive of the runtime's and
// the application's classes, or from runtime feature 24 on with
// -XX:+AOTClassLinking into the runtime's ahead-of-time cache), or, with
// "startupcachetraining" on 24 and later, a training run
// (-XX:AOTMode=record, which also keeps method profiles but makes that run
// slower, as the runtime writes the record at exit; assembled with
// -XX:AOTMode=create). The startup cache assembles where the runtime has a
// bin/java to assemble with and the class path allows it.
#ifndef TVX_LAUNCH_AOT_CACHE_H
#define TVX_LAUNCH_AOT_CACHE_H

#include <jni.h>
#include <stdarg.h>
#include <stdio.h>

#include "base/my_string.h"

class CJvmLauncher;

namespace aot_cache {

// The first runtime feature that records and assembles an AOT cache.
const int kFirstFeature = 24;

// The names beside an assembled archive "X.aot" (or "X.jsa"): the record a
// run left for its assembly ("X.aot.list", or "X.aot.conf" for a training
// run) and the mark of an assembly that failed ("X.aot.no"), after which
// the dynamic archive is used instead.
MyCString RecordName(const char* archive, bool training);
MyCString FailedName(const char* archive);
// The same archive's name as a dynamic archive ("X.jsa").
MyCString DynamicName(const char* archive);

// bin/java of the runtime whose library is `jvmPath` (HOME/lib/*/libjvm.so),
// or "" when it has none that can run (a runtime trimmed without it).
MyCString JavaOf(const char* jvmPath);

// Why the options of this run keep an archive from being assembled (a class
// path directory, an agent), or null when nothing does.
const char* Obstacle(const CJvmLauncher& launcher);

// The command line of the assembly: `java`, -XX:+AOTClassLinking when
// `linkClasses` (an AOT cache from a class list), then the options of this
// run that shape the archive (class path, module and heap options, -XX
// flags without side effects such as files written or commands run),
// appended to the empty `command`.
void AssemblyCommand(const char* java, const CJvmLauncher& launcher, bool linkClasses, MyCStringArray& command);

// Starts the assembly of `archive` in the directory `dir` from the record
// open at `recordFd` (a training run's when `training`; locked here, so that
// no second assembly starts from it), detached and at the lowest priority. The assembler publishes the
// cache (stamp and source file naming `exe` and `jvm`), removes the record,
// marks a failure, and sweeps the directory with the cap `capBytes`.
// Returns at once, or with `wait` once the assembly has ended; `recordFd`
// is closed.
void StartAssembly(int dir, int recordFd, bool training, const char* archive, const MyCStringArray& command,
                   const char* exe, const char* jvm, unsigned long long capBytes, bool wait);

// True when an assembly holds the record `record` in `dir`; false when the
// record is there for the taking. `fd` receives it, locked, in that case.
bool RecordBusyAt(int dir, const char* record, int* fd);

// The runtime's printing during a recording run: everything as the runtime
// would write it, except its notice that the record was written (which no
// logging option silences). `recordPath` is the path the run records to.
void QuietenRecordNotice(const char* recordPath);
jint JNICALL RecordRunOutput(FILE* stream, const char* format, va_list args);

}  // namespace aot_cache

#endif  // TVX_LAUNCH_AOT_CACHE_H
