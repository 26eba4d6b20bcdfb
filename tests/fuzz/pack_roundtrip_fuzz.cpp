// Pack, then read: the settings lines the generator accepts are written with
// its layout code and read back by the launcher's reader, which must find
// exactly those lines; composing them changes only main class names.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "pack/layout_writer.h"
#include "pack/settings_text.h"
#include "settings/settings_loader.h"
#include "tests/fuzz/support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // First byte: length of the archive comment; the rest: a settings file.
    const std::string comment(data[0] % 8, 'c');
    std::vector<std::string> lines;
    std::string error;
    if (!tvxpack::SplitSettingsFile(std::string(reinterpret_cast<const char*>(data + 1), size - 1), &lines, &error))
        return 0;

    tvxpack::Layout layout;
    layout.image = fuzzsupport::SyntheticImage();
    layout.settings = tvxpack::EncodeSettingsBlock(lines);
    layout.firstUnread = std::string(data[0] % 3, 's');
    layout.archive = fuzzsupport::EmptyZip(comment);
    std::string bytes;
    FUZZ_CHECK(tvxpack::BuildExecutable(layout, &bytes, &error), error);
    const std::string exe = fuzzsupport::ScratchDir() + "/packed";
    fuzzsupport::WriteBytes(exe, bytes.data(), bytes.size());

    CSettingsLoader loader(true, exe.c_str());
    std::string expected;
    for (const std::string& line : lines) expected += line + "\r\n";
    // The buffer holds the block up to its final NUL.
    const std::string read(loader.c_str());
    FUZZ_CHECK(read == expected, "settings read back differ: [" + read + "] instead of [" + expected + "]");

    // Every line the generator sees carrying a key is a line the launcher
    // finds with the same value.
    for (const std::string& line : lines) {
        std::string value;
        if (!tvxpack::LineCarriesKey(line, "vm", &value)) continue;
        FUZZ_CHECK(std::string(loader.GetCommon("vm", false, false).c_str()) == value, "first vm value");
        break;
    }

    // Composing keeps the file's lines as they are, but for a main class
    // written as a path or class file, which becomes the class it names.
    tvxpack::SettingsSources sources;
    sources.fileLines = lines;
    sources.manifestMainClass = "m.Main";
    std::vector<std::string> composed;
    if (tvxpack::ComposeSettings(sources, &composed, &error)) {
        FUZZ_CHECK(composed.size() == lines.size() || composed.size() == lines.size() + 1, "composed line count");
        const size_t first = composed.size() - lines.size();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (composed[first + i] == lines[i]) continue;
            std::string value;
            FUZZ_CHECK(tvxpack::LineCarriesKey(lines[i], "mainclass", &value), "only mainclass lines change");
            const std::string name = tvxpack::MainClassName(value);
            FUZZ_CHECK(composed[first + i] == "mainclass " + name, "a rewritten line names the class");
            FUZZ_CHECK(name.find('/') == std::string::npos, "a class name holds no slash");
        }
    }
    return 0;
}
