// The launch road: settings to environment, options, properties, version
// check, and the call of the application's main method.
#ifndef TVX_LAUNCH_LAUNCH_DRIVER_H
#define TVX_LAUNCH_LAUNCH_DRIVER_H

#include "settings/runtime_release.h"  // CheckVersionRange

typedef void (*StartCallback)();

int RunJavaMain(int argc1, char** argv1, StartCallback start, int argc2, char** argv2);
int ForceCurrentWorkingDirectory(const char* path);
unsigned PathAdjust(const char* base, const char* path, char* out, unsigned outSize);

// True when standard output and standard error go to the same path.
extern bool bStdredirSame;

#endif  // TVX_LAUNCH_LAUNCH_DRIVER_H
