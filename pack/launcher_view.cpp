#include "pack/launcher_view.h"

#include "settings/settings_loader.h"
#include "settings/settings_view.h"

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
    return view;
}

}  // namespace tvxpack
