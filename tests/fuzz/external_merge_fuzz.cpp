// The external configuration file merged with the settings block: whatever
// the file holds (any encoding mark, NULs, bytes the locale cannot decode),
// the block's settings stay visible after it.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "pack/layout_writer.h"
#include "settings/settings_loader.h"
#include "tests/fuzz/support/fuzz_support.h"
#include "tests/settings/settings_values.h"

namespace {

const std::vector<std::string> kBlock = {"mainclass embedded.Main", "option -Dembedded=1", "property embedded.p=1",
                                         "stderr embedded.log"};

const std::string& Executable() {
    static const std::string path = [] {
        tvxpack::Layout layout;
        layout.image = fuzzsupport::SyntheticImage();
        layout.settings = tvxpack::EncodeSettingsBlock(kBlock);
        layout.archive = fuzzsupport::EmptyZip();
        std::string bytes, error;
        if (!tvxpack::BuildExecutable(layout, &bytes, &error)) fuzzsupport::Fail(__FILE__, __LINE__, "build", error);
        std::string exe = fuzzsupport::ScratchDir() + "/app";
        fuzzsupport::WriteBytes(exe, bytes.data(), bytes.size());
        return exe;
    }();
    return path;
}

using settingstest::All;
using settingstest::Collect;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& exe = Executable();
    fuzzsupport::WriteBytes(exe + ".cfg", data, size);
    CSettingsLoader loader(true, exe.c_str());

    FUZZ_CHECK(std::string(loader.GetCommon("mainclass", true).c_str()) == "embedded.Main", "embedded main class");
    std::vector<std::string> options = All(loader, "option", false);
    FUZZ_CHECK(!options.empty() && options.back() == "-Dembedded=1", "the block's option comes last");
    std::vector<std::string> properties = All(loader, "property", true);
    FUZZ_CHECK(!properties.empty() && properties.back() == "embedded.p=1", "the block's property comes last");
    std::vector<std::string> embedded;
    loader.EnumLines("stderr", Collect, &embedded, true, true, "");
    FUZZ_CHECK(embedded == std::vector<std::string>{"embedded.log"}, "embedded-only lookup sees the block alone");
    FUZZ_CHECK(loader.ExternalPrefixLength() <= loader.GetLength(), "external prefix inside the buffer");
    return 0;
}
