#include "pack/settings_text.h"

#include <cctype>
#include <cstring>

namespace tvxpack {

namespace {

bool IsKeyChar(unsigned char c) { return isalnum(c) || c == '_'; }

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

// Splits at CR LF, LF or CR; a final line end adds no empty line.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    return lines;
}

// Reason a line cannot go into the settings block, or "".
std::string LineProblem(const std::string& line) {
    if (line.find_first_of("\r\n") != std::string::npos) return "holds a line break";
    if (line.find('\0') != std::string::npos) return "holds a NUL byte";
    size_t bad = 0;
    if (!IsValidUtf8(line, &bad)) return "is not valid UTF-8 (byte " + std::to_string(bad + 1) + ")";
    return std::string();
}

// A mainclass line naming the class as a file ("com/x/Main.class") or a
// path ("com/x/Main") rewritten to name it as Java does; other lines as given.
std::string WithMainClassName(const std::string& line) {
    std::string value;
    if (!LineCarriesKey(line, "mainclass", &value)) return line;
    std::string name = MainClassName(value);
    return name == Trim(value) ? line : "mainclass " + name;
}

}  // namespace

std::string MainClassName(const std::string& written) {
    std::string name = Trim(written);
    static const char kSuffix[] = ".class";
    const size_t n = sizeof kSuffix - 1;
    if (name.size() > n && name.compare(name.size() - n, n, kSuffix) == 0) name.resize(name.size() - n);
    for (char& c : name)
        if (c == '/') c = '.';
    return name;
}

bool LineCarriesKey(const std::string& line, const char* key, std::string* value) {
    size_t i = line.find_first_not_of(' ');
    if (i == std::string::npos) return false;
    size_t keyLength = strlen(key);
    if (line.size() - i < keyLength) return false;
    for (size_t k = 0; k < keyLength; ++k)
        if (tolower(static_cast<unsigned char>(line[i + k])) != tolower(static_cast<unsigned char>(key[k])))
            return false;
    i += keyLength;
    if (i < line.size() && IsKeyChar(static_cast<unsigned char>(line[i]))) return false;
    if (value != nullptr) {
        while (i < line.size() && line[i] == ' ') ++i;
        if (i < line.size() && line[i] == '=') ++i;
        while (i < line.size() && line[i] == ' ') ++i;
        *value = line.substr(i);
    }
    return true;
}

bool IsValidUtf8(const std::string& text, size_t* badOffset) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        size_t extra;
        unsigned min;
        unsigned cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000, cp = c & 0x07;
        } else {
            *badOffset = i;
            return false;
        }
        if (n - i <= extra) {
            *badOffset = i;
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) {
                *badOffset = i;
                return false;
            }
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            *badOffset = i;
            return false;
        }
        i += extra + 1;
    }
    return true;
}

bool SplitSettingsFile(const std::string& content, std::vector<std::string>* lines, std::string* error) {
    if (content.compare(0, 2, "\xFF\xFE") == 0 || content.compare(0, 2, "\xFE\xFF") == 0) {
        *error = "is UTF-16 text; save it as UTF-8";
        return false;
    }
    std::string text = content.compare(0, 3, "\xEF\xBB\xBF") == 0 ? content.substr(3) : content;
    std::vector<std::string> split = SplitLines(text);
    for (size_t i = 0; i < split.size(); ++i) {
        std::string problem = LineProblem(split[i]);
        if (!problem.empty()) {
            *error = "line " + std::to_string(i + 1) + " " + problem;
            return false;
        }
    }
    *lines = std::move(split);
    return true;
}

std::string ManifestAttribute(const std::string& manifest, const std::string& name) {
    std::vector<std::string> lines = SplitLines(manifest);
    // Join continuation lines (a leading space) to their header line.
    std::vector<std::string> headers;
    for (const std::string& line : lines) {
        if (line.empty()) break;  // end of the main section
        if (line[0] == ' ' && !headers.empty())
            headers.back() += line.substr(1);
        else
            headers.push_back(line);
    }
    for (const std::string& header : headers) {
        size_t colon = header.find(':');
        if (colon != std::string::npos && EqualNoCase(header.substr(0, colon), name))
            return Trim(header.substr(colon + 1));
    }
    return std::string();
}

namespace {

// True when a line of the file or of --set carries `key`.
bool AnyLineCarries(const SettingsSources& sources, const char* key) {
    for (const auto* list : {&sources.fileLines, &sources.setLines})
        for (const std::string& line : *list)
            if (LineCarriesKey(line, key, nullptr)) return true;
    return false;
}

}  // namespace

bool WantsManifestMainClass(const SettingsSources& sources) {
    return !sources.hasMain && !AnyLineCarries(sources, "mainclass");
}

bool ComposeSettings(const SettingsSources& sources, std::vector<std::string>* lines, std::string* error) {
    std::vector<std::string> out;
    if (sources.hasMain) {
        std::string name = MainClassName(sources.mainClass);
        std::string problem = name.empty() ? "is empty" : LineProblem(name);
        if (!problem.empty()) {
            *error = "--main " + problem;
            return false;
        }
        out.push_back("mainclass " + name);
    } else if (WantsManifestMainClass(sources) && !sources.manifestMainClass.empty()) {
        std::string problem = LineProblem(sources.manifestMainClass);
        if (!problem.empty()) {
            *error = "the jar manifest's Main-Class " + problem;
            return false;
        }
        out.push_back("mainclass " + MainClassName(sources.manifestMainClass));
    }
    if (sources.startupCache && !AnyLineCarries(sources, "startupcache")) out.push_back("startupcache true");
    for (const std::string& line : sources.fileLines) {
        std::string problem = LineProblem(line);
        if (!problem.empty()) {
            *error = "a settings file line " + problem;
            return false;
        }
        out.push_back(WithMainClassName(line));
    }
    for (size_t i = 0; i < sources.setLines.size(); ++i) {
        std::string problem = LineProblem(sources.setLines[i]);
        if (!problem.empty()) {
            *error = "--set number " + std::to_string(i + 1) + " " + problem;
            return false;
        }
        out.push_back(WithMainClassName(sources.setLines[i]));
    }
    // The launcher takes the first mainclass line; it must name a class.
    std::string mainClass;
    for (const std::string& line : out)
        if (LineCarriesKey(line, "mainclass", &mainClass)) break;
    if (Trim(mainClass).empty()) {
        *error = "no main class: give --main CLASS, a 'mainclass CLASS' line, or a jar whose manifest has Main-Class";
        return false;
    }
    *lines = std::move(out);
    return true;
}

}  // namespace tvxpack
