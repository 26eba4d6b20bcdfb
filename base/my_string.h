// Byte strings and string lists built on the buffer templates.
#ifndef TVX_BASE_MY_STRING_H
#define TVX_BASE_MY_STRING_H

#include <stdarg.h>

#include "base/buffer.h"

class MyCString : public CStringBufT<char> {
public:
    MyCString(const char* text = nullptr) : CStringBufT<char>(text, -1) {}
    MyCString(const char* text, int length) : CStringBufT<char>(text, length) {}
    MyCString(const MyCString& other) : CStringBufT<char>(other) {}
    MyCString& operator=(const MyCString& other) {
        CStringBufT<char>::operator=(other);
        return *this;
    }
    MyCString& operator=(const char* text) {
        Assign(text, text ? static_cast<int>(strlen(text)) : 0);
        return *this;
    }
    MyCString& operator+=(const char* text) {
        if (text) Append(text, static_cast<int>(strlen(text)));
        return *this;
    }
    MyCString& operator+=(const CBufferRefT<char>& text) {
        Append(text.GetData(), text.GetSize());
        return *this;
    }
    MyCString& operator+=(char c) {
        Append(c);
        return *this;
    }

    // printf-style formatting that replaces the content. Reserves at least
    // 1024 characters and grows for longer results; the arguments may point
    // into this string. Returns the new length.
    int Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int FormatV(const char* format, va_list args) __attribute__((format(printf, 2, 0)));

    int Compare(const char* text) const { return CStringRefT<char>(GetData(), GetSize()).Compare(CStringRefT<char>(text)); }
    int CompareNoCase(const char* text) const {
        return CStringRefT<char>(GetData(), GetSize()).CompareNoCase(CStringRefT<char>(text));
    }
    int Compare(const CBufferRefT<char>& other) const { return CStringRefT<char>(*this).Compare(other); }
    int CompareNoCase(const CBufferRefT<char>& other) const { return CStringRefT<char>(*this).CompareNoCase(other); }
    bool operator==(const char* text) const { return Compare(text) == 0; }
    bool operator!=(const char* text) const { return Compare(text) != 0; }
};

// Strings stored back to back in one pool; the int elements are offsets.
class MyCStringArray : public CBufferT<int> {
public:
    MyCStringArray() {}
    void Add(const char* text) { Add(text, text ? static_cast<int>(strlen(text)) : 0); }
    void Add(const char* text, int length) {
        Append(m_pool.GetSize());
        m_pool.Append(text, length);
        m_pool.Append('\0');
    }
    int GetCount() const { return GetSize(); }
    const char* operator[](int i) const { return m_pool.GetData() + GetData()[i]; }
    const char* GetAt(int i) const { return (*this)[i]; }
    const CBufferT<char>& Pool() const { return m_pool; }

private:
    CBufferT<char> m_pool;
};

#endif  // TVX_BASE_MY_STRING_H
