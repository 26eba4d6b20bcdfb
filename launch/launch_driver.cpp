// The launch road: settings become environment variables, virtual-machine
// options and system properties; the runtime is created, its version checked
// and the application's main method called.
#include "launch/launch_driver.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "base/platform.h"
#include "launch/explain_launch.h"
#include "launch/jvm_launcher.h"
#include "launch/messages.h"
#include "launch/native_access.h"
#include "launch/shipped_runtime_hint.h"
#include "launch/startup_cache.h"
#include "settings/settings_loader.h"

bool bStdredirSame = false;

namespace {

const int kPathBufferSize = 4096;

// Sets the exported variables; true when one of them is JAVA_TOOL_OPTIONS.
bool ExportEnvironment(const MyCStringArray& exports) {
    bool toolOptionsExported = false;
    for (int i = 0; i < exports.GetCount(); ++i) {
        const char* line = exports[i];
        const char* equals = strchr(line, '=');
        if (!equals) continue;
        MyCString name(line, static_cast<int>(equals - line));
        const char* value = equals + 1;
        while (*value == ' ' || *value == '\t') ++value;
        setenv(name, value, 1);
        if (name.CompareNoCase("JAVA_TOOL_OPTIONS") == 0) toolOptionsExported = true;
    }
    return toolOptionsExported;
}

// Substitutes the runtime version and the bounds into a version message.
MyCString VersionMessage(int id, const char* version, const char* minVersion, const char* maxVersion) {
    const char* args[5] = {version, minVersion, maxVersion, "", ""};
    return FormatPlaceholders(RSTR(id), args, 5);
}

}  // namespace

unsigned PathAdjust(const char* base, const char* path, char* out, unsigned outSize) {
    if (!base) base = "";
    if (!path) path = "";
    MyCString joined;
    if (path[0] == '/' || (path[0] != '\0' && path[1] == ':')) {
        joined = path;
    } else if (path[0] == '\\' || path[0] == '/') {
        if (base[0] != '\0' && base[1] == ':') joined.Append(base, 2);
        joined += path;
    } else {
        joined = base;
        AppendDirSeparator(joined);
        joined += path;
    }
    return static_cast<unsigned>(GetFullPathName(joined, outSize, out));
}

int ForceCurrentWorkingDirectory(const char* path) {
    MyCString base(pldr ? pldr->AppHome().c_str() : "");
    char buffer[kPathBufferSize];
    buffer[0] = '\0';
    unsigned length = PathAdjust(base, path, buffer, sizeof buffer);
    if (length < 1 || length >= sizeof buffer) return -1;
    return chdir(buffer);
}

