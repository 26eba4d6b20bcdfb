// What a Java runtime says about itself before it is loaded: the version
// named by the "release" file of its home, and how versions compare with the
// "minjre" / "maxjre" bounds.
#ifndef TVX_SETTINGS_RUNTIME_RELEASE_H
#define TVX_SETTINGS_RUNTIME_RELEASE_H

#include <stddef.h>

#include "base/my_string.h"

// The version text a release file's `size` bytes name in their
// JAVA_VERSION="..." line ("17.0.2", "1.8.0_292"): the bytes after the
// opening quote up to the closing quote, the line's end or the text's end (a
// NUL ends the text); "" when no line names one.
MyCString ReleaseVersion(const char* bytes, size_t size);

// The version named by the release file of the runtime whose library is
// `jvmPath`: the nearest of the directories above the library that holds a
// "release" file; "" when none does or it names no version.
MyCString RuntimeReleaseVersion(const char* jvmPath);

// -1: version below the minimum, 1: above the maximum, 0: accepted. A bound
// that is empty or null does not limit; versions compare number by number,
// as many numbers as both texts have.
int CheckVersionRange(const char* version, const char* minVersion, const char* maxVersion);

// Sign of the first difference between the numbers of two version texts
// (up to four numbers each; missing ones count as 0).
int CompareVersionTexts(const char* a, const char* b);

#endif  // TVX_SETTINGS_RUNTIME_RELEASE_H
