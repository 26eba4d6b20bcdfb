// What tvx-pack reads before it links a runtime: a JDK's release file and
// the first bytes of a launcher image, whose processor the runtime follows.
// Values come from within the bytes, one line each, without one pair of
// surrounding quotes; a JAVA_VERSION line the harness writes first is read
// back as written; the processor is one of the four names or none.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "pack/runtime_image.h"
#include "pack/tool_paths.h"
#include "tests/fuzz/support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const tvxpack::JdkRelease release = tvxpack::ParseJdkRelease(text);
    for (const std::string* value : {&release.version, &release.osArch, &release.modules}) {
        FUZZ_CHECK(text.find(*value) != std::string::npos, "value not from the bytes: " + *value);
        FUZZ_CHECK(value->find('\n') == std::string::npos, "value of more than one line: " + *value);
        // One pair of quotes is taken off: a value still quoted stood in two.
        FUZZ_CHECK(value->size() < 2 || value->front() != '"' || value->back() != '"' ||
                       text.find('"' + *value + '"') != std::string::npos,
                   "quotes kept: " + *value);
    }
    FUZZ_CHECK(tvxpack::JavaFeature(release.version) >= 0, "negative feature from " + release.version);
    for (const char* processor : {"x86_64", "aarch64", "armhf", "i386"}) tvxpack::OsArchMatches(release.osArch, processor);

    // A version line written first wins over anything after it.
    std::string version;
    for (char c : text.substr(0, 12))
        if ((c >= '0' && c <= '9') || c == '.') version += c;
    if (!version.empty()) {
        const tvxpack::JdkRelease written = tvxpack::ParseJdkRelease("JAVA_VERSION=\"" + version + "\"\n" + text);
        FUZZ_CHECK(written.version == version, "written " + version + ", read " + written.version);
    }

    const std::string processor = tvxpack::ImageProcessor(text);
    FUZZ_CHECK(processor.empty() || tvxpack::ProcessorName(processor) == processor, "processor " + processor);
    FUZZ_CHECK(size >= 20 || processor.empty(), "a processor from fewer than 20 bytes");
    return 0;
}
