// Buffer and string templates: growth, terminator, views and comparisons.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/buffer.h"
#include "base/my_string.h"

namespace {

// Checks the invariants every string keeps: storage held, a zero element at
// index length, capacity at least length + 1 and at least 8.
template <class T>
void ExpectTerminated(const CStringBufT<T>& s) {
    ASSERT_NE(s.GetData(), nullptr);
    EXPECT_EQ(s.GetData()[s.GetSize()], T());
    EXPECT_GE(s.GetMaxLength(), s.GetSize() + 1);
    EXPECT_GE(s.GetMaxLength(), 8);
}

std::string Text(const CBufferRefT<char>& b) { return std::string(b.GetData(), b.GetSize()); }

struct GrowthRow {
    int oldCapacity;
    int requested;
    int expected;
};

TEST(BufferGrowth, CapacityFollowsTheGrowthRule) {
    const GrowthRow rows[] = {
        {0, 1, 8},       {0, 8, 8},       {0, 9, 16},      {0, 17, 24},      {0, 21, 32},
        {0, 1024, 1032}, {16, 17, 32},    {16, 33, 40},    {16, 40, 48},     {1024, 1025, 2048},
        {1024, 3000, 3008}, {8, 8, 8},    {16, 3, 16},     {32, 33, 64},
    };
    for (const GrowthRow& row : rows) {
        SCOPED_TRACE("old " + std::to_string(row.oldCapacity) + ", requested " + std::to_string(row.requested));
        CBufferT<char> b;
        // Reach the old capacity by doubling from 8.
        while (b.GetMaxLength() < row.oldCapacity) b.SetMaxLength(b.GetMaxLength() + 1);
        ASSERT_EQ(b.GetMaxLength(), row.oldCapacity);
        b.SetMaxLength(row.requested);
        EXPECT_EQ(b.GetMaxLength(), row.expected);
    }
}

TEST(BufferGrowth, CapacityNeverShrinksAndKeepsContent) {
    CBufferT<int> b;
    for (int i = 0; i < 100; ++i) b.Append(i);
    int capacity = b.GetMaxLength();
    b.SetSize(3);
    b.SetMaxLength(4);
    EXPECT_EQ(b.GetMaxLength(), capacity);
    ASSERT_EQ(b.GetSize(), 3);
    EXPECT_EQ(b[0] + b[1] + b[2], 0 + 1 + 2);
}

TEST(BufferGrowth, NearIntMaxDoesNotWrap) {
    // Where doubling or rounding up would pass INT_MAX, exactly the request.
    EXPECT_EQ(tvx_detail::GrowCapacity(INT_MAX / 2 + 8, INT_MAX / 2 + 9), INT_MAX / 2 + 9);
    EXPECT_EQ(tvx_detail::GrowCapacity(1 << 30, (1 << 30) + 1), (1 << 30) + 1);
    EXPECT_EQ(tvx_detail::GrowCapacity(16, INT_MAX - 3), INT_MAX - 3);
    EXPECT_EQ(tvx_detail::GrowCapacity(16, INT_MAX), INT_MAX);
    // Below the limit the rule is unchanged.
    EXPECT_EQ(tvx_detail::GrowCapacity(1 << 29, (1 << 29) + 1), 1 << 30);
}

TEST(StringGrowth, OneCharacterAtATimeDoublesFromEight) {
    MyCString s;
    std::vector<int> capacities{s.GetMaxLength()};
    std::string expected;
    for (int i = 0; i < 70; ++i) {
        s += static_cast<char>('a' + i % 26);
        expected += static_cast<char>('a' + i % 26);
        ExpectTerminated(s);
        if (capacities.back() != s.GetMaxLength()) capacities.push_back(s.GetMaxLength());
        // The 8th character needs room for the terminator: 8 -> 16, the 16th -> 32.
        if (i + 1 == 7) {
            EXPECT_EQ(s.GetMaxLength(), 8);
        } else if (i + 1 == 8) {
            EXPECT_EQ(s.GetMaxLength(), 16);
        } else if (i + 1 == 16) {
            EXPECT_EQ(s.GetMaxLength(), 32);
        }
    }
    EXPECT_EQ(capacities, (std::vector<int>{8, 16, 32, 64, 128}));
    EXPECT_EQ(std::string(s.c_str()), expected);
}

TEST(StringBuf, EmptyStringsHoldStorageOfEight) {
    const char* sources[] = {nullptr, ""};
    for (const char* source : sources) {
        SCOPED_TRACE(source ? "empty text" : "null");
        MyCString s(source);
        ExpectTerminated(s);
        EXPECT_EQ(s.GetSize(), 0);
        EXPECT_EQ(s.GetMaxLength(), 8);
        EXPECT_STREQ(s.GetBuffer(), "");
    }
    CStringBufT<wchar_t> wide;
    ExpectTerminated(wide);
    EXPECT_EQ(wide.GetMaxLength(), 8);
}

TEST(StringBuf, ExplicitLengthCopiesEmbeddedZeros) {
    const char bytes[] = {'a', 0, 'b', 'c'};
    CStringBufT<char> s(bytes, 4);
    ExpectTerminated(s);
    EXPECT_EQ(Text(s), std::string(bytes, 4));
    CStringBufT<char> copy(s);
    EXPECT_EQ(Text(copy), std::string(bytes, 4));
    EXPECT_NE(copy.GetData(), s.GetData());  // deep copy
}

TEST(Buffer, NullConstructionHoldsNoStorage) {
    CBufferT<char> b(nullptr, 0);
    EXPECT_EQ(b.GetMaxLength(), 0);
    EXPECT_EQ(b.GetBuffer(), nullptr);
    EXPECT_EQ(b.GetSize(), 0);
    CBufferT<char> c("abc", 3);
    EXPECT_EQ(c.GetMaxLength(), 8);
    EXPECT_EQ(Text(c), "abc");
}

TEST(Buffer, DetachHandsOutStorageForFree) {
    MyCString s("hello");
    char* p = s.Detach();
    EXPECT_STREQ(p, "hello");
    EXPECT_EQ(s.GetData(), nullptr);
    EXPECT_EQ(s.GetSize(), 0);
    EXPECT_EQ(s.GetMaxLength(), 0);
    free(p);
    // A detached string gets storage and its terminator back on GetBuffer.
    EXPECT_STREQ(s.GetBuffer(), "");
    ExpectTerminated(s);
    s.Release();
    EXPECT_EQ(s.GetData(), nullptr);
    EXPECT_EQ(s.GetMaxLength(), 0);
}

// Each row edits "abcdef" and states the text that must result.
struct EditRow {
    const char* name;
    void (*edit)(MyCString&);
    std::string expected;
};

// Applies each row to a fresh "abcdef" and checks text and terminator.
template <size_t N>
void ExpectEdits(const EditRow (&rows)[N]) {
    for (const EditRow& row : rows) {
        SCOPED_TRACE(row.name);
        MyCString s("abcdef");
        row.edit(s);
        ExpectTerminated(s);
        EXPECT_EQ(Text(s), row.expected);
        EXPECT_EQ(strlen(s.c_str()), row.expected.size());
    }
}

TEST(StringBuf, TerminatorAfterEveryOperation) {
    const EditRow rows[] = {
        {"append text", [](MyCString& s) { s.Append("XYZ", 3); }, "abcdefXYZ"},
        {"append one", [](MyCString& s) { s.Append('!'); }, "abcdef!"},
        {"insert middle", [](MyCString& s) { s.Insert(2, "--", 2); }, "ab--cdef"},
        {"insert front", [](MyCString& s) { s.Insert(0, "0", 1); }, "0abcdef"},
        {"delete middle", [](MyCString& s) { s.Delete(1, 2); }, "adef"},
        {"delete tail", [](MyCString& s) { s.Delete(4, 2); }, "abcd"},
        {"truncate", [](MyCString& s) { s.Truncate(2); }, "ab"},
        {"truncate longer is no-op", [](MyCString& s) { s.Truncate(10); }, "abcdef"},
        {"assign", [](MyCString& s) { s.Assign("xy", 2); }, "xy"},
        {"assign empty", [](MyCString& s) { s.Assign(nullptr, 0); }, ""},
        {"set size shorter", [](MyCString& s) { s.SetSize(3); }, "abc"},
        {"prepare insert then fill", [](MyCString& s) { memcpy(s.PrepareInsert(3, 2), "..", 2); }, "abc..def"},
        {"empty", [](MyCString& s) { s.Empty(); }, ""},
        {"format", [](MyCString& s) { s.Format("%d", 42); }, "42"},
        {"assign text", [](MyCString& s) { s = "zz"; }, "zz"},
        {"grow far", [](MyCString& s) { for (int i = 0; i < 5; ++i) s += "0123456789"; },
         "abcdef01234567890123456789012345678901234567890123456789"},
    };
    ExpectEdits(rows);
}

TEST(StringBuf, PrepareInsertTerminatesBeforeTheGapIsFilled) {
    MyCString s("ab");
    char* gap = s.PrepareInsert(2, 3);
    EXPECT_EQ(gap, s.GetData() + 2);
    EXPECT_EQ(s.GetSize(), 5);
    EXPECT_EQ(s.GetData()[5], '\0');
}

TEST(Buffer, OutOfRangeEditsAreClampedNotOverrun) {
    const EditRow rows[] = {
        {"negative size", [](MyCString& s) { s.SetSize(-5); }, ""},
        {"delete past end", [](MyCString& s) { s.Delete(4, 100); }, "abcd"},
        {"delete at length", [](MyCString& s) { s.Delete(6, 1); }, "abcdef"},
        {"delete negative position", [](MyCString& s) { s.Delete(-1, 2); }, "abcdef"},
        {"insert past end", [](MyCString& s) { s.Insert(99, "Z", 1); }, "abcdefZ"},
        {"insert before start", [](MyCString& s) { s.Insert(-3, "Z", 1); }, "Zabcdef"},
        {"negative count", [](MyCString& s) { s.Append("Z", -1); }, "abcdef"},
    };
    ExpectEdits(rows);
}

TEST(Buffer, SourcesInsideTheBufferSurviveGrowth) {
    const EditRow rows[] = {
        // The growing rows pass the capacity of 8, so the storage moves
        // while the source still points into it.
        {"append own text", [](MyCString& s) { s.Append(s.GetData(), s.GetSize()); }, "abcdefabcdef"},
        {"insert own tail at front", [](MyCString& s) { s.Insert(0, s.GetData() + 3, 3); }, "defabcdef"},
        {"insert own text in middle", [](MyCString& s) { s.Insert(3, s.GetData(), 6); }, "abcabcdefdef"},
        {"assign own suffix", [](MyCString& s) { s.Assign(s.GetData() + 2, 4); }, "cdef"},
        {"self assignment", [](MyCString& s) {
             const MyCString& same = s;
             s = same;
         }, "abcdef"},
        {"assign own text via char*", [](MyCString& s) { s = s.c_str() + 1; }, "bcdef"},
    };
    ExpectEdits(rows);
}

TEST(BufferRef, GetAtReturnsDefaultOutsideTheContent) {
    const int values[] = {10, 20, 30};
    CBufferRefT<int> view(values, 3);
    const struct {
        int index;
        int expected;
    } rows[] = {{-1, -7}, {0, 10}, {2, 30}, {3, -7}, {INT_MIN, -7}, {INT_MAX, -7}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.index);
        EXPECT_EQ(view.GetAt(row.index, -7), row.expected);
    }
    CBufferRefT<int> empty(nullptr, 0);
    EXPECT_EQ(empty.GetAt(0, 5), 5);
}

