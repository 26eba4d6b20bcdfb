#include "pack/app_checks.h"

#include <dirent.h>
#include <glob.h>
#include <strings.h>
#include <sys/stat.h>
#include <zip.h>

#include <cstring>

#include "pack/file_io.h"
#include "pack/settings_text.h"
#include "settings/settings_view.h"

namespace tvxpack {

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool ArchiveHolds(const std::string& path, const std::string& entry) {
    int status = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY, &status);
    if (zip == nullptr) return false;
    bool found = zip_name_locate(zip, entry.c_str(), 0) >= 0;
    zip_discard(zip);
    return found;
}

// Where the class file of the main class is found in an element of the
// class path: below a directory, or inside an archive.
bool ElementHolds(const std::string& element, const std::string& entry) {
    if (IsDirectory(element)) return Exists(element + "/" + entry);
    return ArchiveHolds(element, entry);
}

// The text with the application home's references replaced, the only
// variables whose value is known at packing time; false when another
// reference remains, whose value comes from where the executable runs.
bool ExpandKnown(const std::string& text, const std::string& appHome, std::string* out) {
    static const char* const kForms[] = {"${APPLICATION_HOME}", "%{APPLICATION_HOME}%", "%APPLICATION_HOME%",
                                         "$APPLICATION_HOME"};
    std::string result;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const char* form : kForms) {
            size_t n = strlen(form);
            if (strncasecmp(text.c_str() + i, form, n) == 0) {
                result += appHome + "/";
                i += n;
                replaced = true;
                break;
            }
        }
        if (replaced) continue;
        if (text[i] == '$' || text[i] == '%') return false;
        result += text[i++];
    }
    *out = result;
    return true;
}

// Resolves a path of the settings the way the launcher does when it exists
// below the application home; an absolute path stays as it is.
std::string BelowHome(const std::string& path, const std::string& appHome) {
    std::string full = path[0] == '/' ? path : appHome + "/" + path;
    for (size_t i; (i = full.find("//")) != std::string::npos;) full.erase(i, 1);
    return full;
}

bool HasArchiveExtension(const char* name) {
    const char* dot = strrchr(name, '.');
    return dot != nullptr && (strcasecmp(dot, ".jar") == 0 || strcasecmp(dot, ".zip") == 0);
}

// Every .jar and .zip below `directory`, as a libs line collects them.
void CollectArchives(const std::string& directory, std::vector<std::string>* out, int depth = 0) {
    if (depth > 32) return;
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr) return;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        std::string path = directory + "/" + entry->d_name;
        if (IsDirectory(path))
            CollectArchives(path, out, depth + 1);
        else if (HasArchiveExtension(entry->d_name))
            out->push_back(path);
    }
    closedir(dir);
}

std::vector<std::string> SplitEntries(const std::string& value) {
    std::vector<std::string> entries;
    size_t start = 0;
    while (start <= value.size()) {
        size_t colon = value.find(':', start);
        if (colon == std::string::npos) colon = value.size();
        if (colon > start) entries.push_back(value.substr(start, colon - start));
        start = colon + 1;
    }
    return entries;
}

// What the class path of the settings holds on this machine.
struct ClassPathView {
    std::vector<std::string> elements;  // present here, to be searched
    bool complete = true;               // false when some entry could not be looked into
};

void ViewEntries(const std::string& key, const std::string& value, const std::string& appHome,
                 ClassPathView* view, std::vector<std::string>* warnings) {
    for (const std::string& entry : SplitEntries(value)) {
        std::string path;
        if (!ExpandKnown(entry, appHome, &path)) {
            view->complete = false;  // its value comes from where the executable runs
            continue;
        }
        if (path.find_first_of("*?") != std::string::npos) {
            // A relative pattern is matched from the working directory at run time.
            if (path[0] != '/') {
                view->complete = false;
                continue;
            }
            glob_t matches;
            if (glob(path.c_str(), 0, nullptr, &matches) == 0) {
                for (size_t i = 0; i < matches.gl_pathc; ++i) view->elements.push_back(matches.gl_pathv[i]);
            } else {
                warnings->push_back(key + " entry '" + entry + "' matches nothing here");
                view->complete = false;
            }
            globfree(&matches);
            continue;
        }
        std::string resolved = BelowHome(path, appHome);
        if (Exists(resolved)) {
            view->elements.push_back(resolved);
        } else {
            warnings->push_back(key + " entry '" + entry + "' does not exist here (" + resolved +
                                "); the application runs without it unless it is there where the executable runs");
            view->complete = false;
        }
    }
}

void ViewLibraryDirectory(const std::string& key, const std::string& value, const std::string& appHome,
                          ClassPathView* view, std::vector<std::string>* warnings) {
    std::string path;
    if (value.empty()) return;
    if (!ExpandKnown(value, appHome, &path)) {
        view->complete = false;
        return;
    }
    std::string resolved = BelowHome(path, appHome);
    if (!IsDirectory(resolved)) {
        warnings->push_back(key + " directory '" + value + "' does not exist here (" + resolved +
                            "); its archives join the class path only if it is there where the executable runs");
        view->complete = false;
        return;
    }
    CollectArchives(resolved, &view->elements);
}

bool IsComment(const std::string& line) {
    size_t i = line.find_first_not_of(' ');
    return i == std::string::npos || line[i] == '#' || line[i] == ';';
}

bool HasKnownKey(const std::string& line) {
    for (const SettingsKeyInfo* key = kSettingsKeys; key->name != nullptr; ++key)
        if (LineCarriesKey(line, key->name, nullptr)) return true;
    return false;
}

}  // namespace

bool CheckApplication(const AppCheck& check, std::vector<std::string>* warnings, std::string* error) {
    std::string mainClass;
    bool mainSeen = false;
    ClassPathView view;
    for (const std::string& line : check.lines) {
        if (IsComment(line)) continue;
        if (!HasKnownKey(line)) {
            size_t start = line.find_first_not_of(' ');
            warnings->push_back("the launcher ignores the line '" + line.substr(start) +
                                "': it starts with no known key (see tvx-settings(5))");
            continue;
        }
        std::string value;
        if (!mainSeen && LineCarriesKey(line, "mainclass", &value)) {
            mainSeen = true;
            mainClass = value;
        }
        for (const char* key : {"classpath", "java_classpath"})
            if (LineCarriesKey(line, key, &value)) ViewEntries(key, value, check.appHome, &view, warnings);
        for (const char* key : {"libs", "java_libs"})
            if (LineCarriesKey(line, key, &value)) ViewLibraryDirectory(key, value, check.appHome, &view, warnings);
    }
    if (!check.mainClassMustExist || mainClass.empty()) return true;

    std::string entry = mainClass;
    for (char& c : entry)
        if (c == '.') c = '/';
    entry += ".class";
    if (ArchiveHolds(check.jar, entry) || ArchiveHolds(check.helpersJar, entry)) return true;
    for (const std::string& element : view.elements)
        if (ElementHolds(element, entry)) return true;
    const std::string jarName = check.jar.substr(check.jar.rfind('/') + 1);
    if (!view.complete) {
        warnings->push_back("main class " + mainClass + " (" + entry + ") is not in " + jarName +
                            " nor in the class path entries present here");
        return true;
    }
    *error = "main class " + mainClass + " (" + entry + ") is not in " + jarName +
             (view.elements.empty() ? "" : " nor on the class path of the settings") +
             "; check its name, or give --no-check to pack it anyway";
    return false;
}

}  // namespace tvxpack
