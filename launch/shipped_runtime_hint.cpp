#include "launch/shipped_runtime_hint.h"

#include <string.h>

#include "settings/shipped_runtime.h"

namespace {

// Exceptions by which a class or module that is not in the runtime shows.
const char* const kMissingClass[] = {
    "java.lang.ClassNotFoundException",
    "java.lang.NoClassDefFoundError",
    "java.util.ServiceConfigurationError",
    "java.lang.module.FindException",
};

}  // namespace

MyCString ShippedRuntimeHint(CSettingsLoader& loader, const char* jvmPath, const char* exception) {
    MyCString hint;
    if (!exception || !IsShippedRuntime(loader, jvmPath)) return hint;
    const char* missing = nullptr;
    for (const char* name : kMissingClass) {
        size_t n = strlen(name);
        if (strncmp(exception, name, n) == 0 && (exception[n] == ':' || exception[n] == '\0')) missing = exception + n;
    }
    if (!missing) return hint;
    while (*missing == ':' || *missing == ' ') ++missing;
    MyCString home = ShippedRuntimeHome(loader, nullptr);
    hint.Format("The Java runtime shipped with the application (%s) holds only the modules it was linked with; "
                "if %s comes from the JDK, pack again adding its module: tvx-pack --runtime auto --add-modules MODULE",
                home.c_str(), *missing ? missing : "the missing class");
    return hint;
}
