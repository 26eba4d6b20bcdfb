#include "launch/native_access.h"

#include <string.h>

#include "base/explain.h"
#include "launch/jvm_launcher.h"

void AllowNativeAccess(CJvmLauncher& launcher, int feature) {
    if (feature < kFirstNativeAccessWarningFeature) return;
    static const char* const kDeciding[] = {"--enable-native-access", "--illegal-native-access"};
    for (int i = 0; i < launcher.OptionCount(); ++i)
        for (const char* deciding : kDeciding)
            if (strncmp(launcher.OptionAt(i), deciding, strlen(deciding)) == 0) {
                CExplain::Fact("native access: as the options say (%s)", launcher.OptionAt(i));
                return;
            }
    launcher.AddOption("--enable-native-access=ALL-UNNAMED");
    CExplain::Fact("native access: enabled for the class path (runtime feature %d), where the helper classes load "
                   "the launcher's natives",
                   feature);
}
