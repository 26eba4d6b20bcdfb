// The startup cache's stamp file, which decides whether an archive may be
// handed to the runtime. The input's first 32 bytes are what stat says about
// an archive (size, inode, modification time), the rest a stamp file's
// bytes. A stamp is accepted exactly when its bytes are the ones the writer
// writes for that archive; the written stamp of one stat is accepted for
// another only when all four fields agree; and on disk, a stamp written for
// a real archive is accepted while any other stamp file's bytes are not.
// The same bytes, as an archive's source file (the executable's and the
// runtime library's paths), are accepted exactly when they are two absolute
// paths each ended by a NUL, and a source file written from those paths
// holds those bytes again.
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "launch/cache_upkeep.h"
#include "launch/startup_cache.h"
#include "tests/fuzz/support/fuzz_support.h"

namespace {

const size_t kStatBytes = 32;

struct Fields {
    uint64_t size, inode, seconds, nanoseconds;
};

struct stat StatOf(const Fields& f) {
    struct stat st;
    memset(&st, 0, sizeof st);
    st.st_size = static_cast<off_t>(f.size);
    st.st_ino = static_cast<ino_t>(f.inode);
    st.st_mtim.tv_sec = static_cast<time_t>(f.seconds);
    st.st_mtim.tv_nsec = static_cast<long>(f.nanoseconds);
    return st;
}

std::string Text(const MyCString& s) { return std::string(s.GetData(), static_cast<size_t>(s.GetLength())); }

// An archive in the scratch directory (its size from the input), its stamp
// written, then replaced by the input's bytes.
void CheckOnDisk(const std::string& stampBytes) {
    static const std::string archive = fuzzsupport::ScratchDir() + "/app-0-0-0.jsa";
    const std::string contents = "x" + stampBytes;
    fuzzsupport::WriteBytes(archive, contents.data(), contents.size());
    FUZZ_CHECK(startup_cache::WriteStamp(archive.c_str()), "writing the stamp of " + archive);
    FUZZ_CHECK(startup_cache::ArchiveIsIntact(archive.c_str()), "the stamp just written is refused");

    struct stat st;
    FUZZ_CHECK(stat(archive.c_str(), &st) == 0, "stat " + archive);
    const bool same = stampBytes == Text(startup_cache::StampOf(st));
    fuzzsupport::WriteBytes(archive + ".ok", stampBytes.data(), stampBytes.size());
    FUZZ_CHECK(startup_cache::ArchiveIsIntact(archive.c_str()) == same,
               same ? "the written stamp's bytes refused" : "foreign stamp accepted: " + stampBytes);
}

// The source file's rule, said another way: split at NULs, exactly two
// pieces and nothing after the last NUL, each piece starting with "/".
bool SourceAcceptable(const std::string& bytes) {
    if (bytes.empty() || bytes.back() != '\0') return false;
    const size_t first = bytes.find('\0');
    if (first + 1 == bytes.size()) return false;
    const size_t second = bytes.find('\0', first + 1);
    return second + 1 == bytes.size() && bytes[0] == '/' && bytes[first + 1] == '/';
}

void CheckSource(const std::string& bytes, bool onDisk) {
    const char* exe = nullptr;
    const char* jvm = nullptr;
    const bool accepted = startup_cache::ParseSource(bytes.data(), bytes.size(), &exe, &jvm);
    FUZZ_CHECK(accepted == SourceAcceptable(bytes), accepted ? "a malformed source file accepted" : "a source file refused");
    if (!accepted || !onDisk) return;
    FUZZ_CHECK(exe == bytes.data() && jvm == bytes.data() + strlen(exe) + 1, "the paths do not point into the bytes");
    static const std::string dir = fuzzsupport::ScratchDir();
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "open " + dir);
    FUZZ_CHECK(startup_cache::WriteSourceAt(fd, "app-0-0-0.jsa", exe, jvm), "writing a source file");
    close(fd);
    std::ifstream in(dir + "/app-0-0-0.jsa.src", std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FUZZ_CHECK(written == bytes, "the written source file differs");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kStatBytes) return 0;
    Fields a;
    memcpy(&a, data, sizeof a);
    const struct stat st = StatOf(a);
    const std::string stampBytes(reinterpret_cast<const char*>(data) + kStatBytes, size - kStatBytes);
    const std::string written = Text(startup_cache::StampOf(st));

    FUZZ_CHECK(startup_cache::StampMatches(st, written.data(), written.size()), "round trip refused: " + written);
    const bool same = stampBytes == written;
    FUZZ_CHECK(startup_cache::StampMatches(st, stampBytes.data(), stampBytes.size()) == same,
               same ? "the written stamp refused" : "foreign stamp accepted: " + stampBytes + " for " + written);

    // Another stat: each field kept or changed as the stamp's first bytes say.
    if (stampBytes.size() >= 5) {
        Fields b = a;
        uint64_t* fields[] = {&b.size, &b.inode, &b.seconds, &b.nanoseconds};
        for (size_t i = 0; i < 4; ++i)
            if ((stampBytes[0] >> i) & 1) *fields[i] += static_cast<unsigned char>(stampBytes[i + 1]);
        const bool equal = memcmp(&a, &b, sizeof a) == 0;
        FUZZ_CHECK(startup_cache::StampMatches(StatOf(b), written.data(), written.size()) == equal,
                   equal ? "same fields refused" : "the stamp of other fields accepted: " + written);
    }

    // Files are slow: one input in four, by its first byte.
    if (data[0] % 4 == 0) CheckOnDisk(stampBytes);
    CheckSource(stampBytes, data[0] % 4 == 1);
    return 0;
}
