// Class path assembly: the executable first, then the entries and library
// directories of the settings, then CLASSPATH and CLASS_PATH. Every element
// is written as ":" followed by the element.
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "base/command_line.h"
#include "base/platform.h"
#include "base/visited_dirs.h"
#include "settings/settings_loader.h"

namespace {

const char* const kClassPathVariables[] = {"CLASSPATH", "CLASS_PATH"};

struct LibSearch {
    CVisitedDirs visited;
    int depth;
};

bool IsArchiveName(const char* name) {
    const char* dot = strrchr(name, '.');
    return dot && (strcasecmp(dot, ".jar") == 0 || strcasecmp(dot, ".zip") == 0);
}

// Appends ":" and the path of every .jar and .zip file below `directory`,
// depth first in directory order.
void CollectArchives(const char* directory, MyCString& out, LibSearch& search) {
    MyCString dir(directory);
    AppendDirSeparator(dir);

    // Each directory once per search, however many links lead to it.
    if (search.depth == kMaxSearchDepth || !search.visited.FirstVisit(dir)) return;
    ++search.depth;
    MyCString pattern(dir);
    pattern += "*";
    _finddata_t entry;
    long handle = _findfirst(pattern, &entry);
    if (handle != -1) {
        do {
            if (entry.attrib & _A_SUBDIR) {
                if (IsDotEntry(entry.name)) continue;
                MyCString sub(dir);
                sub += entry.name;
                CollectArchives(sub, out, search);
            } else if (IsArchiveName(entry.name)) {
                out += ":";
                out += dir;
                out += entry.name;
            }
        } while (_findnext(handle, &entry) == 0);
        _findclose(handle);
    }
    --search.depth;
}

// Appends one expanded class path entry: the matches of a wildcard pattern
// (from the working directory), otherwise the entry resolved like any path.
void AppendClassPathEntry(MyCString& out, const MyCString& entry) {
    if (strpbrk(entry, "*?")) {
        MyCStringArray matches;
        CWildcardArgv::FindFiles(entry, matches);
        for (int i = 0; i < matches.GetCount(); ++i) {
            out += ":";
            out += matches[i];
        }
        return;
    }
    out += ":";
    if (pldr)
        out += pldr->ToAbsolutePath(entry);
    else
        out += entry;
}

}  // namespace

void CSettingsLoader::FindLibJars(const char* directory, MyCString& out) {
    // An empty name would become "/" and pull in every archive of the machine.
    if (!directory || !*directory) return;
    LibSearch search;
    search.depth = 0;
    CollectArchives(directory, out, search);
}

void CSettingsLoader::EnumClassPathCallback(void* context, const char* value) {
    if (!context || !value) return;
    MyCString& out = *static_cast<MyCString*>(context);
    // Split first, expand each segment after: a variable holding ":" stays
    // one element.
    for (const char* p = value; *p;) {
        const char* end = strchr(p, ':');
        if (!end) end = p + strlen(p);
        if (end > p) AppendClassPathEntry(out, EnvProcess(MyCString(p, static_cast<int>(end - p)), false));
        p = *end ? end + 1 : end;
    }
}

MyCString CSettingsLoader::GetClassPath(bool second) {
    MyCString entries;
    EnumLines(second ? "classpath" : "java_classpath", EnumClassPathCallback, &entries, false, true,
              MyCString());
    MyCString result;
    if (!second) result = m_exePath;
    result += entries;

    MyCStringArray dirs;
    GetAll(second ? "libs" : "java_libs", dirs);
    for (int i = 0; i < dirs.GetCount(); ++i) {
        MyCString archives;
        FindLibJars(ToAbsolutePath(dirs[i]), archives);
        result += archives;
    }

    if (second) {
        for (const char* name : kClassPathVariables) {
            const char* value = getenv(name);
            if (!value) continue;
            result += ":";
            result += value;
        }
    }
    return result;
}

MyCString CSettingsLoader::JoinClassPath(const char* first, const char* second) {
    MyCString joined;
    const char* const parts[] = {first, second};
    for (const char* part : parts) {
        for (const char* p = part ? part : ""; *p;) {
            const char* end = strchr(p, ':');
            if (!end) end = p + strlen(p);
            if (end > p) {
                if (!joined.IsEmpty()) joined += ":";
                joined.Append(p, static_cast<int>(end - p));
            }
            p = *end ? end + 1 : end;
        }
    }
    return joined;
}

MyCString CSettingsLoader::GetJoinedClassPath() { return JoinClassPath(GetClassPath(false), GetClassPath(true)); }
