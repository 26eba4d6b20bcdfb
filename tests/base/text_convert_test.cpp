// Conversions between UTF-8, wide text, UTF-16 units and the locale encoding.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "base/text_convert.h"

namespace {

std::string Hex(const std::string& bytes) {
    std::string out;
    char part[4];
    for (unsigned char c : bytes) {
        snprintf(part, sizeof part, "%02X ", c);
        out += part;
    }
    return out;
}

std::wstring Wide(const CBufferRefT<wchar_t>& w) { return std::wstring(w.GetData(), w.GetSize()); }

template <class T>
void ExpectTerminated(const CStringBufT<T>& s) {
    ASSERT_NE(s.GetData(), nullptr);
    EXPECT_EQ(s.GetData()[s.GetSize()], T());
}

struct DecodeRow {
    std::string bytes;
    std::wstring expected;
};

TEST(Utf8Decode, Rows) {
    const DecodeRow rows[] = {
        {"\xC3\xA9", L"\u00E9"},
        {"\xE2\x82\xAC", L"\u20AC"},
        {"\xC3\x41", L"?A"},
        {"\xA9", L"?"},
        {"x\xE2\x82", L"x"},               // incomplete three-byte sequence at the end
        {"x\xC3", L"x"},                   // incomplete two-byte sequence at the end
        {"\xE2\x41", L""},                 // three-byte lead with fewer than three bytes left
        {"\xE2\x41\x42", L"?AB"},          // bad first continuation: one byte consumed
        {"\xE2\x82\x41", L"?A"},           // bad second continuation: two bytes consumed
        {"\xF0\x9F\x98\x80", std::wstring(1, static_cast<wchar_t>(0x1F600))},
        {"\xF4\x8F\xBF\xBF", std::wstring(1, static_cast<wchar_t>(0x10FFFF))},
        {"\xF4\x90\x80\x80", L"?"},          // beyond U+10FFFF
        {"\xF0\x9F\x41\x42", L"?AB"},        // bad second byte of a four-byte form
        {"\xF0\x9F\x98\x41", L"?A"},         // bad fourth byte: three bytes consumed
        {"x\xF0\x9F\x98", L"x"},              // incomplete four-byte sequence at the end
        {"\xF5\x80", L"??"},
        {"\xFF\xFE", L"??"},
        {"\xC2\x80\xDF\xBF", L"\x80\u07FF"},
        {"\xE0\xA0\x80\xEF\xBF\xBF", L"\u0800\uFFFF"},
        {"\xED\xA0\x80", std::wstring(1, static_cast<wchar_t>(0xD800))},  // surrogates pass
        {"\xC1\x81", L"A"},                // overlong forms are not rejected
        {std::string("a\0b", 3), L"a"},    // the length stops at the first zero
        {"a\xC0\x80z", L"a"},              // an overlong zero ends the text too
        {"", L""},
        {"plain ascii", L"plain ascii"},
    };
    for (const DecodeRow& row : rows) {
        SCOPED_TRACE(Hex(row.bytes));
        UnicodeStringFromUtf8 w(row.bytes.data(), static_cast<int>(row.bytes.size()));
        ExpectTerminated(w);
        EXPECT_EQ(Wide(w), row.expected);
        EXPECT_LE(w.GetSize(), static_cast<int>(row.bytes.size()));
    }
}

TEST(Utf8Decode, NullAndCountedInput) {
    UnicodeStringFromUtf8 fromNull(nullptr, 5);
    ExpectTerminated(fromNull);
    EXPECT_EQ(fromNull.GetSize(), 0);
    UnicodeStringFromUtf8 counted("\xC3\xA9xyz", 3);
    EXPECT_EQ(Wide(counted), L"\u00E9x");
    UnicodeStringFromUtf8 toZero("\xC3\xA9xyz");
    EXPECT_EQ(Wide(toZero), L"\u00E9xyz");
}

struct EncodeRow {
    std::wstring wide;
    std::string expected;
};

TEST(Utf8Encode, Rows) {
    const EncodeRow rows[] = {
        {L"\u00E9", "\xC3\xA9"},
        {L"\u20AC", "\xE2\x82\xAC"},
        {L"A", "A"},
        {L"\x7F", "\x7F"},
        {L"\x80", "\xC2\x80"},
        {L"\u07FF", "\xDF\xBF"},
        {L"\u0800", "\xE0\xA0\x80"},
        {L"\uFFFF", "\xEF\xBF\xBF"},
        {L"a\u00E9\u20ACz", "a\xC3\xA9\xE2\x82\xAC" "z"},
        // Above U+FFFF the full four-byte form is written.
        {std::wstring(1, static_cast<wchar_t>(0x1F600)), "\xF0\x9F\x98\x80"},
        {std::wstring(1, static_cast<wchar_t>(0x10FFFF)), "\xF4\x8F\xBF\xBF"},
        {L"", ""},
    };
    for (const EncodeRow& row : rows) {
        SCOPED_TRACE(Hex(row.expected));
        Utf8String u(row.wide.c_str());
        ExpectTerminated(u);
        EXPECT_EQ(std::string(u.GetData(), u.GetSize()), row.expected);
    }
    Utf8String fromNull(nullptr);
    ExpectTerminated(fromNull);
    EXPECT_EQ(fromNull.GetSize(), 0);
}

TEST(Utf8Encode, EveryBmpCharacterDecodesBack) {
    std::wstring all;
    for (wchar_t c = 1; c <= 0xFFFF; ++c)
        if (c < 0xD800 || c > 0xDFFF) all += c;  // surrogates have no UTF-8 form
    Utf8String u(all.c_str());
    UnicodeStringFromUtf8 back(u.GetData(), u.GetSize());
    ASSERT_EQ(back.GetSize(), static_cast<int>(all.size()));
    EXPECT_TRUE(Wide(back) == all);
}

TEST(UcsString, SurrogatePairsAboveTheBasicPlane) {
    const struct {
        wchar_t in;
        std::vector<unsigned short> out;
    } rows[] = {
        {0x1F600, {0xD83D, 0xDE00}},
        {0x10000, {0xD800, 0xDC00}},
        {0x10FFFF, {0xDBFF, 0xDFFF}},
        {0x110000, {0xFFFD}},
        {static_cast<wchar_t>(-1), {0xFFFD}},
        {L'A', {0x41}},
        {0x20AC, {0x20AC}},
        {0xFFFF, {0xFFFF}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<unsigned>(row.in));
        wchar_t text[] = {L'x', row.in, L'y', 0};
        UcsString u(text);
        ExpectTerminated(u);
        std::vector<unsigned short> expected = {L'x'};
        expected.insert(expected.end(), row.out.begin(), row.out.end());
        expected.push_back(L'y');
        EXPECT_EQ(std::vector<unsigned short>(u.GetData(), u.GetData() + u.GetSize()), expected);
    }
}

TEST(UcsString, EveryCharacterSurvivesTheRoundTripThroughUnitsAndUtf8) {
    std::wstring all;
    for (wchar_t c = 1; c <= 0x10FFFF; c += (c < 0x20000 ? 1 : 0x3F1)) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        all += c;
    }
    UcsString units(all.c_str());
    UnicodeString wide(units.GetData(), units.GetSize());
    ASSERT_TRUE(Wide(wide) == all);
    Utf8String utf8(all.c_str());
    UnicodeStringFromUtf8 back(utf8.GetData(), utf8.GetSize());
    EXPECT_TRUE(Wide(back) == all);
}

