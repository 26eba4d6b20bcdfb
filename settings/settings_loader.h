// The launcher's single source of configuration: the settings block appended
// to the executable, merged with an optional external configuration file.
#ifndef TVX_SETTINGS_SETTINGS_LOADER_H
#define TVX_SETTINGS_SETTINGS_LOADER_H

#include "base/my_string.h"

// The archive comment of the running executable (empty when none is found).
class CZipRemark : public CStringBufT<char> {
public:
    CZipRemark();
    // Comment of the file at `path` (used by tests and the generator's inspector).
    explicit CZipRemark(const char* path);
    ~CZipRemark() override;
};

// Cursor over a NUL-terminated text, one line per GetLine.
class CLineReader : public CBufferRefT<char> {
public:
    explicit CLineReader(const char* text) : CBufferRefT<char>(text, 0) {}
    ~CLineReader() override {}
    bool GetLine(MyCString& line);
};

// Copies `length` bytes (at most 100) into one static buffer and returns it;
// with _TOLVANE_BINARY_DEBUG_ set, also dumps them to standard output.
unsigned char* BUFFER_OF(const void* bytes, unsigned length);

class CSettingsLoader : public CStringBufT<char> {
public:
    typedef void (*EnumCallback)(void* context, const char* value);

    explicit CSettingsLoader(bool init);
    // Reads the settings of the executable at `exePath` instead of the
    // running one (tests and the generator's inspector).
    CSettingsLoader(bool init, const char* exePath);
    ~CSettingsLoader() override;

    void Init();
    void CalcZipremEndOffset();
    void AppendInnerRemark();
    static void AppendAsUtf8(CStringBufT<char>& dst, const MyCString& text);

    MyCString EnumLines(const MyCString& key, EnumCallback callback, void* context, bool embeddedOnly,
                        bool localeConversion, const MyCString& prefixFilter);
    MyCString GetCommon(const MyCString& key, bool embeddedOnly = false, bool localeConversion = true);
    MyCString GetStdout();
    MyCString GetStderr();
    MyCString GetForceCwd();
    // All values of `key` (expanded) appended to `out`.
    void GetAll(const char* key, MyCStringArray& out, bool utf8 = false);

    static void EnumCommonCallback(void* context, const char* value);
    static void EnumCommonCallbackUtf8(void* context, const char* value);
    // Expands $VAR, ${VAR} and %VAR% in `text`; with `shellWords`, each
    // value goes in as one single-quoted shell word (for "|command" targets,
    // where a value must stay data).
    static MyCString EnvProcess(const MyCString& text, bool utf8, bool shellWords = false);
    const char* getinternalenv(const char* name);
    MyCString ToAbsolutePath(const MyCString& path);
    void ResetCurDir();
    static bool FileExists(const char* path);

    // Java runtime discovery.
    MyCString GetJvmPath();
    MyCString GetVM();
    MyCString FindLibjvmFile(const char* home);
    MyCString FindJvmFromEnv();
    MyCString FindJvmFromReg(MyCString key);

    // Class path assembly.
    MyCString GetClassPath(bool second);
    static void EnumClassPathCallback(void* context, const char* value);
    static void FindLibJars(const char* directory, MyCString& out);
    // The class path the virtual machine receives: both parts joined, with
    // no empty entry (the runtime would read one as the working directory).
    MyCString GetJoinedClassPath();
    static MyCString JoinClassPath(const char* first, const char* second);

    const MyCString& ExePath() const { return m_exePath; }
    const MyCString& AppHome() const { return m_appHome; }
    const MyCString& CurDir() const { return m_curDir; }
    int ExternalPrefixLength() const { return m_externalLength; }
    int RemarkEndOffset() const { return m_remarkEnd; }
    // One line naming the executable and what is wrong with its application
    // archive (its end records, central directory or local headers); empty
    // when nothing is.
    MyCString ArchiveDamageText() const;
    // The external configuration file that was read ("" when none); its
    // lines are gone again when "disableexternal" discarded it.
    const MyCString& ExternalFile() const { return m_externalFile; }

private:
    // The file the settings are read from.
    MyCString SettingsFile() const;

    int m_externalLength;
    MyCString m_exePath;
    MyCString m_appHome;
    MyCString m_curDir;
    MyCString m_vmName;
    int m_remarkEnd;
    MyCString m_sourcePath;  // file the settings are read from, unless m_readSelf
    bool m_readSelf;         // true: the running executable
    MyCString m_externalFile;
};

// The value of a settings line that carries `key` (line syntax of the
// settings block), or null when the line carries another key or none.
const char* ValueOfSettingsLine(const char* line, const char* key);

// The process's loader, set by main.
extern CSettingsLoader* pldr;

#endif  // TVX_SETTINGS_SETTINGS_LOADER_H
