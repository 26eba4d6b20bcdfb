#include <dlfcn.h>

#include "base/platform.h"

HMODULE LoadLibrary(const char* path) { return path ? dlopen(path, RTLD_LAZY) : nullptr; }

void* GetProcAddress(HMODULE module, const char* name) { return module ? dlsym(module, name) : nullptr; }

BOOL FreeLibrary(HMODULE module) {
    if (module) dlclose(module);
    return 1;
}
