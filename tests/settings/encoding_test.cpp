// Decoding of settings text by its first bytes, and locale conversion of
// values on lookup.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_loader.h"
#include "tests/settings/settings_fixture.h"

namespace {

using settingstest::Bytes;

using settingstest::ScopedLocale;

using settingstest::Str;

std::string Decode(const std::string& text) {
    CStringBufT<char> out;
    CSettingsLoader::AppendAsUtf8(out, MyCString(text.data(), static_cast<int>(text.size())));
    return Str(out);
}

// UTF-16 code units as bytes, little- or big-endian.
std::string Utf16(const std::vector<unsigned>& units, bool bigEndian) {
    std::string out;
    for (unsigned u : units) {
        char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        if (bigEndian) {
            out.push_back(hi);
            out.push_back(lo);
        } else {
            out.push_back(lo);
            out.push_back(hi);
        }
    }
    return out;
}

struct DecodeRow {
    const char* name;
    std::string text;
    std::string utf8;
};

TEST(SettingsEncoding, ByteOrderMarks) {
    ScopedLocale locale("C.UTF-8");
    ASSERT_TRUE(locale.ok());
    // o, p, e acute, euro sign, CJK character.
    const std::vector<unsigned> units = {'o', 'p', 0xE9, 0x20AC, 0x4E2D, '\r', '\n'};
    const std::string expected = "op\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD\r\n";
    const DecodeRow rows[] = {
        {"UTF-8 mark dropped, rest unchanged", "\xEF\xBB\xBFop\xC3\xA9", "op\xC3\xA9"},
        {"UTF-8 mark keeps invalid bytes", "\xEF\xBB\xBF" "a\xFF\xFE" "b", "a\xFF\xFE" "b"},
        {"UTF-8 mark only", "\xEF\xBB\xBF", ""},
        {"UTF-16 little-endian", "\xFF\xFE" + Utf16(units, false), expected},
        {"UTF-16 big-endian", "\xFE\xFF" + Utf16(units, true), expected},
        {"UTF-16 odd byte dropped", Bytes("\xFF\xFE" "A\0B"), "A"},
        {"UTF-16 ends at a zero unit", Bytes("\xFF\xFE" "A\0\0\0B\0"), "A"},
        {"UTF-16 mark only", "\xFF\xFE", ""},
        {"no mark: locale text", "op\xC3\xA9", "op\xC3\xA9"},
        {"no mark: undecodable bytes become U+FFFD", "ab\xFF" "cd", "ab\xEF\xBF\xBD" "cd"},
        {"no mark: conversion ends at a NUL", Bytes("ab\0cd"), "ab"},
        {"empty", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Decode(row.text), row.utf8);
    }
}

TEST(SettingsEncoding, LocaleTextWithoutMark) {
    struct Row {
        const char* name;
        std::string locale;
        std::string text;
        std::string utf8;
    };
    const std::string latin1 = settingstest::Latin1Locale();
    ASSERT_FALSE(latin1.empty()) << "no ISO-8859-1 locale could be compiled";
    const Row rows[] = {
        {"ISO-8859-1 e acute", latin1, "x=\xE9t\xE9", "x=\xC3\xA9t\xC3\xA9"},
        {"ISO-8859-1 upper half", latin1, "\xA0\xFF", "\xC2\xA0\xC3\xBF"},
        {"UTF-8 locale", "C.UTF-8", "x=\xC3\xA9", "x=\xC3\xA9"},
        {"C locale, ASCII", "C", "mainclass a.B\r\n", "mainclass a.B\r\n"},
        // The C locale's code set is ASCII: the text is read as UTF-8, and a
        // byte that is no UTF-8 becomes U+FFFD; no line is lost.
        {"C locale, UTF-8 text", "C", "# r\xC3\xA9glages\nvm x", "# r\xC3\xA9glages\nvm x"},
        {"C locale, invalid byte replaced", "C", "ab\xE9" "cd\nvm x", "ab\xEF\xBF\xBD" "cd\nvm x"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedLocale locale(row.locale.c_str());
        ASSERT_TRUE(locale.ok()) << row.locale;
        EXPECT_EQ(Decode(row.text), row.utf8);
    }
}

std::string LookUp(const std::string& buffer, const char* key, bool localeConversion) {
    CSettingsLoader loader(false);
    loader.Assign(buffer.data(), static_cast<int>(buffer.size()));
    return Str(loader.GetCommon(key, false, localeConversion));
}

TEST(SettingsEncoding, LocaleConversionOnLookup) {
    struct Row {
        const char* name;
        std::string locale;
        std::string value;      // UTF-8 in the settings buffer
        std::string converted;  // as looked up with locale conversion
    };
    const std::string latin1 = settingstest::Latin1Locale();
    ASSERT_FALSE(latin1.empty());
    const Row rows[] = {
        {"ASCII untouched", "C", "plain text", "plain text"},
        {"UTF-8 locale keeps UTF-8", "C.UTF-8", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC", "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC"},
        {"ISO-8859-1 gets single bytes", latin1, "\xC3\xA9t\xC3\xA9", "\xE9t\xE9"},
        {"ISO-8859-1 cannot hold the euro sign", latin1, "a\xE2\x82\xAC" "b", "a?b"},
        {"C locale gets UTF-8", "C", "a\xC3\xA9" "b \xF0\x9F\x98\x80", "a\xC3\xA9" "b \xF0\x9F\x98\x80"},
        {"truncated sequence at the end is lost", "C.UTF-8", "ab\xC3", "ab"},
        {"truncated three-byte sequence at the end", "C.UTF-8", "ab\xE2\x82", "ab"},
        {"lead byte without continuation", "C.UTF-8", "\xC3" "A", "?A"},
        {"three-byte lead, bad second byte", "C.UTF-8", "\xE2" "AB", "?AB"},
        {"three-byte lead, bad third byte", "C.UTF-8", "\xE2\x82" "AB", "?AB"},
        {"stray continuation byte", "C.UTF-8", "a\xA9" "b", "a?b"},
        {"four-byte sequence", "C.UTF-8", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedLocale locale(row.locale.c_str());
        ASSERT_TRUE(locale.ok()) << row.locale;
        const std::string buffer = "vm " + row.value + "\r\n";
        EXPECT_EQ(LookUp(buffer, "vm", true), row.converted);
        EXPECT_EQ(LookUp(buffer, "vm", false), row.value);
    }
}

TEST(SettingsEncoding, BlocksWithoutUtf8MarkInTheExecutable) {
    struct Row {
        const char* name;
        std::string block;   // the settings text as stored (T bytes)
        std::string buffer;  // the settings buffer up to its first NUL
    };
    ScopedLocale locale("C.UTF-8");
    ASSERT_TRUE(locale.ok());
    const std::vector<unsigned> line = {'v', 'm', ' ', 0xE9, '\r', '\n'};
    const Row rows[] = {
        {"UTF-16 keeps only what precedes the first zero byte", "\xFF\xFE" + Utf16(line, false) + "\0\0", "v"},
        {"UTF-16 big-endian stops at once", "\xFE\xFF" + Utf16(line, true) + "\0\0", ""},
        {"locale text", Bytes("vm \xC3\xA9\r\n\0"), "vm \xC3\xA9\r\n"},
    };
    tvxtest::TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tvxpack::Layout layout = settingstest::MakeLayout(settingstest::SyntheticImage(), {});
        layout.settings = row.block;
        const std::string path = dir / "app";
        settingstest::WriteExecutable(path, layout);
        CSettingsLoader loader(true, path.c_str());
        EXPECT_EQ(std::string(loader.c_str()), row.buffer);
    }
}

}  // namespace
