// Explain-mode reports of the start-up sequence and the launch road. Callers
// test CExplain::On() first, so nothing here runs without TVX_EXPLAIN.
#ifndef TVX_LAUNCH_EXPLAIN_LAUNCH_H
#define TVX_LAUNCH_EXPLAIN_LAUNCH_H

#include "base/explain.h"
#include "launch/jvm_launcher.h"
#include "settings/settings_loader.h"

// The executable, its layout and every settings line with its source.
void ExplainSettings(const CSettingsLoader& loader);
// Working directory, stream targets and the single-instance decision.
void ExplainStartup(const char* workDir, const char* errPath, bool errDefault, const char* outPath,
                    const char* single);
// The options collected for the virtual machine, in order.
void ExplainOptions(const CJvmLauncher& launcher);

#endif  // TVX_LAUNCH_EXPLAIN_LAUNCH_H