TEST(UcsString, CopiesUnits) {
    const unsigned short units[] = {0x48, 0xE9, 0xD83D, 0xDE00, 0, 0x41};
    UcsString toZero(units);
    EXPECT_EQ(toZero.GetSize(), 4);
    UcsString counted(units, 6);
    EXPECT_EQ(counted.GetSize(), 6);
    EXPECT_EQ(counted[5], 0x41);
    ExpectTerminated(counted);
}

TEST(UnicodeStringFromUnits, WidensUntilZeroOrCount) {
    const unsigned short units[] = {0x48, 0xE9, 0xD83D, 0, 0x41};
    const struct {
        int count;
        std::wstring expected;
    } rows[] = {
        {-1, std::wstring{L'H', L'\u00E9', static_cast<wchar_t>(0xD83D)}},
        {2, L"H\u00E9"},
        {0, L""},
        {5, std::wstring{L'H', L'\u00E9', static_cast<wchar_t>(0xD83D)}},
    };
    // A pair is one character; a lone surrogate stays a unit of its own.
    const unsigned short pairs[] = {0xD83D, 0xDE00, 0xDE00, 0x41, 0xD83D};
    UnicodeString joined(pairs, 5);
    EXPECT_EQ(Wide(joined), (std::wstring{static_cast<wchar_t>(0x1F600), static_cast<wchar_t>(0xDE00), L'A',
                                          static_cast<wchar_t>(0xD83D)}));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.count);
        UnicodeString w(units, row.count);
        ExpectTerminated(w);
        EXPECT_EQ(Wide(w), row.expected);
    }
    UnicodeString fromNull(static_cast<const unsigned short*>(nullptr), 3);
    EXPECT_EQ(fromNull.GetSize(), 0);
    ExpectTerminated(fromNull);
}

