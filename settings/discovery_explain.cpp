// Explain-mode reports of the runtime search. The search itself accepts any
// readable library file; these reports also say when the file found is not a
// library for this processor, which the later load then fails on.
#include "settings/discovery_explain.h"

#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

#include "base/explain.h"
#include "settings/settings_loader.h"

namespace {

#if defined(__x86_64__)
const unsigned kMachine = EM_X86_64;
const unsigned char kClass = ELFCLASS64;
#elif defined(__i386__)
const unsigned kMachine = EM_386;
const unsigned char kClass = ELFCLASS32;
#elif defined(__aarch64__)
const unsigned kMachine = EM_AARCH64;
const unsigned char kClass = ELFCLASS64;
#elif defined(__arm__)
const unsigned kMachine = EM_ARM;
const unsigned char kClass = ELFCLASS32;
#endif

}  // namespace

MyCString LibraryMismatch(const char* path) {
    unsigned char header[20];
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    ssize_t n = fd >= 0 ? read(fd, header, sizeof header) : -1;
    if (fd >= 0) close(fd);
    MyCString why;
    if (n != static_cast<ssize_t>(sizeof header) || header[0] != ELFMAG0 || header[1] != ELFMAG1 ||
        header[2] != ELFMAG2 || header[3] != ELFMAG3) {
        why = "not a runtime: not an ELF library";
        return why;
    }
    // e_machine follows e_ident (16 bytes) and e_type (2), in the file's byte order.
    const bool little = header[EI_DATA] == ELFDATA2LSB;
    const unsigned machine = little ? header[18] | (header[19] << 8) : (header[18] << 8) | header[19];
    if (machine != kMachine || header[EI_CLASS] != kClass)
        why.Format("wrong processor: ELF machine %u, class %u; this launcher needs machine %u, class %u", machine,
                   header[EI_CLASS], kMachine, kClass);
    return why;
}

void ExplainRuntimeSource(const char* source, const char* probed, const MyCString& found) {
    if (!found.IsEmpty()) {
        MyCString mismatch = LibraryMismatch(found);
        if (mismatch.IsEmpty())
            CExplain::Fact("runtime source %s: %s: accepted, library %s", source, probed, found.c_str());
        else
            CExplain::Fact("runtime source %s: %s: accepted, library %s, but %s (loading it will fail)", source,
                           probed, found.c_str(), mismatch.c_str());
    } else if (!CSettingsLoader::FileExists(probed)) {
        CExplain::Fact("runtime source %s: %s: refused, missing", source, probed);
    } else {
        CExplain::Fact("runtime source %s: %s: refused, not a runtime (no libjvm.so in its layouts)", source,
                       probed);
    }
}
