#include "pack/packer.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "pack/archive_writer.h"
#include "pack/file_io.h"
#include "pack/layout_writer.h"
#include "pack/settings_text.h"
#include "settings/layout.h"

namespace tvxpack {

namespace {

// Path of the temporary file being written, for the interrupt handler.
char g_tempPath[PATH_MAX + 64];

void OnInterrupt(int sig) {
    if (g_tempPath[0] != '\0') unlink(g_tempPath);
    signal(sig, SIG_DFL);
    raise(sig);
}

// The temporary output: removed on destruction unless committed.
class TempOutput {
public:
    ~TempOutput() { Discard(); }

    bool Create(const std::string& output, std::string* error) {
        size_t slash = output.rfind('/');
        std::string dir = slash == std::string::npos ? "." : output.substr(0, slash == 0 ? 1 : slash);
        std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
        path_ = dir + "/." + base + ".tvx-pack-XXXXXX";
        if (path_.size() >= sizeof g_tempPath) {
            *error = "cannot write " + output + ": path too long";
            return false;
        }
        // Block interrupts while the handler's path is set up.
        sigset_t all, old;
        sigfillset(&all);
        sigprocmask(SIG_BLOCK, &all, &old);
        fd_ = mkostemp(&path_[0], O_CLOEXEC);
        if (fd_ >= 0) memcpy(g_tempPath, path_.c_str(), path_.size() + 1);
        int saved = errno;
        sigprocmask(SIG_SETMASK, &old, nullptr);
        if (fd_ < 0) {
            *error = "cannot write " + output + ": " + strerror(saved);
            return false;
        }
        return true;
    }

    int fd() const { return fd_; }

    bool Commit(const std::string& output, std::string* error) {
        if (fchmod(fd_, 0755) != 0 || close(fd_) != 0) {
            *error = "cannot write " + output + ": " + strerror(errno);
            fd_ = -1;
            return false;
        }
        fd_ = -1;
        if (rename(path_.c_str(), output.c_str()) != 0) {
            *error = "cannot write " + output + ": " + strerror(errno);
            return false;
        }
        path_.clear();
        g_tempPath[0] = '\0';
        return true;
    }

    void Discard() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        if (!path_.empty()) unlink(path_.c_str());
        path_.clear();
        g_tempPath[0] = '\0';
    }

private:
    std::string path_;
    int fd_ = -1;
};

std::string Errno(const std::string& what) { return what + ": " + strerror(errno); }

bool ReadSettingsFile(const std::string& path, std::vector<std::string>* lines, std::string* error) {
    std::string content;
    if (!ReadWholeFile(path, &content, error)) return false;
    if (!SplitSettingsFile(content, lines, error)) {
        *error = "settings file " + path + ": " + *error;
        return false;
    }
    return true;
}

// The output replaces only a regular file, and never one of the inputs
// (the new file is renamed over it, so an input would be lost).
bool CheckOutputPath(const PackRequest& request, std::string* error) {
    const std::string& output = request.output;
    struct stat st;
    if (stat(output.c_str(), &st) != 0) return true;
    if (S_ISDIR(st.st_mode)) {
        *error = "cannot write " + output + ": it is a directory";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = "cannot write " + output + ": not a regular file (only a regular file is replaced)";
        return false;
    }
    for (const std::string* input : {&request.jar, &request.settingsFile, &request.launcher, &request.helpersJar}) {
        struct stat in;
        if (input->empty() || stat(input->c_str(), &in) != 0) continue;
        if (in.st_dev == st.st_dev && in.st_ino == st.st_ino) {
            *error = "cannot write " + output + ": it is also an input (" + *input + ")";
            return false;
        }
    }
    return true;
}

// Verifies that the launcher will find the comment the archive declares,
// and returns its length.
bool CheckComment(int fd, uint64_t fileSize, uint64_t archiveLength, uint64_t* comment, std::string* error) {
    std::string tail(static_cast<size_t>(std::min(archiveLength, kMaxZipTail)), '\0');
    if (!ReadAt(fd, &tail[0], tail.size(), fileSize - tail.size())) {
        *error = Errno("cannot read back the archive");
        return false;
    }
    long declared = DeclaredCommentLength(tail);
    long seen = LauncherCommentLength(tail, fileSize);
    if (declared < 0) {
        *error = "the written archive has no end-of-central-directory record";
        return false;
    }
    if (seen != declared) {
        *error = seen < 0 ? "the jar's comment (" + std::to_string(declared) +
                                " bytes) is longer than the launcher searches for it"
                          : "the jar's comment holds a ZIP end-record signature (PK\\5\\6); the launcher "
                            "would misplace its settings";
        return false;
    }
    *comment = static_cast<uint64_t>(declared);
    return true;
}

// The settings lines of the request, with the jar's manifest at hand.
bool ComposeWith(const PackRequest& request, AppArchive& archive, std::vector<std::string>* lines,
                 std::string* error) {
    SettingsSources sources;
    sources.hasMain = request.hasMain;
    sources.mainClass = request.mainClass;
    sources.setLines = request.setLines;
    sources.startupCache = request.startupCache;
    if (!request.settingsFile.empty() && !ReadSettingsFile(request.settingsFile, &sources.fileLines, error))
        return false;
    if (WantsManifestMainClass(sources) && !archive.ManifestMainClass(&sources.manifestMainClass, error))
        return false;
    return ComposeSettings(sources, lines, error);
}

}  // namespace

