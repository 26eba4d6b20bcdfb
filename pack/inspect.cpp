#include "pack/inspect.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "pack/file_io.h"
#include "pack/layout_writer.h"
#include "settings/layout.h"

namespace tvxpack {

namespace {

// Offset of the first record marker in the file, or -1.
int64_t FindMarker(int fd, uint64_t fileSize) {
    const std::string marker(tvx_layout::kRecordMarker, tvx_layout::kRecordMarkerSize);
    const uint64_t chunk = 1 << 20;
    std::string buffer;
    for (uint64_t at = 0; at < fileSize; at += chunk) {
        uint64_t n = std::min<uint64_t>(chunk + marker.size() - 1, fileSize - at);
        buffer.resize(static_cast<size_t>(n));
        if (!ReadAt(fd, &buffer[0], buffer.size(), at)) return -1;
        size_t pos = buffer.find(marker);
        if (pos != std::string::npos) return static_cast<int64_t>(at + pos);
    }
    return -1;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

bool ReadLE32At(int fd, uint64_t offset, uint32_t* value) {
    unsigned char b[4];
    if (!ReadAt(fd, b, 4, offset)) return false;
    *value = tvx_layout::ReadLE32(b);
    return true;
}

}  // namespace

bool ReadExecutableLayout(const std::string& path, ExecutableLayout* layout, std::string* error) {
    Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        *error = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = path + ": not a regular file";
        return false;
    }
    ExecutableLayout l;
    l.fileSize = static_cast<uint64_t>(st.st_size);
    int64_t marker = FindMarker(fd.get(), l.fileSize);
    if (marker < tvx_layout::kRecordMarkerOffset) {
        *error = path + ": no archive length record (not a tvx executable)";
        return false;
    }
    l.recordOffset = static_cast<uint64_t>(marker - tvx_layout::kRecordMarkerOffset);
    if (!ReadLE32At(fd.get(), l.recordOffset, &l.archiveLength)) {
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }

