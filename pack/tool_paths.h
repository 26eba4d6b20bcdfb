// Where tvx-pack finds the launcher image and the helper classes: beside
// itself, in an installed tree (bin/, lib/tvx/<processor>/, share/java/) or
// in a build tree (bin/tvx-launcher, lib/tvx-helpers.jar).
#ifndef TVX_PACK_TOOL_PATHS_H
#define TVX_PACK_TOOL_PATHS_H

#include <string>

namespace tvxpack {

// The processor name used for installed launcher images (x86_64, aarch64,
// armhf, i386) for NAME, which may also be a Debian architecture name
// (amd64, arm64); empty when NAME names none of them.
std::string ProcessorName(const std::string& name);

// The processor tvx-pack itself was built for; empty for one without a
// launcher image.
const char* HostProcessor();

// The processor (x86_64, aarch64, armhf, i386) of an ELF image from its
// first bytes `head` (the identification and e_machine, 20 bytes); "" for
// another processor or bytes that are not an ELF header.
std::string ImageProcessor(const std::string& head);

// The launcher image for `processor` (a name ProcessorName returned) found
// relative to `ownDir`, the directory holding tvx-pack: the installed image
// wins over the build tree's, which only serves the host's processor. Fails
// with one line naming every place tried.
bool FindLauncherImage(const std::string& ownDir, const std::string& processor, std::string* path,
                       std::string* error);

// The jar of the helper classes relative to `ownDir`: installed, else the
// build tree's.
bool FindHelpersJar(const std::string& ownDir, std::string* path, std::string* error);

}  // namespace tvxpack

#endif  // TVX_PACK_TOOL_PATHS_H
