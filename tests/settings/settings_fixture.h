// Shared pieces of the settings tests: launcher images, ZIP archives and
// packed executables built with the generator's own layout code, and scoped
// changes of locale and environment.
#ifndef TVX_TESTS_SETTINGS_SETTINGS_FIXTURE_H
#define TVX_TESTS_SETTINGS_SETTINGS_FIXTURE_H

#include <cstdint>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "pack/layout_writer.h"
#include "tests/support/test_support.h"

namespace settingstest {

// The bytes of a launcher string or buffer as a standard string.
inline std::string Str(const CBufferRefT<char>& s) { return std::string(s.GetData(), s.GetLength()); }

// A string literal with every byte, embedded NULs included.
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

// A small image holding one archive length record among other bytes.
std::string SyntheticImage();
// The bytes of the settings probe program (a real linked image).
std::string ProbeImage();
std::string ProbePath();

// A ZIP archive with one stored file of `payloadSize` bytes and the given
// archive comment.
std::string ZipArchive(size_t payloadSize, const std::string& comment = "");

// A layout over `image` with the settings lines (UTF-8 block) and archive.
tvxpack::Layout MakeLayout(const std::string& image, const std::vector<std::string>& lines,
                           const std::string& archive = ZipArchive(100));

// Builds the executable, writes it to `path` (mode 0755) and returns its bytes.
std::string WriteExecutable(const std::string& path, const tvxpack::Layout& layout);

uint32_t ReadLE32At(const std::string& bytes, size_t offset);
void WriteLE32At(std::string& bytes, size_t offset, uint32_t value);

// Offset E just past the settings length field, from the layout's pieces.
size_t ExpectedRemarkEnd(const tvxpack::Layout& layout, size_t executableSize);

// Switches the process locale; restores "C" on destruction.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name);
    ~ScopedLocale();
    bool ok() const { return ok_; }

private:
    bool ok_;
};

// Name of an ISO-8859-1 locale, compiled once into a private directory
// that LOCPATH points at; empty when it cannot be made.
std::string Latin1Locale();

using ScopedEnv = tvxtest::ScopedEnv;

// Runs `fn` with standard output captured and returns what it printed.
std::string CaptureStdout(void (*fn)(void*), void* context);

}  // namespace settingstest

#endif  // TVX_TESTS_SETTINGS_SETTINGS_FIXTURE_H
