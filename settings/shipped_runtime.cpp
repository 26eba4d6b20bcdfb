#include "settings/shipped_runtime.h"

#include <string.h>

MyCString ShippedRuntimeHome(CSettingsLoader& loader, bool* named) {
    MyCString setting = CSettingsLoader::EnvProcess(loader.GetCommon("jre"), false);
    if (named) *named = !setting.IsEmpty();
    return loader.ToAbsolutePath(setting.IsEmpty() ? MyCString("./jre/") : setting);
}

bool IsShippedRuntime(CSettingsLoader& loader, const char* library) {
    if (!library || !*library) return false;
    MyCString home = ShippedRuntimeHome(loader, nullptr);
    size_t n = strlen(home.c_str());
    while (n > 0 && home.c_str()[n - 1] == '/') --n;
    return n > 0 && strncmp(library, home.c_str(), n) == 0 && library[n] == '/';
}
