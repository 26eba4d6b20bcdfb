#include "base/buffer.h"

#include <ctype.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>

#include "base/diagnostic.h"

namespace tvx_detail {

static void OutOfMemory() {
    SayLine("ERROR: out of memory");
    abort();
}

int GrowCapacity(int capacity, int n) {
    if (capacity >= n) return capacity;
    // Computed in 64 bits: doubling or rounding a length near INT_MAX must
    // not wrap around to a small capacity.
    long long grown;
    if (capacity < 8) {
        if (n <= 8) return 8;
        grown = 16;
    } else {
        grown = 2LL * capacity;
    }
    if (grown < n) grown = (static_cast<long long>(n) + 11) & ~7LL;
    if (grown > INT_MAX) grown = n;
    return static_cast<int>(grown);
}

void* Reallocate(void* storage, int capacity, size_t elementSize) {
    if (capacity < 0 || static_cast<size_t>(capacity) > SIZE_MAX / elementSize) OutOfMemory();
    void* p = realloc(storage, static_cast<size_t>(capacity) * elementSize);
    if (!p) OutOfMemory();
    return p;
}

int AddLengths(int length, int count) {
    if (count > INT_MAX - length) OutOfMemory();
    return length + count;
}

void* CopyOut(const void* p, int count, size_t elementSize) {
    if (count <= 0) return nullptr;
    size_t bytes = static_cast<size_t>(count) * elementSize;
    void* copy = malloc(bytes);
    if (!copy) OutOfMemory();
    memcpy(copy, p, bytes);
    return copy;
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
