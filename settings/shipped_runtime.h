// The runtime shipped with the application: the "jre" home (default
// ./jre/, resolved below the application home) that the runtime search's
// letter "b" probes, and whether a runtime library found lies in it.
#ifndef TVX_SETTINGS_SHIPPED_RUNTIME_H
#define TVX_SETTINGS_SHIPPED_RUNTIME_H

#include "base/my_string.h"
#include "settings/settings_loader.h"

// The shipped runtime's home, resolved; `named` (optional) says whether the
// settings name it (false: the default ./jre/).
MyCString ShippedRuntimeHome(CSettingsLoader& loader, bool* named);

// True when `library` (a runtime library path the search returned) lies
// below the shipped runtime's home.
bool IsShippedRuntime(CSettingsLoader& loader, const char* library);

#endif  // TVX_SETTINGS_SHIPPED_RUNTIME_H
