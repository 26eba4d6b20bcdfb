// Splitting and joining command lines, quoting, backslash escapes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/command_line.h"

namespace {

using Words = std::vector<std::string>;

// Splits `text` with CmdlineToArgv on a private, modifiable copy.
Words Split(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    CBufferT<char*> list;
    int n = CmdlineToArgv(list, buffer.data());
    EXPECT_EQ(n, list.GetSize());
    Words words;
    for (int i = 0; i < list.GetSize(); ++i) {
        // Every argument is rebuilt inside the text itself.
        EXPECT_GE(list[i], buffer.data());
        EXPECT_LT(list[i], buffer.data() + buffer.size());
        words.push_back(list[i]);
    }
    return words;
}

std::string Join(const Words& words, int first = 0) {
    std::vector<std::string> copy(words);
    std::vector<char*> argv;
    for (std::string& w : copy) argv.push_back(&w[0]);
    MyCString line = ArgvToCmdline(static_cast<int>(argv.size()), argv.data(), first);
    EXPECT_EQ(line.GetData()[line.GetSize()], '\0');
    return std::string(line.GetData(), line.GetSize());
}

std::string Show(const Words& words) {
    std::string out;
    for (const std::string& w : words) out += "[" + w + "]";
    return out;
}

TEST(CmdlineToArgv, Rows) {
    const struct {
        std::string text;
        Words expected;
    } rows[] = {
        {"a \"b c\" d\\\"e", {"a", "b c", "d\"e"}},
        {"a\\ b", {"a b"}},
        {"\"\"", {""}},
        {"   ", {}},
        {"\t \t", {}},
        {"", {}},
        {"abc\\", {"abc\\"}},
        {"\\", {"\\"}},
        {"\"a\\b\"", {"a\\b"}},
        {"\"a\\\\b\"", {"a\\b"}},
        {"\"a\\\"b\"", {"a\"b"}},
        {"a\\\\b", {"a\\b"}},
        {"a\\nb", {"anb"}},
        {" lead  trail ", {"lead", "trail"}},
        {"a\"\"b", {"ab"}},
        {"\"a b\"c", {"a bc"}},
        {"\"unterminated arg", {"unterminated arg"}},
        {"x \"\" y", {"x", "", "y"}},
        {"a\tb", {"a", "b"}},
        {"\"tab\tinside\"", {"tab\tinside"}},
        {"\\\"", {"\""}},
        {"\"\\\"", {"\""}},
        {"\"", {""}},
        {"\xC3\xA9 \xC3\xBC", {"\xC3\xA9", "\xC3\xBC"}},
        {"line\nfeed", {"line\nfeed"}},
        {"\"a\\\\\" b", {"a\\", "b"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("text <" + row.text + ">");
        EXPECT_EQ(Show(Split(row.text)), Show(row.expected));
    }
}

TEST(CmdlineToArgv, AppendsToTheListAcrossCalls) {
    char first[] = "a b";
    char second[] = "\"c d\"";
    char empty[] = "";
    CBufferT<char*> list;
    EXPECT_EQ(CmdlineToArgv(list, first), 2);
    EXPECT_EQ(CmdlineToArgv(list, empty), 2);
    EXPECT_EQ(CmdlineToArgv(list, second), 3);
    ASSERT_EQ(list.GetSize(), 3);
    EXPECT_STREQ(list[0], "a");
    EXPECT_STREQ(list[1], "b");
    EXPECT_STREQ(list[2], "c d");
    EXPECT_EQ(list[0], first);
    EXPECT_EQ(list[2], second);
    EXPECT_EQ(CmdlineToArgv(list, nullptr), 3);
}

TEST(ArgvToCmdline, Rows) {
    const struct {
        Words args;
        int first;
        std::string expected;
    } rows[] = {
        {{"a", "b c", "", "x\"y"}, 0, "a \"b c\" \"\" \"x\\\"y\""},
        {{}, 0, ""},
        {{"a", "b"}, 2, ""},
        {{"a", "b"}, 5, ""},
        {{"prog", "a"}, 1, "a"},
        {{"a\\b"}, 0, "\"a\\\\b\""},
        {{"tab\there"}, 0, "\"tab\there\""},
        {{"\xC3\xA9"}, 0, "\xC3\xA9"},
        {{""}, 0, "\"\""},
        {{"", ""}, 0, "\"\" \"\""},
        {{"plain", "-Dx=y"}, 0, "plain -Dx=y"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Show(row.args));
        EXPECT_EQ(Join(row.args, row.first), row.expected);
    }
    EXPECT_EQ(std::string(ArgvToCmdline(3, nullptr, 0).c_str()), "");
}

TEST(ArgvToCmdline, SplitsBackIntoTheSameArguments) {
    const Words rows[] = {
        {"a", "b c", "", "x\"y"},
        {""},
        {"", "", ""},
        {"\\"},
        {"trailing\\"},
        {"\\\\server\\share", "c:\\dir\\"},
        {"\"", "\"\"", "\\\""},
        {"say \"hi\"", "a\\\"b"},
        {"tab\there", "\t", " "},
        {"  spaces  "},
        {"\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC 5", "\xFF\xFE"},
        {"line\nfeed", "cr\rhere"},
        {"-Dprop=va lue", "--opt=\"q\"", "/x"},
        {"'single'", "$HOME", "`cmd`", "a;b|c&d"},
    };
    for (const Words& args : rows) {
        SCOPED_TRACE(Show(args));
        std::string line = Join(args);
        EXPECT_EQ(Show(Split(line)), Show(args)) << "line <" << line << ">";
    }
}

TEST(EscapeCmdLine, Rows) {
    const struct {
        std::string in;
        std::string out;
    } rows[] = {
        {"a\\b", "a\\\\b"},
        {"\"", "\\\""},
        {"\\\"", "\\\\\\\""},
        {"plain text", "plain text"},
        {"", ""},
        {"\xC3\xA9\t'", "\xC3\xA9\t'"},
        {std::string("a\0\"", 3), std::string("a\0\\\"", 4)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        MyCString escaped = EscapeCmdLine(MyCString(row.in.data(), static_cast<int>(row.in.size())));
        EXPECT_EQ(std::string(escaped.GetData(), escaped.GetSize()), row.out);
        EXPECT_EQ(escaped.GetData()[escaped.GetSize()], '\0');
    }
}

TEST(Unescape, Rows) {
    const struct {
        std::string in;
        std::string out;
    } rows[] = {
        {"a\\nb", "a\nb"},
        {"a\\qb", "aqb"},
        {"a\\", "a"},
        {"\\r\\t", "\r\t"},
        {"\\\\", "\\"},
        {"\\\\n", "\\n"},
        {"\\\"quoted\\\"", "\"quoted\""},
        {"", ""},
        {"no escapes", "no escapes"},
        {"\\", ""},
        {"100%s\\n", "100%s\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.in);
        MyCString out = unescape(row.in.c_str());
        EXPECT_EQ(std::string(out.GetData(), out.GetSize()), row.out);
    }
    EXPECT_EQ(unescape(nullptr).GetSize(), 0);
}

}  // namespace
