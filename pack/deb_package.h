// Writing a Debian binary package around a packed executable: the file
// tree, its control data and maintainer scripts, assembled with dpkg-deb.
#ifndef TVX_PACK_DEB_PACKAGE_H
#define TVX_PACK_DEB_PACKAGE_H

#include <string>
#include <vector>

#include "pack/packer.h"
#include "pack/runtime_image.h"

namespace tvxpack {

struct DebRequest {
    std::string name;         // package name; "" takes the output's base name
    std::string version;      // required
    std::string maintainer;   // "" takes a default
    std::string description;  // "" takes a default
    std::string section;      // "" takes "misc"
    bool service = false;     // also a systemd service with its own user
    LinkedRuntime* runtime = nullptr;  // shipped in /usr/lib/NAME/jre instead of a runtime dependency
};

// Debian's rules for a package name: lower-case letters, digits, "+", "-",
// "." only, at least two characters, starting with a letter or digit.
bool ValidDebianName(const std::string& name);
// [epoch:]upstream[-revision] as dpkg accepts it: the epoch digits, the
// upstream part starting with a digit, allowed characters only.
bool ValidDebianVersion(const std::string& version);

// The Debian architecture of a processor name (x86_64 -> amd64); "" for none.
std::string DebianArchitecture(const std::string& processor);

// The runtime dependency for the Java range of the settings lines (minjre,
// maxjre), as Debian's runtime packages name it.
std::string RuntimeDepends(const std::vector<std::string>& settingsLines);

// The C library dependency of a launcher image: libc6 at the highest GLIBC_
// symbol version the image names ("libc6" when it names none).
std::string LibcDepends(const std::string& imagePath, std::string* error);

// The default package name for an output path: its base name without ".deb"
// and without a "_version_arch" tail.
std::string DefaultDebName(const std::string& output);

// Fills defaults and checks the request; false with one line in `error`.
bool CheckDebRequest(DebRequest* deb, const PackRequest& pack, std::string* error);

// Packs the executable into a staging tree and writes the package to
// pack.output (through a temporary file renamed when complete). `processor`
// names the launcher image's processor.
bool WriteDebPackage(const DebRequest& deb, const PackRequest& pack, const std::string& processor,
                     std::string* error);

// True when `path` starts like a Debian package (an ar archive).
bool LooksLikeDeb(const std::string& path);

// Prints the package's control fields, then extracts it into a temporary
// directory and calls `inspect` on every executable under usr/lib/<Package>/;
// false with one line in `error` when dpkg-deb cannot read it.
bool InspectDeb(const std::string& path, int (*inspect)(const std::string& shownAs, const std::string& file),
                std::string* error);

}  // namespace tvxpack

#endif  // TVX_PACK_DEB_PACKAGE_H
