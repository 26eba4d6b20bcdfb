// After a start that failed on a missing class, a line that points at the
// runtime shipped with the application when it was the one used: a class
// of the JDK that the application reaches only by reflection or through a
// service is missing there unless its module was linked in.
#ifndef TVX_LAUNCH_SHIPPED_RUNTIME_HINT_H
#define TVX_LAUNCH_SHIPPED_RUNTIME_HINT_H

#include "base/my_string.h"
#include "settings/settings_loader.h"

// The hint for `exception` (the Java exception's "class: message" text)
// thrown with the runtime library `jvmPath`; empty when the exception is not
// a missing class or the runtime is not the shipped one.
MyCString ShippedRuntimeHint(CSettingsLoader& loader, const char* jvmPath, const char* exception);

#endif  // TVX_LAUNCH_SHIPPED_RUNTIME_HINT_H
