#include "pack/launcher_view.h"

#include <limits.h>
#include <unistd.h>

#include "settings/settings_loader.h"
#include "settings/settings_view.h"
#include "settings/shipped_runtime.h"

namespace tvxpack {

namespace {

std::vector<std::string> Lines(const char* text, int length) {
    std::vector<std::string> lines;
    MyCString copy(text, length);
    CLineReader reader(copy.GetData());
    MyCString line;
    while (reader.GetLine(line)) lines.emplace_back(line.GetData() ? line.GetData() : "", line.GetLength());
    return lines;
}

void AddLine(void* context, const char* line) { static_cast<std::vector<std::string>*>(context)->emplace_back(line); }

}  // namespace

LauncherView ReadAsLauncher(const std::string& executable) {
    CSettingsLoader loader(true, executable.c_str());
    LauncherView view;
    view.remarkEnd = loader.RemarkEndOffset();
    const int external = loader.ExternalPrefixLength();
    const char* text = loader.GetData() ? loader.GetData() : "";
    view.external = Lines(text, external);
    view.embedded = Lines(text + external, loader.GetLength() - external);
    DescribeSettings(loader, AddLine, &view.effective);
    MyCString home = ShippedRuntimeHome(loader, nullptr);
    view.shippedHome = home.c_str();
    view.shippedLibrary = loader.FindLibjvmFile(home).c_str();
    // Named from the root, as the launcher started from anywhere sees it.
    char cwd[PATH_MAX];
    for (std::string* path : {&view.shippedHome, &view.shippedLibrary})
        if (!path->empty() && (*path)[0] != '/' && getcwd(cwd, sizeof cwd)) *path = std::string(cwd) + "/" + *path;
    MyCString order = loader.GetCommon("jre_order");
    view.searchOrder = order.c_str();
    MyCString jvmdll = CSettingsLoader::EnvProcess(loader.GetCommon("jvmdll"), false);
    view.jvmdllFound = !jvmdll.IsEmpty() && CSettingsLoader::FileExists(loader.ToAbsolutePath(jvmdll));
    return view;
}

}  // namespace tvxpack
