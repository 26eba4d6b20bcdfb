#include "pack/layout_writer.h"

#include <algorithm>
#include <cstring>

#include "settings/layout.h"

namespace tvxpack {

namespace {

void AppendLE32(std::string& out, uint32_t v) {
    unsigned char b[4];
    tvx_layout::WriteLE32(b, v);
    out.append(reinterpret_cast<const char*>(b), 4);
}

// (Shifted rather than compared with 0xFFFFFFFF, which 32-bit builds flag as
// always true.)
bool Fits32(size_t n) { return (static_cast<uint64_t>(n) >> 32) == 0; }

}  // namespace

int64_t Zip64LocatorTarget(const unsigned char* locator) {
    if (tvx_layout::ReadLE32(locator) != tvx_layout::kZip64LocatorSignature) return -1;
    uint64_t target = tvx_layout::ReadLE64(locator + tvx_layout::kZip64LocatorOffsetField);
    return (target >> 62) != 0 ? -1 : static_cast<int64_t>(target);
}

bool IsZip64RecordSignature(const unsigned char* bytes) {
    return tvx_layout::ReadLE32(bytes) == tvx_layout::kZip64RecordSignature;
}

void EncodeLE64(unsigned char* out, uint64_t value) { tvx_layout::WriteLE64(out, value); }

long FindLengthRecord(const std::string& image) {
    const std::string marker(tvx_layout::kRecordMarker, tvx_layout::kRecordMarkerSize);
    size_t pos = image.find(marker);
    if (pos == std::string::npos || pos < static_cast<size_t>(tvx_layout::kRecordMarkerOffset)) return -1;
    if (image.find(marker, pos + 1) != std::string::npos) return -1;
    return static_cast<long>(pos - tvx_layout::kRecordMarkerOffset);
}

std::string EncodeSettingsBlock(const std::vector<std::string>& lines) {
    std::string block = "\xEF\xBB\xBF";
    for (const auto& line : lines) block += line + "\r\n";
    block.push_back('\0');
    return block;
}

long ZipCommentLength(const std::string& zip) {
    if (zip.size() < static_cast<size_t>(tvx_layout::kEocdSize)) return -1;
    for (size_t p = zip.size() - tvx_layout::kEocdSize + 1; p-- > 0;) {
        if (tvx_layout::ReadLE32(reinterpret_cast<const unsigned char*>(zip.data() + p)) ==
            tvx_layout::kEocdSignature)
            return static_cast<long>(zip.size() - p - tvx_layout::kEocdSize);
    }
    return -1;
}

long LauncherCommentLength(const std::string& tail, uint64_t fileSize) {
    if (tail.size() > fileSize || fileSize < static_cast<uint64_t>(tvx_layout::kEocdSize)) return -1;
    const uint64_t tailStart = fileSize - tail.size();
    const uint64_t windowStart = std::max(tvx_layout::CommentSearchStart(fileSize), tailStart);
    const auto* bytes = reinterpret_cast<const unsigned char*>(tail.data());
    for (uint64_t p = fileSize - tvx_layout::kEocdSize + 1; p-- > windowStart;) {
        if (tvx_layout::ReadLE32(bytes + (p - tailStart)) == tvx_layout::kEocdSignature)
            return static_cast<long>(fileSize - p - tvx_layout::kEocdSize);
    }
    return -1;
}

long DeclaredCommentLength(const std::string& tail) {
    const size_t eocd = static_cast<size_t>(tvx_layout::kEocdSize);
    if (tail.size() < eocd) return -1;
    const auto* bytes = reinterpret_cast<const unsigned char*>(tail.data());
    for (size_t p = tail.size() - eocd + 1; p-- > 0;) {
        if (tvx_layout::ReadLE32(bytes + p) != tvx_layout::kEocdSignature) continue;
        size_t declared = static_cast<size_t>(bytes[p + 20]) | (static_cast<size_t>(bytes[p + 21]) << 8);
        if (p + eocd + declared == tail.size()) return static_cast<long>(declared);
    }
    return -1;
}

std::string AppendedHeader(const Layout& layout) {
    std::string out;
    out += layout.firstUnread;
    AppendLE32(out, static_cast<uint32_t>(layout.firstUnread.size()));
    out += layout.secondUnread;
    AppendLE32(out, static_cast<uint32_t>(layout.secondUnread.size()));
    out += layout.settings;
    AppendLE32(out, static_cast<uint32_t>(layout.settings.size()));
    out += layout.opaque;
    return out;
}

bool BuildExecutable(const Layout& layout, std::string* out, std::string* error) {
    long record = FindLengthRecord(layout.image);
    if (record < 0) {
        *error = "the launcher image holds no archive length record";
        return false;
    }
    if (layout.opaque.size() != static_cast<size_t>(tvx_layout::kOpaqueSize)) {
        *error = "the opaque field must be 16 bytes";
        return false;
    }
    long comment = ZipCommentLength(layout.archive);
    size_t archiveLength = layout.archive.size() - static_cast<size_t>(comment < 0 ? 0 : comment);
    if (!Fits32(archiveLength) || !Fits32(layout.settings.size()) || !Fits32(layout.firstUnread.size()) ||
        !Fits32(layout.secondUnread.size())) {
        *error = "a piece is 4 GiB or larger";
        return false;
    }
    *out = layout.image;
    tvx_layout::WriteLE32(reinterpret_cast<unsigned char*>(&(*out)[static_cast<size_t>(record)]),
                          static_cast<uint32_t>(archiveLength));
    *out += AppendedHeader(layout);
    const uint64_t archiveStart = out->size();
    *out += layout.archive;
    if (comment >= 0) {
        std::string& file = *out;
        auto read = [&file](uint64_t at, uint64_t n, unsigned char* to) {
            memcpy(to, file.data() + at, static_cast<size_t>(n));
            return true;
        };
        auto write = [&file](uint64_t at, const unsigned char* from, uint64_t n) {
            memcpy(&file[static_cast<size_t>(at)], from, static_cast<size_t>(n));
            return true;
        };
        RebaseZip64Locator(archiveStart, archiveStart + archiveLength - tvx_layout::kEocdSize, read, write);
    }
    return true;
}

}  // namespace tvxpack
