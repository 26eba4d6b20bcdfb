// Release files and version ranges, read before a runtime is chosen so that
// the search can pass over runtimes the bounds refuse.
#include "settings/runtime_release.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

namespace {

// How many directories above the library are looked at for a release file
// (lib/server/libjvm.so lies two below the home; older layouts three or four).
const int kReleaseSearchDepth = 5;
// The most bytes of a release file that are read.
const size_t kReleaseReadLimit = 8191;

// Up to four numbers of a version text such as "1.8.0_292"; returns how many
// were read. The separators are kept in buffers as long as the text itself,
// so no run of non-digits can overflow them.
int ParseVersion(const char* text, int numbers[4]) {
    numbers[0] = numbers[1] = numbers[2] = numbers[3] = 0;
    if (!text) return 0;
    int room = static_cast<int>(strlen(text)) + 1;
    CBufferT<char> sep;
    sep.SetSize(room * 3);
    char* s = sep.Data();
    int fields = sscanf(text, "%d%[^0-9]%d%[^0-9]%d%[^0-9]%d", &numbers[0], s, &numbers[1], s + room, &numbers[2],
                        s + 2 * room, &numbers[3]);
    return (fields + 1) / 2;
}

// Sign of the first difference between the first `n` numbers of a and b.
int CompareVersions(const int a[4], const int b[4], int n) {
    for (int i = 0; i < n; ++i) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

// Reads up to `size` - 1 bytes of a small file and ends them with a NUL;
// the number read, or -1 when the file cannot be read. O_NONBLOCK: a FIFO
// planted there cannot hold the start.
ssize_t ReadSmallFile(const char* path, char* buffer, size_t size) {
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    ssize_t n = read(fd, buffer, size - 1);
    close(fd);
    if (n < 0) return -1;
    buffer[n] = '\0';
    return n;
}

}  // namespace

MyCString ReleaseVersion(const char* bytes, size_t size) {
    const char* const end = bytes + strnlen(bytes, size);  // a NUL ends the text
    static const char kKey[] = "JAVA_VERSION=\"";
    const size_t keyLength = sizeof kKey - 1;
    for (const char* line = bytes; line < end;) {
        if (static_cast<size_t>(end - line) >= keyLength && memcmp(line, kKey, keyLength) == 0) {
            const char* value = line + keyLength;
            const char* stop = value;
            while (stop < end && *stop != '"' && *stop != '\n' && *stop != '\r') ++stop;
            return MyCString(value, static_cast<int>(stop - value));
        }
        const void* newline = memchr(line, '\n', static_cast<size_t>(end - line));
        if (!newline) break;
        line = static_cast<const char*>(newline) + 1;
    }
    return MyCString();
}

MyCString RuntimeReleaseVersion(const char* jvmPath) {
    MyCString dir(jvmPath ? jvmPath : "");
    for (int up = 0; up < kReleaseSearchDepth; ++up) {
        const char* slash = strrchr(dir, '/');
        if (!slash) return MyCString();
        dir.SetSize(static_cast<int>(slash - dir.c_str()));
        MyCString release(dir);
        release += "/release";
        char text[kReleaseReadLimit + 1];
        const ssize_t length = ReadSmallFile(release, text, sizeof text);
        if (length >= 0) return ReleaseVersion(text, static_cast<size_t>(length));
    }
    return MyCString();
}

int CheckVersionRange(const char* version, const char* minVersion, const char* maxVersion) {
    int v[4], lo[4], hi[4];
    int nV = ParseVersion(version, v);
    int nL = ParseVersion(minVersion, lo);
    int nH = ParseVersion(maxVersion, hi);
    int n = nL < nV ? nL : nV;
    if (n >= 1 && CompareVersions(v, lo, n) < 0) return -1;
    n = nH < nV ? nH : nV;
    if (n >= 1 && CompareVersions(v, hi, n) > 0) return 1;
    return 0;
}

int CompareVersionTexts(const char* a, const char* b) {
    int x[4], y[4];
    ParseVersion(a, x);
    ParseVersion(b, y);
    return CompareVersions(x, y, 4);
}
