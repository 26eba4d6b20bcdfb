// The Java bridges (instances/instances_natives.cpp,
// service/service_status_natives.cpp) run in the second copy of the code,
// which the helper classes load as their native library. They may use the
// launcher's runtime helpers, but the launcher object they reach is always the
// first copy's, taken from the process block, never this copy's own globals.
#ifndef TVX_LAUNCH_FIRST_COPY_H
#define TVX_LAUNCH_FIRST_COPY_H

#include "launch/jvm_launcher.h"

// The launcher of the process's first copy; null when none is published.
CJvmLauncher* FirstCopyLauncher();

#endif  // TVX_LAUNCH_FIRST_COPY_H
