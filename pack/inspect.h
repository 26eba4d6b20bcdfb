// Reading the layout of a packed executable back, for `tvx-pack --inspect`:
// every piece is located the way the launcher locates it, from the archive
// length record and the end of the file.
#ifndef TVX_PACK_INSPECT_H
#define TVX_PACK_INSPECT_H

#include <cstdint>
#include <string>
#include <vector>

#include "pack/launcher_view.h"

namespace tvxpack {

struct ExecutableLayout {
    uint64_t fileSize = 0;
    uint64_t recordOffset = 0;     // archive length record in the image
    uint64_t imageSize = 0;
    uint64_t firstUnreadOffset = 0;
    uint32_t firstUnreadLength = 0;   // S
    uint64_t secondUnreadOffset = 0;
    uint32_t secondUnreadLength = 0;  // R
    uint64_t settingsOffset = 0;
    uint32_t settingsLength = 0;      // T
    uint64_t opaqueOffset = 0;
    uint64_t archiveOffset = 0;
    uint32_t archiveLength = 0;       // A
    uint64_t commentOffset = 0;
    uint64_t commentLength = 0;       // M
    std::string settingsText;         // the T bytes as stored
};

// Locates every piece of the executable at `path`; fails with a clear
// message when the file holds no record or its fields do not fit the file.
bool ReadExecutableLayout(const std::string& path, ExecutableLayout* layout, std::string* error);

// The report printed by --inspect: the layout table, then the settings
// lines as the launcher reads them (and a warning when the launcher places
// the settings elsewhere than the layout says).
std::string FormatLayout(const std::string& path, const ExecutableLayout& layout, const LauncherView& view);

// The line of the report that says whether a runtime is shipped beside the
// executable and whether the launcher's search takes it first.
std::string ShippedRuntimeLine(const LauncherView& view);

}  // namespace tvxpack

#endif  // TVX_PACK_INSPECT_H
