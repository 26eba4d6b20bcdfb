// Helpers shared by the settings readers: a whole-file mapping whose bounds every reader checks before it
// touches a byte, the archive length record, and text conversions.
#ifndef TVX_SETTINGS_SETTINGS_PRIVATE_H
#define TVX_SETTINGS_SETTINGS_PRIVATE_H

#include <stdint.h>

#include "base/my_string.h"
#include "base/platform.h"
#include "settings/layout.h"

// Longest settings text (block or external file) accepted, in bytes; keeps
// every later length, after conversion to UTF-8, inside an int.
constexpr uint32_t kMaxSettingsText = tvx_layout::kMaxSettingsText;

// `path` when given, otherwise the running executable's path.
MyCString ExecutableOrSelf(const char* path);

// A file mapped read-only as a whole; empty (Size 0) when it cannot be
// opened or mapped, or is empty.
class CMappedFile {
public:
    explicit CMappedFile(const char* path);
    ~CMappedFile();
    CMappedFile(const CMappedFile&) = delete;
    CMappedFile& operator=(const CMappedFile&) = delete;

    const unsigned char* Data() const { return m_data; }
    uint64_t Size() const { return m_size; }
    // True when [offset, offset + length) lies inside the file.
    bool Holds(uint64_t offset, uint64_t length) const {
        return offset <= m_size && length <= m_size - offset;
    }

private:
    HANDLE m_file;
    HANDLE m_mapping;
    const unsigned char* m_data;
    uint64_t m_size;
};

// Reads the whole file at `path` (at most `limit` bytes) into `out`; false
// when it cannot be opened, is not a regular file or is larger than
// `limit`. For the last two `refusal` says why (otherwise it is null).
bool ReadWholeFile(const char* path, uint32_t limit, MyCString& out, const char** refusal);
// Why the external configuration file `path` must not be read: it is
// writable by group or others, or belongs to a user other than root and the
// owner of `exePath`. Empty when it may be read.
MyCString ExternalFileDistrust(const char* path, const char* exePath);

// The archive length A from the record of the running image.
uint32_t ArchiveLengthOfSelf();

// The archive length A from the record inside the file image `data`
// (the first occurrence of the record's marker); 0 when there is none.
uint32_t ArchiveLengthInImage(const unsigned char* data, uint64_t size);

// True when the text holds a byte of 0x80 or above.
bool HasHighBytes(const char* text, int length);

// UTF-8 text in the process locale's multibyte encoding; characters the
// locale cannot represent become "?".
MyCString Utf8ToLocale(const char* text, int length);

// Process-locale multibyte text as UTF-8 (conversion stops at text the
// locale cannot decode).
MyCString LocaleToUtf8(const char* text, int length);

#endif  // TVX_SETTINGS_SETTINGS_PRIVATE_H
