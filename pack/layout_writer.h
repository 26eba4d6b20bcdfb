// Writing the data appended to a launcher image: used by tvx-pack and by the
// tests that build executables of every layout.
#ifndef TVX_PACK_LAYOUT_WRITER_H
#define TVX_PACK_LAYOUT_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace tvxpack {

bool IsZip64RecordSignature(const unsigned char* bytes);
void EncodeLE64(unsigned char* out, uint64_t value);

// Offset of the archive length record in a launcher image, or -1 when the
// image holds no record (or more than one).
long FindLengthRecord(const std::string& image);

// The settings block: UTF-8 byte-order mark, each line ended by CR LF, a final NUL.
std::string EncodeSettingsBlock(const std::vector<std::string>& lines);

struct Layout {
    std::string image;          // launcher image (its length record is patched)
    std::string firstUnread;    // S bytes the launcher does not read
    std::string secondUnread;   // R bytes the launcher does not read
    std::string settings;       // settings text (T bytes, as stored)
    std::string opaque = std::string(16, '\0');  // must be 16 bytes
    std::string archive;        // ZIP archive, its comment included
};

// Length of `zip`'s comment (bytes after its last end-of-central-directory
// record), or -1 when no such record is found.
long ZipCommentLength(const std::string& zip);

// Archive comment length M of a file of `fileSize` bytes as the launcher
// computes it, given the file's last bytes `tail`: the bytes after the
// end-of-central-directory signature nearest the end (at or before
// fileSize - 22) inside the launcher's search window; -1 when `tail` holds
// no such signature.
long LauncherCommentLength(const std::string& tail, uint64_t fileSize);

// Comment length declared by the end-of-central-directory record whose
// comment-length field reaches exactly the end of `tail` (the nearest such
// record to the end); -1 when there is none.
long DeclaredCommentLength(const std::string& tail);

// Bytes of a file's end that LauncherCommentLength and DeclaredCommentLength
// need to judge an archive comment of any valid length.
constexpr uint64_t kMaxZipTail = 0xFFFF + 22;

// The offset a ZIP64 end-record locator (its 20 bytes at `locator`) gives
// for the ZIP64 end record, or -1 when the bytes are no such locator. An
// archive placed after the launcher image keeps every offset counted from
// its own first byte except this one, which readers need before they know
// where the archive begins: it is rebased to count from the file's start.
int64_t Zip64LocatorTarget(const unsigned char* locator);

// Rebases the ZIP64 locator of an archive that starts at `archiveStart` in
// a file (see Zip64LocatorTarget). `fileBytes(offset, n, out)` reads n bytes
// of the file and `writeAt(offset, bytes, n)` writes them. `eocd` is the end
// record's file offset. Nothing changes for an archive without a locator or
// one whose locator already counts from the file's start.
template <typename Read, typename Write>
bool RebaseZip64Locator(uint64_t archiveStart, uint64_t eocd, Read fileBytes, Write writeAt) {
    const uint64_t locatorSize = 20;
    if (eocd < archiveStart + locatorSize) return true;
    unsigned char locator[20];
    if (!fileBytes(eocd - locatorSize, locatorSize, locator)) return false;
    int64_t target = Zip64LocatorTarget(locator);
    if (target < 0 || static_cast<uint64_t>(target) + 56 > eocd - archiveStart) return true;
    unsigned char signature[4];
    if (!fileBytes(archiveStart + static_cast<uint64_t>(target), 4, signature)) return false;
    if (!IsZip64RecordSignature(signature)) return true;
    unsigned char rebased[8];
    EncodeLE64(rebased, archiveStart + static_cast<uint64_t>(target));
    return writeAt(eocd - locatorSize + 8, rebased, sizeof rebased);
}

// Builds the whole executable in memory. The record receives the archive
// length without its comment. Fails (with a message) when the image has no
// record, the opaque field is not 16 bytes or a length does not fit 32 bits.
bool BuildExecutable(const Layout& layout, std::string* out, std::string* error);

// The bytes that follow the launcher image for `layout` up to (not
// including) the archive: S, len, R, len, T, len, opaque.
std::string AppendedHeader(const Layout& layout);

}  // namespace tvxpack

#endif  // TVX_PACK_LAYOUT_WRITER_H
