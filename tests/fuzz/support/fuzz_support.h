// Small helpers shared by the fuzz harnesses: a private scratch directory,
// whole-file writes, and a check that stops the run with a message.
#ifndef TVX_TESTS_FUZZ_SUPPORT_FUZZ_SUPPORT_H
#define TVX_TESTS_FUZZ_SUPPORT_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace fuzzsupport {

// A directory of this process, made on first use and removed at exit.
const std::string& ScratchDir();

// Writes `size` bytes to `path` (replacing it); aborts when it cannot.
void WriteBytes(const std::string& path, const void* data, size_t size);

// A small launcher image: some bytes with one archive length record in them.
std::string SyntheticImage();

// An empty ZIP archive (its end record alone) with the given comment.
std::string EmptyZip(const std::string& comment = "");

// The input cut at each `separator` byte.
std::vector<std::string> SplitInput(const uint8_t* data, size_t size, char separator);

}  // namespace fuzzsupport

// Stops the run (libFuzzer saves the input) when `condition` is false.
#define FUZZ_CHECK(condition, what) \
    ((condition) ? (void)0 : fuzzsupport::Fail(__FILE__, __LINE__, #condition, what))

namespace fuzzsupport {
[[noreturn]] void Fail(const char* file, int line, const char* condition, const std::string& what);
}

#endif  // TVX_TESTS_FUZZ_SUPPORT_FUZZ_SUPPORT_H
