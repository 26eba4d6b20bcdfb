// Settings values as standard strings, for tests and fuzz harnesses that
// compare what the loader answers.
#pragma once

#include <string>
#include <vector>

#include "settings/settings_loader.h"

namespace settingstest {

inline std::vector<std::string> All(CSettingsLoader& loader, const char* key, bool utf8 = false) {
    MyCStringArray values;
    loader.GetAll(key, values, utf8);
    std::vector<std::string> out;
    for (int i = 0; i < values.GetCount(); ++i) out.push_back(values[i]);
    return out;
}

// Line callback of CSettingsLoader::EnumLines: appends each value to the
// std::vector<std::string> given as context.
inline void Collect(void* context, const char* value) {
    static_cast<std::vector<std::string>*>(context)->push_back(value);
}

}  // namespace settingstest
