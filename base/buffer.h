// Buffer and string templates used for every text, byte block and small array.
//
// CBufferRefT   non-owning view (pointer, length)
// CBufferT      growable owning buffer (realloc storage, Detach hands it out)
// CStringBufT   buffer that always keeps a zero element after its content
// CStringRefT   view with byte comparisons
//
// Lengths and capacities count elements. The templates are header-only and
// use nothing from the C++ runtime library.
#ifndef TVX_BASE_BUFFER_H
#define TVX_BASE_BUFFER_H

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace tvx_detail {
// Capacity after growing `capacity` so that it holds at least `n` elements.
int GrowCapacity(int capacity, int n);
// Storage of `capacity` elements of `elementSize` bytes; aborts when the
// allocator fails (there is no way to report it through the interfaces).
void* Reallocate(void* storage, int capacity, size_t elementSize);
// Length of a zero-terminated array of `elementSize`-byte elements.
int CountToZero(const void* p, size_t elementSize);
// `length + count` as a length; aborts when it does not fit in an int.
int AddLengths(int length, int count);
// Copy of `count` elements that may lie inside the buffer about to be
// resized; free() it after use. Null when `count` is not positive.
void* CopyOut(const void* p, int count, size_t elementSize);
}  // namespace tvx_detail

template <class T>
class CBufferRefT {
public:
    CBufferRefT(const T* pointer, int length) : m_pRef(pointer), m_nSize(length) {}
    virtual ~CBufferRefT() {}

    T GetAt(int index, T def) const {
        return (index < 0 || index >= m_nSize) ? def : m_pRef[index];
    }
    const T* GetData() const { return m_pRef; }
    int GetSize() const { return m_nSize; }
    int GetLength() const { return m_nSize; }
    const T& operator[](int index) const { return m_pRef[index]; }

protected:
    const T* m_pRef;
    int m_nSize;
};

template <class T>
class CBufferT : public CBufferRefT<T> {
public:
    CBufferT() : CBufferRefT<T>(nullptr, 0), m_nMaxLength(0) {}
    CBufferT(const T* pointer, int length) : CBufferRefT<T>(nullptr, 0), m_nMaxLength(0) {
        if (length > 0) CopyElements(PrepareInsert(this->m_nSize, length), pointer, length);
    }
    CBufferT(const CBufferT&) = delete;
    CBufferT& operator=(const CBufferT&) = delete;
    ~CBufferT() override { Release(); }

    void SetMaxLength(int n) {
        if (m_nMaxLength >= n) return;
        int capacity = tvx_detail::GrowCapacity(m_nMaxLength, n);
        this->m_pRef = static_cast<T*>(
            tvx_detail::Reallocate(const_cast<T*>(this->m_pRef), capacity, sizeof(T)));
        m_nMaxLength = capacity;
    }
    virtual void SetSize(int n) {
        if (n < 0) n = 0;
        SetMaxLength(n);
        this->m_nSize = n;
    }
    // Opens a gap of `count` elements at `position` (clamped to the content)
    // and returns it for the caller to fill.
    T* PrepareInsert(int position, int count) {
        int old = this->m_nSize;
        if (count < 0) count = 0;
        if (position < 0) position = 0;
        if (position > old) position = old;
        SetSize(tvx_detail::AddLengths(old, count));
        T* data = Data();
        if (position < old && count > 0)
            memmove(static_cast<void*>(data + position + count), data + position,
                    sizeof(T) * (old - position));
        return data + position;
    }
    T* GetBuffer() {
        SetSize(this->m_nSize);
        return Data();
    }
    T* Detach() {
        T* p = Data();
        this->m_pRef = nullptr;
        this->m_nSize = 0;
        m_nMaxLength = 0;
        return p;
    }
    void Release() { free(Detach()); }
    int GetMaxLength() const { return m_nMaxLength; }

