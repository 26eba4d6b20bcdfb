// The settings of an executable as the launcher itself reads them, through
// its own loader (CSettingsLoader) and line reader.
#ifndef TVX_PACK_LAUNCHER_VIEW_H
#define TVX_PACK_LAUNCHER_VIEW_H

#include <string>
#include <vector>

namespace tvxpack {

struct LauncherView {
    int remarkEnd = 0;                     // E; 0 when the launcher finds no settings
    std::vector<std::string> embedded;     // lines of the settings block
    std::vector<std::string> external;     // lines of the configuration file beside it
    std::vector<std::string> effective;    // every setting with its source, as explain mode shows it
    std::string shippedHome;               // the runtime home letter "b" of the search probes
    std::string shippedLibrary;            // the runtime library found there; "" for none
    std::string searchOrder;               // the search letters in effect (jre_order)
    bool jvmdllFound = false;              // "jvmdll" names an existing file
};

LauncherView ReadAsLauncher(const std::string& executable);

}  // namespace tvxpack

#endif  // TVX_PACK_LAUNCHER_VIEW_H
