// Building the settings buffer: the external configuration file beside the
// executable, then the settings block appended to the executable.
#include <limits.h>
#include <string.h>

#include "base/diagnostic.h"
#include "base/text_convert.h"
#include "settings/archive_check.h"
#include "settings/layout.h"
#include "settings/settings_loader.h"
#include "settings/settings_private.h"

CSettingsLoader* pldr = nullptr;

namespace {

const char* const kExternalSuffixes[] = {".cfg", ".config"};

// Index just past the last "/" or "\\" of `path`, 0 when it has neither.
int DirectoryLength(const MyCString& path) {
    for (int i = path.GetLength(); i > 0; --i)
        if (path[i - 1] == '/' || path[i - 1] == '\\') return i;
    return 0;
}

// Where the path's extension begins: its last "." when that comes after the
// last "/", else the end of the path.
int ExtensionStart(const MyCString& path) {
    const char* dot = strrchr(path, '.');
    const char* slash = strrchr(path, '/');
    if (dot && (!slash || dot > slash)) return static_cast<int>(dot - path.c_str());
    return path.GetLength();
}

bool IsUtf8Mark(const MyCString& t) {
    return t.GetLength() >= 3 && static_cast<unsigned char>(t[0]) == 0xEF &&
           static_cast<unsigned char>(t[1]) == 0xBB && static_cast<unsigned char>(t[2]) == 0xBF;
}

// 1 for FF FE (little-endian), 2 for FE FF (big-endian), 0 otherwise.
int Utf16Mark(const MyCString& t) {
    if (t.GetLength() < 2) return 0;
    unsigned char b0 = static_cast<unsigned char>(t[0]);
    unsigned char b1 = static_cast<unsigned char>(t[1]);
    if (b0 == 0xFF && b1 == 0xFE) return 1;
    if (b0 == 0xFE && b1 == 0xFF) return 2;
    return 0;
}

// A NUL in the external file would end the combined settings text there
// and hide every later line, the settings block's included: each zero byte
// (each zero code unit of UTF-16 text) becomes a line end instead.
void NulsToLineEnds(MyCString& text) {
    char* bytes = text.GetBuffer();
    const int size = text.GetLength();
    const int mark = Utf16Mark(text);
    if (mark == 0) {
        for (int i = 0; i < size; ++i)
            if (bytes[i] == '\0') bytes[i] = '\n';
        return;
    }
    const int low = mark == 1 ? 0 : 1;  // byte that holds the unit's low half
    for (int i = 2; i + 1 < size; i += 2)
        if (bytes[i] == '\0' && bytes[i + 1] == '\0') bytes[i + low] = '\n';
}

// One line naming the executable and what is wrong with its appended data;
// the launch goes on without the settings and reports its usual result.
void ReportDamage(const MyCString& file, const char* what) { SayWarning("%s: %s", file.c_str(), what); }

void AppendWideAsUtf8(CStringBufT<char>& dst, const wchar_t* wide) {
    Utf8String utf8(wide);
    dst.Append(utf8.GetData(), utf8.GetLength());
}

// Appends the external configuration file beside `exePath`, decoded: the
// first candidate that exists and can be read, in the order P.cfg,
// P.config, then the same with P's extension replaced. A first candidate
// that others could have written ends the search; `refusal` says why.
// Returns the path of the file read.
MyCString AppendExternalConfiguration(CStringBufT<char>& dst, const MyCString& exePath, MyCString& refusal) {
    if (exePath.IsEmpty()) return MyCString();
    MyCString stem(exePath.GetData(), ExtensionStart(exePath));
    const MyCString* bases[] = {&exePath, &stem};
    for (const MyCString* base : bases) {
        for (const char* suffix : kExternalSuffixes) {
            MyCString candidate(*base);
            candidate += suffix;
            MyCString text;
            if (!CSettingsLoader::FileExists(candidate)) continue;
            refusal = ExternalFileDistrust(candidate, exePath);
            if (!refusal.IsEmpty()) return MyCString();
            const char* unusable = nullptr;
            if (ReadWholeFile(candidate, kMaxSettingsText, text, &unusable)) {
                NulsToLineEnds(text);
                CSettingsLoader::AppendAsUtf8(dst, text);
                return candidate;
            }
            // Named, then passed over as if absent.
            if (unusable) SayWarning("%s: %s, ignored", candidate.c_str(), unusable);
        }
    }
    return MyCString();
}

}  // namespace

CSettingsLoader::CSettingsLoader(bool init) : CSettingsLoader(init, nullptr) {}

CSettingsLoader::CSettingsLoader(bool init, const char* exePath)
    : CStringBufT<char>(),
      m_externalLength(0),
      m_remarkEnd(0),
      m_sourcePath(exePath),
      m_readSelf(!exePath) {
    if (init) Init();
}

CSettingsLoader::~CSettingsLoader() {}

void CSettingsLoader::Init() {
    Empty();
    m_externalLength = 0;

    CalcZipremEndOffset();
    ResetCurDir();
    m_exePath = SettingsFile();
    m_appHome.Assign(m_exePath.GetData(), DirectoryLength(m_exePath));

    MyCString refusal;
    m_externalFile = AppendExternalConfiguration(*this, m_exePath, refusal);
    if (GetLength() > 0) Append("\r\n", 2);
    m_externalLength = GetLength();

    AppendInnerRemark();

    // Only the settings block can discard the external file.
    if (GetCommon("disableexternal", true, true).CompareNoCase("true") == 0) {
        Delete(0, m_externalLength);
        m_externalLength = 0;
    } else if (!refusal.IsEmpty()) {
        SayLine(refusal);
    }
}

