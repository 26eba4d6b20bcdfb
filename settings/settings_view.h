// The settings in effect, one fact a line, each with its source: the view of
// explain mode and of the generator's inspector.
#ifndef TVX_SETTINGS_SETTINGS_VIEW_H
#define TVX_SETTINGS_SETTINGS_VIEW_H

#include "settings/settings_loader.h"

// How the launcher reads one settings key.
struct SettingsKeyInfo {
    const char* name;
    bool list;          // every line counts (otherwise the first line wins)
    bool embeddedOnly;  // the external configuration file is not consulted
    const char* absent; // what applies when no line sets it (first-value keys)
};

// Every key the launcher knows, null-terminated.
extern const SettingsKeyInfo kSettingsKeys[];

// Calls `emit` with one line per settings line of `loader` (value and source,
// and whether it is in effect, overridden or ignored), then one per
// first-value key no line sets, with what applies instead.
void DescribeSettings(const CSettingsLoader& loader, void (*emit)(void* context, const char* line),
                      void* context);

// The executable and where its pieces lie, in one line.
MyCString DescribeLayout(const CSettingsLoader& loader);

#endif  // TVX_SETTINGS_SETTINGS_VIEW_H
