// Directories a search has entered, by device and inode: links may lead to
// one directory along many paths, or form cycles, and a search must end.
#ifndef TVX_BASE_VISITED_DIRS_H
#define TVX_BASE_VISITED_DIRS_H

#include <sys/types.h>

#include "base/buffer.h"

// Searches below a directory go this many levels deep at most.
constexpr int kMaxSearchDepth = 64;

class CVisitedDirs {
public:
    // False when the directory at `path` (links followed) was entered before
    // with the same `mark`, or cannot be examined; otherwise records it.
    // The mark tells apart visits that do different work (the rest of a
    // wildcard pattern, say).
    bool FirstVisit(const char* path, long mark = 0);

private:
    struct Entry {
        dev_t device;
        ino_t inode;
        long mark;
    };
    CBufferT<Entry> m_entries;
};

#endif  // TVX_BASE_VISITED_DIRS_H
