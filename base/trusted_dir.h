// Directories only this user (and root) can change: what the launcher keeps
// there (the startup cache, the single-instance locks) nobody else can swap
// or plant.
#ifndef TVX_BASE_TRUSTED_DIR_H
#define TVX_BASE_TRUSTED_DIR_H

#include "base/my_string.h"

// Opens the directory `path`, creating what is missing (mode 0700), walking
// from the root one directory at a time without following links (links in
// the part that exists are resolved first, and the real path is walked).
// Every directory on the way must belong to root or this user and be
// writable by nobody else, except that a sticky directory of root's (/tmp)
// may hold one of ours; the last one must be this user's alone. Returns the
// held descriptor, or -1 with `why` set to one line's reason. With `create`
// false nothing is made: a missing directory is such a reason too.
int OpenTrustedDirectory(const MyCString& path, MyCString* why, bool create = true);

#endif  // TVX_BASE_TRUSTED_DIR_H
