// Settings text as the lookups see it: every key read as first value and as
// list, variable expansion of every value in both modes, and "message"
// overrides with their placeholders (compared against printf).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

#include "launch/messages.h"
#include "settings/settings_loader.h"
#include "tests/fuzz/support/fuzz_support.h"

namespace {

const char* const kKeys[] = {"mainclass", "option",  "property",       "export", "argv",      "minjre",
                             "maxjre",    "message", "appid",          "stdout", "stderr",    "forcecwd",
                             "classpath", "libs",    "jre_order",      "jvmdll", "jre",       "vm",
                             "java_libs", "java_classpath", "disableexternal", "singleinstance"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1 << 16)) return 0;
    CSettingsLoader loader(false);
    loader.Assign(reinterpret_cast<const char*>(data), static_cast<int>(size));
    pldr = &loader;
    for (const char* key : kKeys) {
        loader.GetCommon(key, false, true);
        loader.GetCommon(key, true, false);
        MyCStringArray locale, utf8;
        loader.GetAll(key, locale, false);
        loader.GetAll(key, utf8, true);
        FUZZ_CHECK(locale.GetCount() == utf8.GetCount(), "both reads enumerate the same lines");
    }
    const MyCString text(reinterpret_cast<const char*>(data), static_cast<int>(size));
    CSettingsLoader::EnvProcess(text, false);
    CSettingsLoader::EnvProcess(text, true);

    MyCStringArray values;
    loader.GetAll("message", values);
    CBufferT<unsigned int> pairs;
    MyCStringArray texts;
    LoadMessageOverrides(values, pairs, texts);
    const char* const args[] = {"ARG1", "", "a%sb"};
    for (int i = 0; i < texts.GetCount(); ++i) {
        MyCString found;
        FindMessageOverride(pairs, texts, pairs[2 * i], found);
        MyCString formatted = FormatPlaceholders(texts[i], args, 3);
        if (IsSafeFormat(texts[i], 3)) {
            char expected[4096];
            int n = snprintf(expected, sizeof expected, texts[i], args[0], args[1], args[2]);
            if (n >= 0 && n < static_cast<int>(sizeof expected))
                FUZZ_CHECK(std::string(formatted.c_str()) == expected, std::string("format: ") + texts[i]);
        }
    }
    pldr = nullptr;
    return 0;
}
