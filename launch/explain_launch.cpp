#include "launch/explain_launch.h"

#include <strings.h>
#include <unistd.h>

#include "settings/settings_view.h"

namespace {
void EmitFact(void*, const char* line) { CExplain::Fact("%s", line); }
}  // namespace

void ExplainSettings(const CSettingsLoader& loader) {
    CExplain::Fact("%s", DescribeLayout(loader).c_str());
    DescribeSettings(loader, EmitFact, nullptr);
}

void ExplainStartup(const char* workDir, const char* errPath, bool errDefault, const char* outPath,
                    const char* single) {
    char cwd[4096];
    CExplain::Fact("working directory %s (forcecwd %s)", getcwd(cwd, sizeof cwd) ? cwd : "unknown", workDir);
    if (*errPath)
        CExplain::Fact("stderr -> %s%s", errPath, errDefault ? " (default: executable path + .stderr.log)" : "");
    else
        CExplain::Fact("stderr -> unchanged");
    if (*outPath)
        CExplain::Fact("stdout -> %s", outPath);
    else
        CExplain::Fact("stdout -> unchanged");
    if (strcasecmp(single, "true") == 0)
        CExplain::Fact("single instance: true, a second instance is refused");
    else if (strcasecmp(single, "custom") == 0)
        CExplain::Fact("single instance: custom, the message channel between instances is started");
    else
        CExplain::Fact("single instance: off");
}

void ExplainOptions(const CJvmLauncher& launcher) {
    for (int i = 0; i < launcher.OptionCount(); ++i) CExplain::Fact("vm option %s", launcher.OptionAt(i));
}
