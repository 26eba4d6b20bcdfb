// What a Debian package that ships its own Java runtime (/usr/lib/NAME/jre)
// needs: the system libraries the runtime's programs and libraries load, in
// place of a Java runtime package, and the lintian overrides for a runtime
// that is the application's private data rather than a system library.
#ifndef TVX_PACK_DEB_RUNTIME_H
#define TVX_PACK_DEB_RUNTIME_H

#include <string>

namespace tvxpack {

// Raises the libc6 version in `depends` (which starts with the launcher's
// "libc6" or "libc6 (>= X.Y)") to the highest GLIBC_ version any ELF file
// below `jre` names, and appends the packages of the other system libraries
// they load (libstdc++6, libgcc-s1, zlib1g). False with `error` when the
// runtime cannot be read.
bool AddShippedRuntimeDepends(const std::string& jre, std::string* depends, std::string* error);

// The lintian override lines (with their reasons) for the runtime in
// usr/lib/NAME/jre of package `name`.
std::string ShippedRuntimeOverrides(const std::string& name);

// Gives the runtime's files the modes of a package: programs 0755, every
// other file 0644, directories 0755.
void NormaliseRuntimeModes(const std::string& jre);

}  // namespace tvxpack

#endif  // TVX_PACK_DEB_RUNTIME_H
