#include "pack/tool_paths.h"

#include <unistd.h>

#include <vector>

namespace tvxpack {

namespace {

struct ProcessorAlias {
    const char* name;
    const char* processor;
};

const ProcessorAlias kProcessors[] = {
    {"x86_64", "x86_64"}, {"amd64", "x86_64"}, {"aarch64", "aarch64"},
    {"arm64", "aarch64"}, {"armhf", "armhf"},  {"i386", "i386"},
};

// The first existing file of `candidates`; otherwise false with an error
// that names `what` and every candidate.
bool FirstExisting(const std::vector<std::string>& candidates, const std::string& what, std::string* found,
                   std::string* error) {
    for (const std::string& path : candidates) {
        if (access(path.c_str(), F_OK) == 0) {
            *found = path;
            return true;
        }
    }
    *error = what + " not found; looked for ";
    for (size_t i = 0; i < candidates.size(); ++i) *error += (i ? " and " : "") + candidates[i];
    return false;
}

}  // namespace

std::string ProcessorName(const std::string& name) {
    for (const ProcessorAlias& alias : kProcessors)
        if (name == alias.name) return alias.processor;
    return "";
}

const char* HostProcessor() {
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__aarch64__)
    return "aarch64";
#elif defined(__arm__) && defined(__ARM_PCS_VFP)
    return "armhf";
#elif defined(__i386__)
    return "i386";
#else
    return "";
#endif
}

std::string ImageProcessor(const std::string& head) {
    if (head.size() < 20 || head.compare(0, 4, "\x7f" "ELF") != 0 || head[5] != 1) return "";  // little-endian only
    const unsigned elfClass = static_cast<unsigned char>(head[4]);
    const unsigned machine = static_cast<unsigned char>(head[18]) | static_cast<unsigned char>(head[19]) << 8;
    struct Machine {
        unsigned number, elfClass;
        const char* processor;
    };
    static const Machine kMachines[] = {{62, 2, "x86_64"}, {183, 2, "aarch64"}, {40, 1, "armhf"}, {3, 1, "i386"}};
    for (const Machine& m : kMachines)
        if (machine == m.number && elfClass == m.elfClass) return m.processor;
    return "";
}

bool FindLauncherImage(const std::string& ownDir, const std::string& processor, std::string* path,
                       std::string* error) {
    std::vector<std::string> images = {ownDir + "/../lib/tvx/" + processor + "/tvx-launcher"};
    const bool host = processor == HostProcessor();
    if (host) images.push_back(ownDir + "/tvx-launcher");
    if (FirstExisting(images, "launcher image for " + processor, path, error)) return true;
    if (!host) *error += " (install one built for it, or give --launcher IMAGE)";
    return false;
}

bool FindHelpersJar(const std::string& ownDir, std::string* path, std::string* error) {
    return FirstExisting({ownDir + "/../share/java/tvx-helpers.jar", ownDir + "/../lib/tvx-helpers.jar"},
                         "helper classes", path, error);
}

}  // namespace tvxpack
