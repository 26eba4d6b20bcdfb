// Layout of the data appended to a launcher image, shared by the launcher's
// reader and the generator (tvx-pack).
//
//   launcher image | S bytes | S | R bytes | R | settings text (T) | T |
//   16-byte opaque field | archive (A bytes) | archive comment (M bytes)
//
// All lengths are unsigned 32-bit little-endian. The launcher image holds the
// archive length record, which the generator finds by its marker and patches
// with A.
#ifndef TVX_SETTINGS_LAYOUT_H
#define TVX_SETTINGS_LAYOUT_H

#include <stdint.h>

namespace tvx_layout {

// The record's marker: 13 letters and digits and a NUL. The launcher image
// must hold it exactly once, and debug information describes every constant
// variable with its bytes, so launcher code (built with
// TVX_LAUNCHER_IMAGE_CODE) sees only the macro and spells the record with it.
#define TVX_RECORD_MARKER_TEXT "TvxArcLen2026"
constexpr int kRecordMarkerSize = 14;
static_assert(sizeof(TVX_RECORD_MARKER_TEXT) == kRecordMarkerSize, "marker size");
#ifndef TVX_LAUNCHER_IMAGE_CODE
constexpr char kRecordMarker[kRecordMarkerSize] = TVX_RECORD_MARKER_TEXT;
#endif
constexpr int kRecordSize = 22;         // A (4), zero (4), marker (14)
constexpr int kRecordMarkerOffset = 8;
constexpr int kOpaqueSize = 16;
constexpr int kLengthFieldSize = 4;
constexpr int kEocdSize = 22;           // ZIP end-of-central-directory record
constexpr uint32_t kEocdSignature = 0x06054b50;  // "PK\5\6"
constexpr uint32_t kLocalHeaderSignature = 0x04034b50;  // "PK\3\4"
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;  // "PK\1\2"
constexpr int kCentralHeaderSize = 46;
constexpr int kLocalHeaderSize = 30;
// An archive of more than 65,535 entries ends with a ZIP64 end record, then
// a locator that gives the record's offset, then the end record. Readers
// find the ZIP64 record through the locator before they know where the
// archive begins, so in an executable the locator's offset counts from the
// file's first byte (every other offset counts from the archive's).
constexpr uint32_t kZip64RecordSignature = 0x06064b50;   // "PK\6\6"
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;  // "PK\6\7"
constexpr int kZip64RecordSize = 56;
constexpr int kZip64LocatorSize = 20;
constexpr int kZip64LocatorOffsetField = 8;
// Longest settings text (block or external file) the launcher accepts, in
// bytes; the generator refuses to write a longer block.
constexpr uint32_t kMaxSettingsText = 64u << 20;
constexpr uint32_t kSmallFileLimit = 5120000;     // below: fixed comment window
constexpr uint32_t kSmallFileWindow = 51200;

// Start of the archive-comment search window for a file of `size` bytes.
inline uint64_t CommentSearchStart(uint64_t size) {
    uint64_t window = size < kSmallFileLimit ? kSmallFileWindow : size / 100;
    return size > window + kEocdSize ? size - window - kEocdSize : 0;
}

// The first record of a ZIP archive: a local file header, or the
// end-of-central-directory record of an empty archive.
inline bool IsArchiveStart(uint32_t signature) {
    return signature == kLocalHeaderSignature || signature == kEocdSignature;
}

inline uint32_t ReadLE32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t ReadLE16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint64_t ReadLE64(const unsigned char* p) {
    return static_cast<uint64_t>(ReadLE32(p)) | (static_cast<uint64_t>(ReadLE32(p + 4)) << 32);
}
inline void WriteLE32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

inline void WriteLE64(unsigned char* p, uint64_t v) {
    WriteLE32(p, static_cast<uint32_t>(v));
    WriteLE32(p + 4, static_cast<uint32_t>(v >> 32));
}

}  // namespace tvx_layout

#endif  // TVX_SETTINGS_LAYOUT_H