TEST(StringRef, CountsUpToTheZeroUnlessGivenALength) {
    EXPECT_EQ(CStringRefT<char>("abc").GetSize(), 3);
    EXPECT_EQ(CStringRefT<char>(nullptr).GetSize(), 0);
    EXPECT_EQ(CStringRefT<char>("abcdef", 2).GetSize(), 2);
    const wchar_t wide[] = L"wide";
    EXPECT_EQ(CStringRefT<wchar_t>(wide).GetSize(), 4);
}

enum Sign { kNegative, kZero, kPositive, kNonZero };

struct CompareRow {
    std::string a;
    std::string b;
    Sign compare;
    Sign noCase;
    Sign prefix;  // nCompare
};

void ExpectSign(int value, Sign sign, const char* what) {
    SCOPED_TRACE(what);
    switch (sign) {
        case kNegative: EXPECT_LT(value, 0); break;
        case kZero: EXPECT_EQ(value, 0); break;
        case kPositive: EXPECT_GT(value, 0); break;
        case kNonZero: EXPECT_NE(value, 0); break;
    }
}

TEST(StringRef, Comparisons) {
    const CompareRow rows[] = {
        {"ab", "abc", kNegative, kNegative, kZero},
        {"abc", "ab", kPositive, kPositive, kPositive},
        {"abc", "abc", kZero, kZero, kZero},
        {"Path", "PATH", kPositive, kZero, kPositive},
        {"ab", "AB ", kPositive, kNonZero, kPositive},
        {"-D", "-Dname=value", kNegative, kNegative, kZero},
        {"-Dname=value", "-D", kPositive, kPositive, kPositive},
        {"", "", kZero, kZero, kZero},
        {"", "x", kNegative, kNegative, kZero},
        {"x", "", kPositive, kPositive, kPositive},
        {std::string("a\0b", 3), std::string("a\0c", 3), kNegative, kNegative, kNegative},
        // A trailing zero byte reads like the end of the shorter text.
        {std::string("a\0", 2), "a", kZero, kZero, kZero},
        // Bytes compare as signed 8-bit values: 0xE9 is below 'a'.
        {"\xE9", "a", kNegative, kNegative, kNegative},
        {"abd", "abc", kPositive, kPositive, kPositive},
        // Case is ignored only for the equality test; the result is the
        // difference of the stored bytes ('c' - 'D').
        {"aBc", "AbD", kPositive, kPositive, kPositive},
    };
    for (const CompareRow& row : rows) {
        SCOPED_TRACE("\"" + row.a + "\" vs \"" + row.b + "\"");
        CStringRefT<char> a(row.a.data(), static_cast<int>(row.a.size()));
        CBufferRefT<char> b(row.b.data(), static_cast<int>(row.b.size()));
        ExpectSign(a.Compare(b), row.compare, "Compare");
        ExpectSign(a.CompareNoCase(b), row.noCase, "CompareNoCase");
        ExpectSign(a.nCompare(b), row.prefix, "nCompare");
    }
}

TEST(StringRef, CompareYieldsTheSignedByteDifference) {
    EXPECT_EQ(CStringRefT<char>("ab").Compare(CStringRefT<char>("abc")), -'c');
    EXPECT_EQ(CStringRefT<char>("b").Compare(CStringRefT<char>("a")), 1);
    EXPECT_EQ(CStringRefT<char>("\x80").Compare(CStringRefT<char>("\x7F")), -128 - 127);
    // CompareNoCase reports the stored bytes where they differ.
    EXPECT_EQ(CStringRefT<char>("ax").CompareNoCase(CStringRefT<char>("Ay")), 'x' - 'y');
}

TEST(MyCStringCompare, AgainstTextAndStrings) {
    MyCString path("Path");
    EXPECT_EQ(path.CompareNoCase("PATH"), 0);
    EXPECT_NE(path.Compare("PATH"), 0);
    EXPECT_EQ(path.Compare(MyCString("Path")), 0);
    EXPECT_LT(path.Compare("Paths"), 0);
    EXPECT_GT(path.Compare(nullptr), 0);
    EXPECT_TRUE(path == "Path");
    EXPECT_TRUE(path != "path");
}

}  // namespace
