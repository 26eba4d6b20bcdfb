// Walks the settings buffer line by line, as the lookups read it, and says for
// every line which key it sets, where it comes from and whether it counts.
#include "settings/settings_view.h"

#include <inttypes.h>

#include <stdarg.h>
#include <string.h>

#include "settings/layout.h"
#include "settings/settings_private.h"

const SettingsKeyInfo kSettingsKeys[] = {
    {"mainclass", false, true, "none (the start fails: main class not found)"},
    {"option", true, false, nullptr},
    {"property", true, false, nullptr},
    {"export", true, false, nullptr},
    {"argv", true, false, nullptr},
    {"minjre", false, false, "no lower bound"},
    {"maxjre", false, false, "no upper bound"},
    {"message", true, false, nullptr},
    {"appid", false, false, "the executable's path keys the instance segment"},
    {"singleinstance", false, false, "no single-instance policy"},
    {"stdout", false, false, "not redirected"},
    {"stderr", false, false, "the executable's path followed by .stderr.log"},
    {"forcecwd", false, false, "the executable's directory"},
    {"classpath", true, false, nullptr},
    {"java_classpath", true, false, nullptr},
    {"libs", true, false, nullptr},
    {"java_libs", true, false, nullptr},
    {"jre_order", false, false, "cbsie"},
    {"jvmdll", false, false, "none"},
    {"jre", false, false, "./jre/"},
    {"vm", false, false, "no preference"},
    {"disableexternal", false, true, "the external file is used"},
    {"startupcache", false, false, "false"},
    {"startupcachemax", false, false, "1G"},
    {"startupcachetraining", false, false, "false: a first run lists the classes it loads"},
    {"logmaxsize", false, false, "the log files are not rotated by size"},
    {"logkeep", false, false, "5"},
    {"serviceuser", false, false, "the service runs as the user who starts it"},
    {"servicerestart", false, false, "the unit's default"},
    {"servicewatchdog", false, false, "no watchdog"},
    {"stoptimeout", false, false, "the unit's default"},
    {"servicenetwork", false, false, "false"},
    {"serviceready", false, false, "main"},
    {nullptr, false, false, nullptr},
};

namespace {

const int kKeyCount = static_cast<int>(sizeof kSettingsKeys / sizeof kSettingsKeys[0]) - 1;

// Where the first line in effect of each first-value key came from.
struct FirstLine {
    bool set = false;
    bool external = false;
    int line = 0;
};

class CSettingsView {
public:
    CSettingsView(const CSettingsLoader& loader, void (*emit)(void*, const char*), void* context)
        : m_loader(loader), m_emit(emit), m_context(context) {
        const char* slash = strrchr(loader.ExternalFile(), '/');
        m_externalName = slash ? slash + 1 : loader.ExternalFile().c_str();
    }

    void Run() {
        const int external = m_loader.ExternalPrefixLength();
        const char* text = m_loader.GetData() ? m_loader.GetData() : "";
        if (!m_loader.ExternalFile().IsEmpty() && external == 0) {
            Emit("external file %s: discarded (disableexternal in the embedded block)",
                 m_loader.ExternalFile().c_str());
        } else if (!m_loader.ExternalFile().IsEmpty()) {
            Emit("external file %s: read first, its lines override the embedded block",
                 m_loader.ExternalFile().c_str());
        }
        Walk(MyCString(text, external), true);
        Walk(MyCString(text + external, m_loader.GetLength() - external), false);
        for (int k = 0; k < kKeyCount; ++k) {
            if (!kSettingsKeys[k].list && !m_first[k].set)
                Emit("setting %s: not set (%s)", kSettingsKeys[k].name, kSettingsKeys[k].absent);
        }
    }

private:
    __attribute__((format(printf, 2, 3))) void Emit(const char* format, ...) {
        MyCString line;
        va_list args;
        va_start(args, format);
        line.FormatV(format, args);
        va_end(args);
        m_emit(m_context, line);
    }

    MyCString Source(bool external, int line) const {
        MyCString source;
        if (external)
            source.Format("%s line %d", m_externalName, line);
        else
            source.Format("embedded block line %d", line);
        return source;
    }

    void Walk(const MyCString& text, bool external) {
        CLineReader reader(text.GetData());
        MyCString line;
        for (int number = 1; reader.GetLine(line); ++number) Describe(line, external, number);
    }

    void Describe(const MyCString& line, bool external, int number) {
        const MyCString source = Source(external, number);
        for (int k = 0; k < kKeyCount; ++k) {
            const SettingsKeyInfo& key = kSettingsKeys[k];
            const char* value = ValueOfSettingsLine(line, key.name);
            if (!value) continue;
            FirstLine& first = m_first[k];
            if (external && key.embeddedOnly) {
                Emit("setting %s = %s (%s, ignored: read from the embedded block only)", key.name, value, source.c_str());
            } else if (key.list) {
                Emit("setting %s = %s (%s)", key.name, value, source.c_str());
            } else if (!first.set) {
                first.set = true;
                first.external = external;
                first.line = number;
                Emit("setting %s = %s (%s)", key.name, value, source.c_str());
            } else if (first.external && !external) {
                Emit("setting %s = %s (%s, overridden by %s)", key.name, value, source.c_str(), Source(true, first.line).c_str());
            } else {
                Emit("setting %s = %s (%s, unused: %s sets it first)", key.name, value, source.c_str(),
                     Source(first.external, first.line).c_str());
            }
            return;
        }
        const char* p = line.c_str();
        while (*p == ' ') ++p;
        if (*p && *p != '#' && *p != ';') Emit("line ignored, no known key: %s (%s)", p, source.c_str());
    }

    const CSettingsLoader& m_loader;
    void (*m_emit)(void*, const char*);
    void* m_context;
    const char* m_externalName;
    FirstLine m_first[kKeyCount];
};

}  // namespace

void DescribeSettings(const CSettingsLoader& loader, void (*emit)(void* context, const char* line), void* context) {
    CSettingsView(loader, emit, context).Run();
}

MyCString DescribeLayout(const CSettingsLoader& loader) {
    const MyCString& path = loader.ExePath();
    CMappedFile image(path);
    const uint64_t size = image.Size();
    const uint64_t end = static_cast<uint64_t>(loader.RemarkEndOffset());
    MyCString line;
    if (end < static_cast<uint64_t>(tvx_layout::kLengthFieldSize) || !image.Holds(end - 4, 4)) {
        line.Format("executable %s: %" PRIu64 " bytes, no settings block found", path.c_str(), size);
        return line;
    }
    const uint32_t settings = tvx_layout::ReadLE32(image.Data() + end - 4);
    const uint64_t comment = static_cast<uint64_t>(CZipRemark(path).GetLength());
    const uint64_t archiveStart = end + tvx_layout::kOpaqueSize;
    const uint64_t archive = size >= archiveStart + comment ? size - archiveStart - comment : 0;
    line.Format("executable %s: %" PRIu64 " bytes; settings block %" PRIu32 " bytes at %" PRIu64
                ", archive %" PRIu64 " bytes at %" PRIu64 ", archive comment %" PRIu64 " bytes",
                path.c_str(), size, settings, settings <= end - 4 ? end - 4 - settings : 0, archive, archiveStart, comment);
    return line;
}
