#include "base/visited_dirs.h"

#include <sys/stat.h>

bool CVisitedDirs::FirstVisit(const char* path, long mark) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return false;
    for (int i = 0; i < m_entries.GetSize(); ++i) {
        const Entry& e = m_entries[i];
        if (e.device == st.st_dev && e.inode == st.st_ino && e.mark == mark) return false;
    }
    Entry entry;
    entry.device = st.st_dev;
    entry.inode = st.st_ino;
    entry.mark = mark;
    m_entries.Append(entry);
    return true;
}
