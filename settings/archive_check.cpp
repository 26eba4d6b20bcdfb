// Damage of the appended data that the length checks of the loader cannot
// see: a settings length that does not lead back to the launcher image, and
// an application archive whose end record, ZIP64 records, central directory
// and local headers disagree. The Java runtime reads the archive for
// itself and only says that the main class is missing; these checks name
// what is wrong instead.
#include "settings/archive_check.h"

#include <elf.h>
#include <link.h>
#include <stdio.h>
#include <string.h>

#include "settings/layout.h"

namespace {

using tvx_layout::ReadLE16;
using tvx_layout::ReadLE32;
using tvx_layout::ReadLE64;

bool Inside(uint64_t size, uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; }

// End of the ELF program at the start of `data`: the furthest of its
// headers, segments and sections. 0 when `data` holds no readable ELF header.
uint64_t ElfImageEnd(const unsigned char* data, uint64_t size) {
    if (size < sizeof(ElfW(Ehdr)) || memcmp(data, ELFMAG, SELFMAG) != 0) return 0;
    ElfW(Ehdr) header;
    memcpy(&header, data, sizeof header);
    if (header.e_ident[EI_CLASS] != (sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32)) return 0;
    uint64_t end = sizeof header;
    const uint64_t programs = static_cast<uint64_t>(header.e_phnum) * sizeof(ElfW(Phdr));
    if (header.e_phentsize != sizeof(ElfW(Phdr)) || !Inside(size, header.e_phoff, programs)) return 0;
    if (header.e_phoff + programs > end) end = header.e_phoff + programs;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) program;
        memcpy(&program, data + header.e_phoff + i * sizeof program, sizeof program);
        if (program.p_offset + program.p_filesz > end) end = program.p_offset + program.p_filesz;
    }
    const uint64_t sections = static_cast<uint64_t>(header.e_shnum) * sizeof(ElfW(Shdr));
    if (header.e_shnum != 0) {
        if (header.e_shentsize != sizeof(ElfW(Shdr)) || !Inside(size, header.e_shoff, sections)) return 0;
        if (header.e_shoff + sections > end) end = header.e_shoff + sections;
        for (unsigned i = 0; i < header.e_shnum; ++i) {
            ElfW(Shdr) section;
            memcpy(&section, data + header.e_shoff + i * sizeof section, sizeof section);
            if (section.sh_type != SHT_NOBITS && section.sh_offset + section.sh_size > end)
                end = section.sh_offset + section.sh_size;
        }
    }
    return end <= size ? end : 0;
}

// The zip64 extended-information field of a central directory entry: the
// local header offset, which follows the sizes that are marked as
// 0xFFFFFFFF in the entry itself. False when the field is absent or short.
bool Zip64LocalOffset(const unsigned char* entry, const unsigned char* extra, uint64_t extraLength,
                      uint64_t* offset) {
    uint64_t skip = 0;
    if (ReadLE32(entry + 24) == 0xFFFFFFFFu) skip += 8;  // uncompressed size
    if (ReadLE32(entry + 20) == 0xFFFFFFFFu) skip += 8;  // compressed size
    for (uint64_t p = 0; p + 4 <= extraLength;) {
        const uint16_t id = ReadLE16(extra + p);
        const uint16_t length = ReadLE16(extra + p + 2);
        if (p + 4 + length > extraLength) return false;
        if (id == 0x0001) {
            if (skip + 8 > length) return false;
            *offset = ReadLE64(extra + p + 4 + skip);
            return true;
        }
        p += 4 + static_cast<uint64_t>(length);
    }
    return false;
}

struct Directory {
    uint64_t entries;
    uint64_t offset;  // from the archive's first byte
    uint64_t size;
    uint64_t end;     // file offset of the record that follows the directory
};

// Reads the directory's place from the end record at `eocd`, or from the
// ZIP64 records before it. Returns the damage, or null.
const char* ReadDirectory(const unsigned char* data, uint64_t archiveStart, uint64_t eocd, Directory* dir,
                          char* text, size_t textSize) {
    dir->entries = ReadLE16(data + eocd + 10);
    dir->size = ReadLE32(data + eocd + 12);
    dir->offset = ReadLE32(data + eocd + 16);
    dir->end = eocd;
    const uint64_t locatorSize = tvx_layout::kZip64LocatorSize;
    const bool hasLocator = eocd >= archiveStart + locatorSize &&
                            ReadLE32(data + eocd - locatorSize) == tvx_layout::kZip64LocatorSignature;
    const bool needsZip64 = dir->entries == 0xFFFF || dir->size == 0xFFFFFFFFu || dir->offset == 0xFFFFFFFFu;
    if (!hasLocator) {
        if (!needsZip64) return nullptr;
        snprintf(text, textSize, "the archive's end record refers to ZIP64 records that are not there (damaged)");
        return text;
    }
    const uint64_t locator = eocd - locatorSize;
    const uint64_t target = ReadLE64(data + locator + tvx_layout::kZip64LocatorOffsetField);
    const uint64_t recordSize = tvx_layout::kZip64RecordSize;
    auto recordAt = [&](uint64_t at) {
        return at >= archiveStart && at <= locator && recordSize <= locator - at &&
               ReadLE32(data + at) == tvx_layout::kZip64RecordSignature;
    };
    uint64_t record = target;
    if (!recordAt(record)) {
        if (target <= locator - archiveStart && recordAt(archiveStart + target)) {
            snprintf(text, textSize,
                     "the archive's ZIP64 locator counts from the archive's start, where the Java runtime does not "
                     "look for it (packed by an older tvx-pack? pack it again)");
        } else {
            snprintf(text, textSize, "the archive's ZIP64 locator points to no ZIP64 end record (damaged)");
        }
        return text;
    }
    dir->entries = ReadLE64(data + record + 32);
    dir->size = ReadLE64(data + record + 40);
    dir->offset = ReadLE64(data + record + 48);
    dir->end = record;
    return nullptr;
}

}  // namespace