    // Derived operations, all expressed through the primitives above. The
    // source may be part of this buffer's own content.
    void Append(const T* pointer, int count) { Insert(this->m_nSize, pointer, count); }
    void Append(T element) { *PrepareInsert(this->m_nSize, 1) = element; }
    void Insert(int position, const T* pointer, int count) {
        if (count <= 0) return;
        if (!Overlaps(pointer, count)) {
            CopyElements(PrepareInsert(position, count), pointer, count);
            return;
        }
        void* copy = tvx_detail::CopyOut(pointer, count, sizeof(T));
        CopyElements(PrepareInsert(position, count), static_cast<const T*>(copy), count);
        free(copy);
    }
    // Removes `count` elements at `position`; the range is clamped to the
    // content.
    void Delete(int position, int count) {
        int size = this->m_nSize;
        if (position < 0 || position >= size || count <= 0) return;
        if (count > size - position) count = size - position;
        T* data = Data();
        memmove(static_cast<void*>(data + position), data + position + count,
                sizeof(T) * (size - position - count));
        SetSize(size - count);
    }
    void Truncate(int n) {
        if (n < this->m_nSize) SetSize(n);
    }
    void Assign(const T* pointer, int count) {
        if (count < 0) count = 0;
        void* copy = Overlaps(pointer, count) ? tvx_detail::CopyOut(pointer, count, sizeof(T)) : nullptr;
        SetSize(count);
        CopyElements(GetBuffer(), copy ? static_cast<const T*>(copy) : pointer, count);
        free(copy);
    }
    T* Data() { return const_cast<T*>(this->m_pRef); }
    T& operator[](int index) { return Data()[index]; }
    const T& operator[](int index) const { return this->m_pRef[index]; }

protected:
    static void CopyElements(T* dst, const T* src, int count) {
        if (count > 0 && src) memmove(static_cast<void*>(dst), src, sizeof(T) * count);
    }
    // True when [pointer, pointer + count) lies in the held storage, which a
    // resize may move.
    bool Overlaps(const T* pointer, int count) const {
        if (!this->m_pRef || !pointer || count <= 0) return false;
        uintptr_t begin = reinterpret_cast<uintptr_t>(this->m_pRef);
        uintptr_t p = reinterpret_cast<uintptr_t>(pointer);
        return p < begin + sizeof(T) * static_cast<size_t>(m_nMaxLength) &&
               begin < p + sizeof(T) * static_cast<size_t>(count);
    }
    int m_nMaxLength;
};

template <class T>
class CStringBufT : public CBufferT<T> {
public:
    CStringBufT(const T* pointer = nullptr, int length = -1) : CBufferT<T>() {
        if (length < 0) length = pointer ? tvx_detail::CountToZero(pointer, sizeof(T)) : 0;
        T* gap = this->PrepareInsert(0, length);
        if (length > 0) this->CopyElements(gap, pointer, length);
    }
    CStringBufT(const CStringBufT& other) : CStringBufT(other.GetData(), other.GetSize()) {}
    CStringBufT& operator=(const CStringBufT& other) {
        if (this != &other) this->Assign(other.GetData(), other.GetSize());
        return *this;
    }
    void SetSize(int n) override {
        if (n < 0) n = 0;
        this->SetMaxLength(tvx_detail::AddLengths(n, 1));
        this->Data()[n] = T();
        this->m_nSize = n;
    }
    // Always terminated, never null after construction.
    const T* c_str() const { return this->m_pRef; }
    operator const T*() const { return this->m_pRef; }
    bool IsEmpty() const { return this->m_nSize == 0; }
    void Empty() { this->SetSize(0); }
};

template <class T>
class CStringRefT : public CBufferRefT<T> {
public:
    CStringRefT(const T* pointer, int length = -1)
        : CBufferRefT<T>(pointer, length >= 0 ? length
                                              : (pointer ? tvx_detail::CountToZero(pointer, sizeof(T)) : 0)) {}
    CStringRefT(const CBufferRefT<T>& other) : CBufferRefT<T>(other.GetData(), other.GetSize()) {}

    int Compare(const CBufferRefT<T>& other) const { return CompareImpl(other, false); }
    int CompareNoCase(const CBufferRefT<T>& other) const { return CompareImpl(other, true); }
    // Zero exactly when `other` begins with this text.
    int nCompare(const CBufferRefT<T>& other) const {
        if (this->m_nSize < other.GetSize())
            return Compare(CBufferRefT<T>(other.GetData(), this->m_nSize));
        return Compare(other);
    }

private:
    int CompareImpl(const CBufferRefT<T>& other, bool noCase) const;
};

// Byte comparisons (defined for char, the only instantiation the code uses).
template <>
int CStringRefT<char>::CompareImpl(const CBufferRefT<char>& other, bool noCase) const;

#endif  // TVX_BASE_BUFFER_H
