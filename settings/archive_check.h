// Checks of an executable's appended data beyond its length fields, over the
// bytes of the whole file (`data`, `size` bytes).
#ifndef TVX_SETTINGS_ARCHIVE_CHECK_H
#define TVX_SETTINGS_ARCHIVE_CHECK_H

#include <stddef.h>
#include <stdint.h>

// Why the settings length read just before `remarkEnd` cannot be right: the
// settings, unread blocks and their lengths must lead back exactly to the
// end of the ELF program the file begins with, unless the text begins with a
// byte-order mark (then it is the block it looks like, whatever the unread
// blocks' lengths say). Null when they do, or when the file begins with no
// ELF program (nothing to compare with). The settings length and its text
// must lie inside the file.
const char* SettingsLengthDamage(const unsigned char* data, uint64_t size, uint64_t remarkEnd);

// What is wrong with the application archive of `archiveLength` bytes at
// `archiveStart` (its comment runs to the end of the file), written into
// `text`; null when its end record, ZIP64 records (the locator counting from
// the file's start), central directory and local headers agree.
const char* ArchiveDamage(const unsigned char* data, uint64_t size, uint64_t archiveStart, uint64_t archiveLength,
                          char* text, size_t textSize);

#endif  // TVX_SETTINGS_ARCHIVE_CHECK_H