MyCString CSettingsLoader::SettingsFile() const {
    return m_readSelf ? ModuleFilePath() : m_sourcePath;
}

void CSettingsLoader::CalcZipremEndOffset() {
    m_remarkEnd = 0;
    MyCString file = SettingsFile();
    CMappedFile image(file);
    const uint32_t archive =
        m_readSelf ? ArchiveLengthOfSelf() : ArchiveLengthInImage(image.Data(), image.Size());
    // A record never patched: nothing was appended to this image.
    if (archive == 0) return;

    const uint64_t size = image.Size();
    CZipRemark remark(file);
    const uint64_t tail = static_cast<uint64_t>(archive) + static_cast<uint64_t>(remark.GetLength()) +
                          tvx_layout::kOpaqueSize;
    // 0 stands for "no settings": the length field needs the 4 bytes before E.
    const uint64_t end = tail <= size ? size - tail : 0;
    if (end < static_cast<uint64_t>(tvx_layout::kLengthFieldSize) || end > static_cast<uint64_t>(INT_MAX)) {
        ReportDamage(file, "the archive length recorded in the launcher does not fit the file (truncated?)");
        return;
    }
    // Lengths that do not describe this file (a truncated or altered file)
    // do not land on the archive's first record.
    const uint64_t archiveStart = end + tvx_layout::kOpaqueSize;
    if (!image.Holds(archiveStart, 4) || !tvx_layout::IsArchiveStart(tvx_layout::ReadLE32(image.Data() + archiveStart))) {
        ReportDamage(file, "no ZIP archive where the appended data places it (truncated or altered)");
        return;
    }
    m_remarkEnd = static_cast<int>(end);
}

void CSettingsLoader::AppendInnerRemark() {
    if (m_remarkEnd < tvx_layout::kLengthFieldSize) return;
    MyCString file = SettingsFile();
    CMappedFile image(file);
    const uint64_t lengthField = static_cast<uint64_t>(m_remarkEnd) - tvx_layout::kLengthFieldSize;
    if (!image.Holds(lengthField, tvx_layout::kLengthFieldSize)) return;
    const uint32_t length = tvx_layout::ReadLE32(image.Data() + lengthField);
    if (length > kMaxSettingsText) {
        ReportDamage(file, "the settings block is over the 64 MiB limit; its settings are ignored");
        return;
    }
    if (length > lengthField) {
        ReportDamage(file, "the settings length is larger than the data before it (damaged)");
        return;
    }
    if (const char* damage = SettingsLengthDamage(image.Data(), image.Size(), static_cast<uint64_t>(m_remarkEnd))) {
        ReportDamage(file, damage);
        return;
    }

    // The text up to its first NUL; the rest of the T bytes stay NUL.
    const char* text = reinterpret_cast<const char*>(image.Data() + lengthField - length);
    const void* nul = memchr(text, '\0', length);
    const int used = nul ? static_cast<int>(static_cast<const char*>(nul) - text) : static_cast<int>(length);
    MyCString block;
    block.SetSize(static_cast<int>(length));
    memcpy(block.Data(), text, static_cast<size_t>(used));
    memset(block.Data() + used, 0, length - static_cast<size_t>(used));
    AppendAsUtf8(*this, block);
}

MyCString CSettingsLoader::ArchiveDamageText() const {
    MyCString line;
    if (m_remarkEnd < tvx_layout::kLengthFieldSize) return line;  // no archive found, and said so
    MyCString file = SettingsFile();
    CMappedFile image(file);
    const uint32_t archive =
        m_readSelf ? ArchiveLengthOfSelf() : ArchiveLengthInImage(image.Data(), image.Size());
    char text[512];
    const uint64_t archiveStart = static_cast<uint64_t>(m_remarkEnd) + tvx_layout::kOpaqueSize;
    if (const char* damage = ArchiveDamage(image.Data(), image.Size(), archiveStart, archive, text, sizeof text))
        line.Format("%s: %s", file.c_str(), damage);
    return line;
}

void CSettingsLoader::AppendAsUtf8(CStringBufT<char>& dst, const MyCString& text) {
    if (IsUtf8Mark(text)) {
        dst.Append(text.GetData() + 3, text.GetLength() - 3);
        return;
    }
    if (int mark = Utf16Mark(text)) {
        const int count = (text.GetLength() - 2) / 2;
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text.GetData()) + 2;
        CStringBufT<unsigned short> units;
        units.SetSize(count);
        for (int i = 0; i < count; ++i) {
            unsigned lo = bytes[2 * i], hi = bytes[2 * i + 1];
            if (mark == 2) {
                unsigned swap = lo;
                lo = hi;
                hi = swap;
            }
            units[i] = static_cast<unsigned short>(lo | (hi << 8));
        }
        UnicodeString wide(units.GetData(), count);
        AppendWideAsUtf8(dst, wide.GetData());
        return;
    }
    UnicodeString wide(text.GetData(), text.GetLength());
    AppendWideAsUtf8(dst, wide.GetData());
}