bool ComposeRequestSettings(const PackRequest& request, std::vector<std::string>* lines, std::string* error) {
    AppArchive archive;
    return archive.Open(request.jar, error) && ComposeWith(request, archive, lines, error);
}

void InstallInterruptCleanup() {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

bool PackExecutable(const PackRequest& request, PackResult* result, std::string* error) {
    AppArchive archive;
    if (!archive.Open(request.jar, error)) return false;
    if (!ComposeWith(request, archive, &result->settingsLines, error)) return false;

    Layout layout;
    if (!ReadWholeFile(request.launcher, &layout.image, error)) {
        *error = "launcher image: " + *error;
        return false;
    }
    long record = FindLengthRecord(layout.image);
    if (record < 0) {
        *error = "launcher image " + request.launcher + " holds no archive length record (or more than one)";
        return false;
    }
    layout.settings = EncodeSettingsBlock(result->settingsLines);
    if (layout.settings.size() > tvx_layout::kMaxSettingsText) {
        *error = "the settings block would be " + std::to_string(layout.settings.size()) +
                 " bytes; the launcher ignores a block over " + std::to_string(tvx_layout::kMaxSettingsText) +
                 " bytes (64 MiB)";
        return false;
    }
    const std::string header = AppendedHeader(layout);

    if (!archive.AddHelperClasses(request.helpersJar, &result->addedClasses, error)) return false;
    const uint64_t base = layout.image.size() + header.size();
    if (archive.MinimumSize() > kMaxPieceSize) {
        *error = request.jar + ": the archive would be 4 GiB or larger (its length field is 32 bits)";
        return false;
    }
    if (base + archive.MinimumSize() > kMaxPieceSize) {
        *error = "the executable would be 4 GiB or larger (the launcher reads 32-bit sizes)";
        return false;
    }

    if (!CheckOutputPath(request, error)) return false;
    TempOutput temp;
    if (!temp.Create(request.output, error)) return false;
    if (!WriteAt(temp.fd(), layout.image.data(), layout.image.size(), 0) ||
        !WriteAt(temp.fd(), header.data(), header.size(), layout.image.size())) {
        *error = Errno("cannot write " + request.output);
        return false;
    }
    uint64_t archiveTotal = 0;
    if (!archive.WriteTo(temp.fd(), base, &archiveTotal, error)) return false;
    const uint64_t fileSize = base + archiveTotal;
    uint64_t comment = 0;
    if (!CheckComment(temp.fd(), fileSize, archiveTotal, &comment, error)) return false;
    const uint64_t archiveLength = archiveTotal - comment;
    auto readBack = [&temp](uint64_t at, uint64_t n, unsigned char* to) { return ReadAt(temp.fd(), to, n, at); };
    auto writeBack = [&temp](uint64_t at, const unsigned char* from, uint64_t n) {
        return WriteAt(temp.fd(), from, n, at);
    };
    if (!RebaseZip64Locator(base, base + archiveLength - tvx_layout::kEocdSize, readBack, writeBack)) {
        *error = Errno("cannot rewrite the archive's ZIP64 locator in " + request.output);
        return false;
    }
    if (archiveLength > kMaxPieceSize) {
        *error = request.jar + ": the archive is 4 GiB or larger (its length field is 32 bits)";
        return false;
    }
    if (fileSize > kMaxPieceSize) {
        *error = "the executable would be 4 GiB or larger (the launcher reads 32-bit sizes)";
        return false;
    }
    unsigned char a[4];
    tvx_layout::WriteLE32(a, static_cast<uint32_t>(archiveLength));
    if (!WriteAt(temp.fd(), a, sizeof a, static_cast<uint64_t>(record))) {
        *error = Errno("cannot write " + request.output);
        return false;
    }
    if (!temp.Commit(request.output, error)) return false;
    result->fileSize = fileSize;
    result->archiveLength = archiveLength;
    result->commentLength = comment;
    return true;
}

}  // namespace tvxpack
