// The archive length record. The generator finds it in the launcher image by
// its marker and writes the archive's length into its first four bytes, so
// the marker must occur exactly once in the image: this record is its only
// copy, and the search for the record in other files compares against it.
#include <string.h>

#include "settings/layout.h"
#include "settings/settings_loader.h"
#include "settings/settings_private.h"

static_assert(tvx_layout::kRecordSize == 22 && tvx_layout::kRecordMarkerOffset == 8,
              "the record below spells out its layout");

// The record is written in assembly: the compiler sees no initial value to
// fold reads to, and no debug description repeats the marker's bytes.
#define TVX_RECORD_STR2(x) #x
#define TVX_RECORD_STR(x) TVX_RECORD_STR2(x)
__asm__(
    ".pushsection .rodata\n"
    ".balign 8\n"
    ".hidden g_archiveLengthRecord\n"
    ".type g_archiveLengthRecord, \"object\"\n"
    "g_archiveLengthRecord:\n"
    ".byte 0, 0, 0, 0\n"  // archive length, little-endian; 0 until patched
    ".byte 0, 0, 0, 0\n"
    ".asciz " TVX_RECORD_STR(TVX_RECORD_MARKER_TEXT) "\n"
    ".size g_archiveLengthRecord, 22\n"
    ".popsection\n");

extern "C" __attribute__((visibility("hidden"))) const unsigned char g_archiveLengthRecord[tvx_layout::kRecordSize];

uint32_t ArchiveLengthOfSelf() {
    return tvx_layout::ReadLE32(BUFFER_OF(g_archiveLengthRecord, tvx_layout::kRecordSize));
}

uint32_t ArchiveLengthInImage(const unsigned char* data, uint64_t size) {
    const int markerOffset = tvx_layout::kRecordMarkerOffset;
    if (!data || size < static_cast<uint64_t>(tvx_layout::kRecordSize)) return 0;
    // The record lies in the launcher image, before every appended byte, so
    // its marker is the first one in the file.
    const unsigned char* found = static_cast<const unsigned char*>(
        memmem(data + markerOffset, static_cast<size_t>(size - markerOffset),
               g_archiveLengthRecord + markerOffset, tvx_layout::kRecordMarkerSize));
    if (!found) return 0;
    return tvx_layout::ReadLE32(BUFFER_OF(found - markerOffset, tvx_layout::kRecordSize));
}
