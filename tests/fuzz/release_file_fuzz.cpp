// A runtime's release file, read for the startup cache's feature number:
// any bytes give 0 or a feature number a runtime can have, read within the
// given size, and the same from the file below a runtime home as from the
// bytes. A JAVA_VERSION line the harness writes (first, or after other
// lines) gives back the number written, in the current and the 1.x form.
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "launch/startup_cache.h"
#include "settings/runtime_release.h"
#include "tests/fuzz/support/fuzz_support.h"

namespace {

const int kHighestFeature = 999;

const std::string& LibraryInHome() {
    static const std::string library = [] {
        const std::string home = fuzzsupport::ScratchDir() + "/jdk";
        for (const char* dir : {"", "/lib", "/lib/server"}) mkdir((home + dir).c_str(), 0755);
        fuzzsupport::WriteBytes(home + "/lib/server/libjvm.so", "", 0);
        return home + "/lib/server/libjvm.so";
    }();
    return library;
}

void CheckWritten(const std::string& others, int feature, bool legacy) {
    std::string line = "JAVA_VERSION=\"";
    line += legacy ? "1." + std::to_string(feature) + ".0_292" : std::to_string(feature) + ".0.2";
    line += "\"\n";
    const std::string first = line + others;
    FUZZ_CHECK(startup_cache::ReleaseFeature(first.data(), first.size()) == feature, "first line: " + first);
    // Other lines before it: only when they hold no NUL (the text's end)
    // and no line of the same key.
    if (others.find('\0') != std::string::npos || others.find("JAVA_VERSION=\"") != std::string::npos) return;
    const std::string after = others + "\n" + line;
    FUZZ_CHECK(startup_cache::ReleaseFeature(after.data(), after.size()) == feature, "after other lines: " + after);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    const int feature = startup_cache::ReleaseFeature(bytes, size);
    // The version text the runtime search compares with minjre/maxjre:
    // taken from within the bytes, one line, without its quotes.
    const MyCString version = ReleaseVersion(bytes, size);
    FUZZ_CHECK(static_cast<size_t>(version.GetLength()) <= size, "version longer than its bytes");
    FUZZ_CHECK(strpbrk(version.c_str(), "\"\n\r") == nullptr, "version text " + std::string(version.c_str()));
    FUZZ_CHECK(feature == 0 || (feature >= 1 && feature <= kHighestFeature),
               "feature " + std::to_string(feature) + " from " + std::string(bytes, size));

    // The same bytes as the release file of a runtime home (the file reader
    // takes at most 8191 bytes). Files are slow: one size in four.
    if (size < 8192 && size % 4 == 0) {
        const std::string& library = LibraryInHome();
        fuzzsupport::WriteBytes(library.substr(0, library.size() - strlen("/lib/server/libjvm.so")) + "/release", data,
                                size);
        FUZZ_CHECK(startup_cache::RuntimeFeature(library.c_str()) == feature, "file and bytes differ");
    }

    if (size >= 2) {
        // From 2: "1.0.2" is the legacy form of the first release.
        const int written = 2 + (data[0] | data[1] << 8) % (kHighestFeature - 1);
        const std::string others(bytes + 2, size - 2);
        CheckWritten(others, written, false);
        if (written <= 8) CheckWritten(others, written, true);
    }
    return 0;
}
