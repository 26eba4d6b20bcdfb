// MyCString formatting and the pooled string list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/my_string.h"

namespace {

std::string Text(const CBufferRefT<char>& b) { return std::string(b.GetData(), b.GetSize()); }

TEST(MyCStringFormat, ReplacesTheContent) {
    MyCString s("hello");
    EXPECT_EQ(s.Format("%d", 42), 2);
    EXPECT_STREQ(s.c_str(), "42");
    EXPECT_EQ(s.GetSize(), 2);
    EXPECT_GE(s.GetMaxLength(), 1024);  // at least 1024 characters are reserved
}

TEST(MyCStringFormat, GrowsPastTheReservedSize) {
    const int lengths[] = {1022, 1023, 1024, 1025, 1031, 1032, 5000, 100000};
    for (int length : lengths) {
        SCOPED_TRACE(length);
        std::string expected = std::string(length - 2, 'x') + "|=";
        MyCString s("previous content");
        int n = s.Format("%s|%c", std::string(length - 2, 'x').c_str(), '=');
        EXPECT_EQ(n, length);
        EXPECT_EQ(s.GetSize(), length);
        EXPECT_EQ(Text(s), expected);
        EXPECT_EQ(s.GetData()[length], '\0');
        EXPECT_GE(s.GetMaxLength(), length + 1);
    }
}

TEST(MyCStringFormat, ArgumentsMayBeTheStringItself) {
    MyCString s("abc");
    s.Format("%s/%s", s.c_str(), s.c_str());
    EXPECT_STREQ(s.c_str(), "abc/abc");
    // Long enough that the result needs more than the first 1024 characters.
    MyCString big(std::string(700, 'q').c_str());
    big.Format("%s-%s", big.c_str(), big.c_str());
    EXPECT_EQ(Text(big), std::string(700, 'q') + "-" + std::string(700, 'q'));
}

TEST(MyCStringFormat, EmptyResult) {
    MyCString s("abc");
    EXPECT_EQ(s.Format("%s", ""), 0);
    EXPECT_STREQ(s.c_str(), "");
    EXPECT_EQ(s.GetSize(), 0);
}

TEST(MyCStringArray, PoolHoldsTheStringsBackToBack) {
    MyCStringArray a;
    EXPECT_EQ(a.GetCount(), 0);
    a.Add("a");
    a.Add("bc");
    ASSERT_EQ(a.GetCount(), 2);
    EXPECT_EQ(std::string(a.Pool().GetData(), a.Pool().GetSize()), std::string("a\0bc\0", 5));
    EXPECT_EQ(a.GetData()[0], 0);
    EXPECT_EQ(a.GetData()[1], 2);
    EXPECT_STREQ(a[0], "a");
    EXPECT_STREQ(a[1], "bc");
}

TEST(MyCStringArray, ManyStringsAndEmptyOnes) {
    MyCStringArray a;
    std::string pool;
    std::vector<std::string> added;
    for (int i = 0; i < 300; ++i) {
        std::string text = i % 7 == 0 ? std::string() : std::string(i % 13, static_cast<char>('a' + i % 26));
        EXPECT_EQ(a.GetCount(), i);
        a.Add(text.c_str());
        added.push_back(text);
        pool += text;
        pool += '\0';
    }
    ASSERT_EQ(a.GetCount(), 300);
    EXPECT_EQ(std::string(a.Pool().GetData(), a.Pool().GetSize()), pool);
    int offset = 0;
    for (int i = 0; i < 300; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(a.GetData()[i], offset);
        EXPECT_EQ(std::string(a[i]), added[i]);
        offset += static_cast<int>(added[i].size()) + 1;
    }
}

TEST(MyCStringArray, AddingAnElementOfItselfCopiesIt) {
    MyCStringArray a;
    a.Add("first");
    for (int i = 0; i < 10; ++i) a.Add(a[0]);  // a[0] moves when the pool grows
    ASSERT_EQ(a.GetCount(), 11);
    for (int i = 0; i < 11; ++i) EXPECT_STREQ(a[i], "first");
    a.Add(nullptr);
    EXPECT_STREQ(a[11], "");
}

}  // namespace