// Switches LC_CTYPE for one test and restores it.
class LocaleText : public ::testing::Test {
protected:
    void SetUp() override {
        const char* current = setlocale(LC_CTYPE, nullptr);
        saved_ = current ? current : "C";
        if (!setlocale(LC_CTYPE, "C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale";
    }
    void TearDown() override { setlocale(LC_CTYPE, saved_.c_str()); }
    std::string saved_;
};

TEST_F(LocaleText, MultibyteToWide) {
    const struct {
        std::string text;
        int length;
        std::wstring expected;
    } rows[] = {
        {"h\xC3\xA9llo \xE2\x82\xAC", -1, L"h\u00E9llo \u20AC"},
        {"abcdef", 3, L"abc"},
        {"\xF0\x9F\x98\x80", -1, std::wstring(1, static_cast<wchar_t>(0x1F600))},
        // Bytes the locale cannot decode become U+FFFD; the rest is kept.
        {"ab\xFF" "cd", -1, L"ab\uFFFDcd"},
        {"ab\xC3", -1, L"ab\uFFFD"},
        {"\xE2\x82" "x", -1, L"\uFFFD\uFFFDx"},
        {std::string("ab\0cd", 5), 5, L"ab"},
        {"", -1, L""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Hex(row.text));
        UnicodeString w(row.text.c_str(), row.length);
        ExpectTerminated(w);
        EXPECT_EQ(Wide(w), row.expected);
    }
    UnicodeString fromNull(static_cast<const char*>(nullptr));
    EXPECT_EQ(fromNull.GetSize(), 0);
    ExpectTerminated(fromNull);
}

TEST_F(LocaleText, WideToLocaleAppends) {
    CStringBufT<char> out("pre:", -1);
    AppendWideAsLocale(out, L"\u00E9\u20AC!");
    ExpectTerminated(out);
    EXPECT_EQ(std::string(out.GetData(), out.GetSize()), "pre:\xC3\xA9\xE2\x82\xAC!");
    // A lone surrogate has no UTF-8 form in the locale: it becomes "?".
    CStringBufT<char> bad;
    const wchar_t text[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    AppendWideAsLocale(bad, text);
    EXPECT_EQ(std::string(bad.GetData(), bad.GetSize()), "a?b");
}

TEST(Utf8Encode, SurrogatesAndValuesBeyondTheRangeBecomeTheReplacementCharacter) {
    const wchar_t text[] = {L'a', static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0x110000), L'b', 0};
    Utf8String u(text);
    EXPECT_EQ(std::string(u.GetData(), u.GetSize()), "a\xEF\xBF\xBD\xEF\xBF\xBD" "b");
}

// The C and POSIX locales (ASCII code set): locale text is UTF-8.
class AsciiLocaleText : public ::testing::Test {
protected:
    void SetUp() override {
        const char* current = setlocale(LC_CTYPE, nullptr);
        saved_ = current ? current : "C";
        setlocale(LC_CTYPE, "C");
    }
    void TearDown() override { setlocale(LC_CTYPE, saved_.c_str()); }
    std::string saved_;
};

TEST_F(AsciiLocaleText, MultibyteIsDecodedAsUtf8AndOnlyBadBytesAreReplaced) {
    ASSERT_TRUE(LocaleIsAscii());
    const wchar_t kBad = kReplacementChar;
    const struct {
        std::string text;
        std::wstring expected;
    } rows[] = {
        {"ab\xC3\xA9" "cd", L"ab\u00E9cd"},
        {"\xC3\xA9 x", L"\u00E9 x"},
        {"\xF0\x9F\x98\x80", std::wstring(1, static_cast<wchar_t>(0x1F600))},
        {"a\xFF" "b", std::wstring{L'a', kBad, L'b'}},
        {"a\xC3", std::wstring{L'a', kBad}},
        {"\xC0\x80z", std::wstring{kBad, kBad, L'z'}},          // overlong zero
        {"\xED\xA0\x80", std::wstring{kBad, kBad, kBad}},      // surrogate
        {"\xF4\x90\x80\x80", std::wstring{kBad, kBad, kBad, kBad}},
        {"\xE2\x82\xAC\xE2\x82", std::wstring{L'\u20AC', kBad, kBad}},
        {"# r\xC3\xA9glages\nnext", L"# r\u00E9glages\nnext"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Hex(row.text));
        UnicodeString w(row.text.c_str());
        ExpectTerminated(w);
        EXPECT_EQ(Wide(w), row.expected);
    }
}

TEST_F(AsciiLocaleText, WideIsWrittenAsUtf8) {
    CStringBufT<char> out;
    const wchar_t text[] = {L'\u00E9', static_cast<wchar_t>(0x1F600), L'!', 0};
    AppendWideAsLocale(out, text);
    EXPECT_EQ(std::string(out.GetData(), out.GetSize()), "\xC3\xA9\xF0\x9F\x98\x80!");
}

}  // namespace
