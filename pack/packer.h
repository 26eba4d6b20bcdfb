// Writing one executable: launcher image, settings block and application
// archive, into a temporary file that is renamed over the output only when
// complete.
#ifndef TVX_PACK_PACKER_H
#define TVX_PACK_PACKER_H

#include <cstdint>
#include <string>
#include <vector>

namespace tvxpack {

struct PackRequest {
    bool hasMain = false;
    std::string mainClass;
    std::string settingsFile;  // "" when none
    std::vector<std::string> setLines;
    bool startupCache = false;  // add "startupcache true" unless a line sets the key
    std::string launcher;      // launcher image
    std::string helpersJar;    // jar holding the helper classes
    std::string output;
    std::string jar;
};

struct PackResult {
    std::vector<std::string> settingsLines;
    std::vector<std::string> addedClasses;
    uint64_t fileSize = 0;
    uint64_t archiveLength = 0;  // A
    uint64_t commentLength = 0;  // M
};

// The settings block the executable would carry (as PackExecutable
// composes it), without writing anything.
bool ComposeRequestSettings(const PackRequest& request, std::vector<std::string>* lines, std::string* error);

// Writes the executable; on failure nothing is left behind (no output, no
// temporary file) and `error` holds one line saying why.
bool PackExecutable(const PackRequest& request, PackResult* result, std::string* error);

// Removes a half-written temporary file when the process is interrupted
// (SIGINT, SIGTERM, SIGHUP) while PackExecutable runs.
void InstallInterruptCleanup();

}  // namespace tvxpack

#endif  // TVX_PACK_PACKER_H
