#include "base/buffer.h"

#include <ctype.h>
#include <stdio.h>

namespace tvx_detail {

int GrowCapacity(int capacity, int n) {
    if (capacity >= n) return capacity;
    if (capacity < 8) {
        if (n <= 8) return 8;
        capacity = 16;
    } else {
        capacity *= 2;
    }
    if (capacity < n) capacity = (n + 11) & ~7;
    return capacity;
}

void* Reallocate(void* storage, int capacity, size_t elementSize) {
    void* p = realloc(storage, static_cast<size_t>(capacity) * elementSize);
    if (!p) {
        fputs("out of memory\n", stderr);
        abort();
    }
    return p;
}

int CountToZero(const void* p, size_t elementSize) {
    const unsigned char* bytes = static_cast<const unsigned char*>(p);
    int n = 0;
    for (;; ++n, bytes += elementSize) {
        size_t k = 0;
        while (k < elementSize && bytes[k] == 0) ++k;
        if (k == elementSize) return n;
    }
}

}  // namespace tvx_detail

template <>
int CStringRefT<char>::CompareImpl(const CBufferRefT<char>& other, bool noCase) const {
    int m = m_nSize < other.GetSize() ? m_nSize : other.GetSize();
    const char* a = m_pRef;
    const char* b = other.GetData();
    int i = 0;
    for (; i < m; ++i) {
        if (a[i] == b[i]) continue;
        if (noCase && toupper(static_cast<unsigned char>(a[i])) == toupper(static_cast<unsigned char>(b[i])))
            continue;
        break;
    }
    return static_cast<signed char>(GetAt(i, 0)) - static_cast<signed char>(other.GetAt(i, 0));
}
