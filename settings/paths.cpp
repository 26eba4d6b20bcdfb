// The loader's paths: the current directory record and relative-path
// resolution against the application home directory.
#include <unistd.h>

#include "base/platform.h"
#include "settings/settings_loader.h"

namespace {
const int kPathBufferSize = 4096;

bool IsAbsolute(const MyCString& path) {
    return path.GetAt(0, '\0') == '/' || path.GetAt(0, '\0') == '\\' || path.GetAt(1, '\0') == ':';
}
}  // namespace

bool CSettingsLoader::FileExists(const char* path) { return path && access(path, R_OK) == 0; }

void CSettingsLoader::ResetCurDir() {
    char buffer[kPathBufferSize];
    m_curDir.Empty();
    GetCurrentDirectory(kPathBufferSize, buffer);
    m_curDir += buffer;
    // An unknown working directory stays empty rather than becoming "/".
    if (!m_curDir.IsEmpty()) AppendDirSeparator(m_curDir);
}

MyCString CSettingsLoader::ToAbsolutePath(const MyCString& path) {
    if (path.IsEmpty()) return MyCString();
    if (IsAbsolute(path)) return path;
    MyCString home(m_appHome);
    home += path;
    if (FileExists(home)) return home;
    MyCString work(m_curDir);
    work += path;
    if (FileExists(work)) return work;
    return home;
}