int RunJavaMain(int argc1, char** argv1, StartCallback start, int argc2, char** argv2) {
    CSettingsLoader* loader = pldr;
    CJvmLauncher* launcher = plchr;
    if (!loader || !launcher) return kMsgJreNotFound;

    MyCStringArray exports;
    loader->GetAll("export", exports);
    if (!ExportEnvironment(exports)) unsetenv("JAVA_TOOL_OPTIONS");

    MyCStringArray options;
    loader->GetAll("option", options);
    for (int i = 0; i < options.GetCount(); ++i) launcher->AddOption(options[i]);

    MyCString classPath = loader->GetJoinedClassPath();
    MyCString option("-Djava.class.path=");
    option += classPath;
    launcher->AddOption(option);
    option = "-Dtvx.class.path=";
    option += classPath;
    launcher->AddOption(option);
    option = "-Dtvx.app.path=";
    option += loader->ExePath();
    launcher->AddOption(option);
    option = "-Dapplication.home=";
    option += loader->AppHome();
    launcher->AddOption(option);

    MyCString version;
    MyCString minVersion;
    MyCString maxVersion;
    int result = kLaunchOk;
    MyCString jvmPath = loader->GetJvmPath();
    if (jvmPath.IsEmpty()) {
        result = kMsgJreNotFound;
    } else {
        const int feature = startup_cache::RuntimeFeature(jvmPath);
        AllowNativeAccess(*launcher, feature);
        const bool dryRun = CExplain::Dry();
        PrepareStartupCache(*loader, *launcher, jvmPath, feature, dryRun);
        if (CExplain::On()) ExplainOptions(*launcher);
        if (dryRun) {
            // A dry run ends here, before the runtime is loaded (the startup
            // cache only says what it would do): 0 says the start would go on
            // to create the virtual machine.
            CExplain::Fact("dry run: stops before creating the virtual machine with %s", jvmPath.c_str());
            CExplain::Stop();
            return kLaunchOk;
        }
        result = launcher->LaunchJVM(jvmPath);
        CExplain::Fact("virtual machine %s (result %d)", result ? "not created" : "created", result);
    }

    if (result == kLaunchOk) {
        MyCStringArray properties;
        loader->GetAll("property", properties, true);
        for (int i = 0; i < properties.GetCount(); ++i) {
            MyCString assignment(properties[i]);
            CExplain::Fact("property %s", assignment.c_str());
            SystemSetPropertyUtf8(launcher->GetEnv(), assignment.GetBuffer());
        }

        minVersion = loader->GetCommon("minjre");
        maxVersion = loader->GetCommon("maxjre");
        if (!minVersion.IsEmpty() || !maxVersion.IsEmpty()) {
            if (!launcher->GetVmVersion(version)) {
                result = kMsgNoVmVersion;
            } else {
                int range = CheckVersionRange(version, minVersion, maxVersion);
                if (range < 0) result = kMsgVersionTooLow;
                if (range > 0) result = kMsgVersionTooHigh;
            }
            CExplain::Fact("version check: runtime %s, minjre %s, maxjre %s: %s", version.c_str(),
                           minVersion.IsEmpty() ? "(none)" : minVersion.c_str(),
                           maxVersion.IsEmpty() ? "(none)" : maxVersion.c_str(),
                           result == kLaunchOk            ? "accepted"
                           : result == kMsgVersionTooLow  ? "refused, too low"
                           : result == kMsgVersionTooHigh ? "refused, too high"
                                                          : "refused, version unreadable");
        } else if (CExplain::On()) {
            CExplain::Fact("version check: skipped, neither minjre nor maxjre is set");
        }
    }

    if (result == kLaunchOk) {
        if (start) start();
        MyCStringArray argvSettings;
        loader->GetAll("argv", argvSettings);
        MyCString mainClass = loader->GetCommon("mainclass", true);
        if (CExplain::On()) {
            CExplain::Fact("main class %s", mainClass.c_str());
            for (int i = 0; i < argvSettings.GetCount(); ++i) CExplain::Fact("argv setting %s", argvSettings[i]);
            CExplain::Fact("application starts");
            CExplain::Stop();
        }
        result = launcher->InvokeMainClass(mainClass, argvSettings, argc1, argv1, argc2, argv2);
    }

    if (CExplain::On()) {
        CExplain::Fact("launch failed: result %d", result);
        CExplain::Stop();
    }
    // A damaged archive looks to the runtime like a missing class.
    if (result == kMsgMainClassNotFound) {
        MyCString damage = loader->ArchiveDamageText();
        if (!damage.IsEmpty()) ReportMessage(damage);
    }
    if (result != kLaunchOk) {
        MyCString text;
        if (result == kMsgVersionTooLow || result == kMsgVersionTooHigh) {
            text = VersionMessage(result, version, minVersion, maxVersion);
        } else if (result == kResultMainThrew) {
            const char* thrown = launcher->LastException();
            text = FormatPlaceholders(RSTR(result), &thrown, 1);
        } else
            text = RSTR(result);
        ReportMessage(text);
        // A class that is there but needs what is not (a missing
        // dependency) gets the same message as a wrong name: say which.
        if (result == kMsgMainClassNotFound && !launcher->LastException().IsEmpty()) {
            MyCString mainClass = loader->GetCommon("mainclass", true);
            MyCString detail;
            detail.Format("Main class %s: %s", mainClass.c_str(), launcher->LastException().c_str());
            ReportMessage(detail);
        }
        if (result == kMsgMainClassNotFound || result == kResultMainThrew) {
            MyCString hint = ShippedRuntimeHint(*loader, jvmPath, launcher->LastException());
            if (!hint.IsEmpty()) ReportMessage(hint);
        }
    }
    return result;
}