    // The comment as the launcher finds it: searched over its window only.
    std::string tail(static_cast<size_t>(l.fileSize - tvx_layout::CommentSearchStart(l.fileSize)), '\0');
    if (!tail.empty() && !ReadAt(fd.get(), &tail[0], tail.size(), l.fileSize - tail.size())) {
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    long comment = LauncherCommentLength(tail, l.fileSize);
    l.commentLength = comment < 0 ? 0 : static_cast<uint64_t>(comment);

    const uint64_t fixed = l.archiveLength + l.commentLength + tvx_layout::kOpaqueSize;
    const uint64_t recordEnd = l.recordOffset + tvx_layout::kRecordSize;
    const std::string broken = path + ": inconsistent layout: ";
    if (l.fileSize < fixed + 12 + recordEnd) {
        *error = broken + "the archive length in the record does not fit the file";
        return false;
    }
    const uint64_t remarkEnd = l.fileSize - fixed;  // just past the settings length
    l.opaqueOffset = remarkEnd;
    l.archiveOffset = remarkEnd + tvx_layout::kOpaqueSize;
    l.commentOffset = l.archiveOffset + l.archiveLength;
    // Walk back from the settings length: each length field is preceded by
    // its block; the first unread block starts where the image ends.
    struct Piece {
        const char* name;
        uint32_t* length;
        uint64_t* offset;
    } pieces[] = {{"settings", &l.settingsLength, &l.settingsOffset},
                  {"second unread", &l.secondUnreadLength, &l.secondUnreadOffset},
                  {"first unread", &l.firstUnreadLength, &l.firstUnreadOffset}};
    uint64_t cursor = remarkEnd;
    uint64_t fieldsBelow = 8;  // length fields still to come below this piece
    for (Piece& piece : pieces) {
        cursor -= 4;
        if (!ReadLE32At(fd.get(), cursor, piece.length)) {
            *error = "cannot read " + path + ": " + strerror(errno);
            return false;
        }
        if (cursor < recordEnd + fieldsBelow + *piece.length) {
            *error = broken + "the " + piece.name + " length does not fit the file";
            return false;
        }
        cursor -= *piece.length;
        *piece.offset = cursor;
        fieldsBelow -= 4;
    }
    l.imageSize = cursor;

    l.settingsText.assign(l.settingsLength, '\0');
    if (!l.settingsText.empty() && !ReadAt(fd.get(), &l.settingsText[0], l.settingsText.size(), l.settingsOffset)) {
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    *layout = std::move(l);
    return true;
}

std::string ShippedRuntimeLine(const LauncherView& view) {
    std::string order;
    for (char c : view.searchOrder) order += static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (order.find_first_of("cbsie") == std::string::npos) order = "cbsie";
    if (view.shippedLibrary.empty())
        return "runtime: none shipped in " + view.shippedHome + "; one is searched on the machine at start (jre_order " +
               order + ")\n";
    std::string before;
    for (char c : order) {
        if (c == 'b') break;
        if ((c == 'c' && view.jvmdllFound) || c == 's' || c == 'e') before += c;
    }
    std::string line = "runtime: shipped in " + view.shippedHome + " (library " + view.shippedLibrary + "); ";
    if (order.find('b') == std::string::npos) return line + "not used: jre_order " + order + " has no b\n";
    if (before.empty()) return line + "used at start, it comes first in the search (jre_order " + order + ")\n";
    return line + "used only when sources " + before + " find none (jre_order " + order + ")\n";
}

std::string FormatLayout(const std::string& path, const ExecutableLayout& l, const LauncherView& view) {
    std::string out = "executable " + path + "\n";
    char row[160];
    auto add = [&](const char* piece, uint64_t offset, uint64_t size, const char* note) {
        snprintf(row, sizeof row, "  %-22s %12" PRIu64 " %12" PRIu64 "%s\n", piece, offset, size, note);
        out += row;
    };
    snprintf(row, sizeof row, "  %-22s %12s %12s\n", "piece", "offset", "size");
    out += row;
    char recordNote[64];
    snprintf(recordNote, sizeof recordNote, "  (archive length record at %" PRIu64 ")", l.recordOffset);
    add("launcher image", 0, l.imageSize, recordNote);
    add("first unread block S", l.firstUnreadOffset, l.firstUnreadLength, "");
    add("its length", l.firstUnreadOffset + l.firstUnreadLength, 4, "");
    add("second unread block R", l.secondUnreadOffset, l.secondUnreadLength, "");
    add("its length", l.secondUnreadOffset + l.secondUnreadLength, 4, "");
    add("settings text T", l.settingsOffset, l.settingsLength, "");
    add("its length", l.settingsOffset + l.settingsLength, 4, "");
    add("opaque field", l.opaqueOffset, tvx_layout::kOpaqueSize, "");
    add("archive A", l.archiveOffset, l.archiveLength, "");
    add("archive comment M", l.commentOffset, l.commentLength, "");
    add("file size", 0, l.fileSize, "");
    if (view.remarkEnd == 0) {
        out += "warning: the launcher finds no settings block in this file\n";
    } else if (static_cast<uint64_t>(view.remarkEnd) != l.opaqueOffset) {
        snprintf(row, sizeof row, "warning: the launcher reads the settings length at %d, not at %" PRIu64 "\n",
                 view.remarkEnd - 4, l.opaqueOffset - 4);
        out += row;
    }
    auto lines = [&](const char* title, const std::vector<std::string>& list) {
        snprintf(row, sizeof row, "%s (%zu line%s):\n", title, list.size(), list.size() == 1 ? "" : "s");
        out += row;
        for (const std::string& line : list) out += "  " + line + "\n";
    };
    lines("settings, as the launcher reads them", view.embedded);
    if (!view.external.empty()) lines("external configuration file beside it, read first", view.external);
    lines("settings in effect, with their sources", view.effective);
    out += ShippedRuntimeLine(view);
    return out;
}

}  // namespace tvxpack