const char* SettingsLengthDamage(const unsigned char* data, uint64_t size, uint64_t remarkEnd) {
    const uint64_t imageEnd = ElfImageEnd(data, size);
    // (The caller has checked that the settings length and its text lie in the file.)
    if (imageEnd == 0 || remarkEnd < 4 || remarkEnd > size) return nullptr;  // no program we could measure: nothing to compare with
    // Walk back over T, R and S; the first unread block starts where the program ends.
    uint64_t cursor = remarkEnd;
    for (int field = 0; field < 3; ++field) {
        if (cursor < imageEnd + tvx_layout::kLengthFieldSize || !Inside(size, cursor - 4, 4)) break;
        cursor -= tvx_layout::kLengthFieldSize;
        const uint32_t length = ReadLE32(data + cursor);
        if (length > cursor - imageEnd) break;
        cursor -= length;
        if (field == 2 && cursor == imageEnd) return nullptr;
    }
    // The unread blocks' lengths are not the launcher's to judge: a text that
    // begins with a byte-order mark is taken as the settings block it looks like.
    const uint64_t textLength = ReadLE32(data + remarkEnd - 4);
    const unsigned char* text = data + remarkEnd - 4 - textLength;
    if (textLength >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) return nullptr;
    if (textLength >= 2 && ((text[0] == 0xFF && text[1] == 0xFE) || (text[0] == 0xFE && text[1] == 0xFF))) return nullptr;
    return "the settings length does not lead back to the launcher program before it (damaged); its settings are "
           "ignored";
}

const char* ArchiveDamage(const unsigned char* data, uint64_t size, uint64_t archiveStart, uint64_t archiveLength,
                          char* text, size_t textSize) {
    const uint64_t eocdSize = tvx_layout::kEocdSize;
    if (archiveLength < eocdSize || !Inside(size, archiveStart, archiveLength)) {
        snprintf(text, textSize, "the archive length recorded in the launcher does not fit the file (damaged)");
        return text;
    }
    const uint64_t eocd = archiveStart + archiveLength - eocdSize;
    if (ReadLE32(data + eocd) != tvx_layout::kEocdSignature) {
        snprintf(text, textSize, "no end-of-central-directory record where the archive length places it (damaged)");
        return text;
    }
    const uint64_t declared = ReadLE16(data + eocd + 20);
    const uint64_t comment = size - eocd - eocdSize;
    if (declared != comment) {
        snprintf(text, textSize,
                 "the archive's end record declares a comment of %llu bytes, but %llu bytes follow it (damaged)",
                 static_cast<unsigned long long>(declared), static_cast<unsigned long long>(comment));
        return text;
    }
    Directory dir;
    if (const char* damage = ReadDirectory(data, archiveStart, eocd, &dir, text, textSize)) return damage;
    const uint64_t room = dir.end - archiveStart;
    if (dir.offset > room || dir.size != room - dir.offset) {
        snprintf(text, textSize,
                 "the archive's central directory (offset %llu, %llu bytes) does not end where its end record "
                 "begins (damaged)",
                 static_cast<unsigned long long>(dir.offset), static_cast<unsigned long long>(dir.size));
        return text;
    }
    const uint64_t headerSize = tvx_layout::kCentralHeaderSize;
    const uint64_t localSize = tvx_layout::kLocalHeaderSize;
    uint64_t p = archiveStart + dir.offset;
    for (uint64_t i = 0; i < dir.entries; ++i) {
        if (dir.end - p < headerSize || ReadLE32(data + p) != tvx_layout::kCentralHeaderSignature) {
            snprintf(text, textSize, "central directory entry %llu of %llu: no entry header where the directory places it (damaged)",
                     static_cast<unsigned long long>(i + 1), static_cast<unsigned long long>(dir.entries));
            return text;
        }
        const uint64_t nameLength = ReadLE16(data + p + 28);
        const uint64_t extraLength = ReadLE16(data + p + 30);
        const uint64_t fields = nameLength + extraLength + ReadLE16(data + p + 32);
        if (fields > dir.end - p - headerSize) {
            snprintf(text, textSize,
                     "central directory entry %llu of %llu: its name and fields (%llu bytes) run past the directory "
                     "(damaged)",
                     static_cast<unsigned long long>(i + 1), static_cast<unsigned long long>(dir.entries),
                     static_cast<unsigned long long>(fields));
            return text;
        }
        const unsigned char* name = data + p + headerSize;
        uint64_t local = ReadLE32(data + p + 42);
        if (local == 0xFFFFFFFFu && !Zip64LocalOffset(data + p, name + nameLength, extraLength, &local)) local = ~0ull;
        const uint64_t shown = nameLength < 200 ? nameLength : 200;
        if (local > dir.offset || localSize + nameLength > dir.offset - local ||
            ReadLE32(data + archiveStart + local) != tvx_layout::kLocalHeaderSignature ||
            ReadLE16(data + archiveStart + local + 26) != nameLength ||
            memcmp(data + archiveStart + local + localSize, name, static_cast<size_t>(nameLength)) != 0) {
            snprintf(text, textSize, "entry \"%.*s\": no matching local header where the central directory places it "
                                     "(damaged)",
                     static_cast<int>(shown), reinterpret_cast<const char*>(name));
            return text;
        }
        p += headerSize + fields;
    }
    if (p != dir.end) {
        snprintf(text, textSize,
                 "the archive's central directory holds more than the %llu entries its end record counts (damaged)",
                 static_cast<unsigned long long>(dir.entries));
        return text;
    }
    return nullptr;
}
