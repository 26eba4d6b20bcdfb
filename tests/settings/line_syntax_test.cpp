// Line reading and the syntax of settings lines.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_loader.h"
#include "tests/settings/settings_fixture.h"

namespace {

using settingstest::Bytes;

std::vector<std::string> ReadLines(const char* text) {
    CLineReader reader(text);
    std::vector<std::string> lines;
    MyCString line;
    while (reader.GetLine(line)) {
        lines.push_back(std::string(line.GetData(), line.GetLength()));
        if (lines.size() > 100) break;  // a reader that never ends
    }
    return lines;
}

struct LineEndRow {
    const char* name;
    const char* text;
    std::vector<std::string> lines;
};

TEST(LineReader, LineEnds) {
    const LineEndRow rows[] = {
        {"LF", "a\nb\n", {"a", "b"}},
        {"CR", "a\rb\r", {"a", "b"}},
        {"CR LF", "a\r\nb\r\n", {"a", "b"}},
        {"LF CR", "a\n\rb\n\r", {"a", "b"}},
        {"CR CR gives an empty line", "a\r\rb", {"a", "", "b"}},
        {"LF LF gives an empty line", "a\n\nb", {"a", "", "b"}},
        {"CR LF CR LF gives no empty line", "a\r\n\r\nb", {"a", "", "b"}},
        {"no final line end", "a\nlast", {"a", "last"}},
        {"leading empty line", "\nx", {"", "x"}},
        {"text ends at its NUL", "a\nb", {"a", "b"}},
        {"empty text", "", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ReadLines(row.text), row.lines);
    }
}

TEST(LineReader, NulEndsTheTextAndIsNeverPassed) {
    const char text[] = "one\r\n\0two\r\n";
    CLineReader reader(text);
    MyCString line;
    ASSERT_TRUE(reader.GetLine(line));
    EXPECT_STREQ(line, "one");
    EXPECT_FALSE(reader.GetLine(line));
    EXPECT_FALSE(reader.GetLine(line));
    EXPECT_EQ(reader.GetData(), text + 5);
}

TEST(LineReader, NullTextHasNoLines) {
    CLineReader reader(nullptr);
    MyCString line("unchanged");
    EXPECT_FALSE(reader.GetLine(line));
    EXPECT_STREQ(line, "unchanged");
}

void Collect(void* context, const char* value) { static_cast<std::vector<std::string>*>(context)->push_back(value); }

// Every value of `key` in a settings buffer holding `text`.
std::vector<std::string> Values(const std::string& text, const char* key) {
    CSettingsLoader loader(false);
    loader.Assign(text.data(), static_cast<int>(text.size()));
    std::vector<std::string> values;
    loader.EnumLines(key, Collect, &values, false, false, "");
    return values;
}

// The first value of `key` ("<none>" when no line carries it), checked
// against the value-returning form of the lookup.
std::string FirstValue(const std::string& text, const char* key) {
    std::vector<std::string> values = Values(text, key);
    CSettingsLoader loader(false);
    loader.Assign(text.data(), static_cast<int>(text.size()));
    MyCString first = loader.GetCommon(key, false, false);
    EXPECT_EQ(std::string(first.GetData(), first.GetLength()), values.empty() ? "" : values[0]);
    return values.empty() ? "<none>" : values[0];
}

struct SyntaxRow {
    const char* name;
    std::string text;
    const char* key;
    std::string value;  // "<none>": the key is not found
};

TEST(SettingsLineSyntax, KeyAndValue) {
    const std::string none = "<none>";
    const SyntaxRow rows[] = {
        {"space", "mainclass com.x.Main\r\n", "mainclass", "com.x.Main"},
        {"equals", "mainclass=com.x.Main\r\n", "mainclass", "com.x.Main"},
        {"equals with spaces", "mainclass = com.x.Main\r\n", "mainclass", "com.x.Main"},
        {"equals with many spaces", "mainclass   =   com.x.Main\r\n", "mainclass", "com.x.Main"},
        {"space before equals only", "mainclass =com.x.Main\r\n", "mainclass", "com.x.Main"},
        {"only one equals removed", "option ==x\r\n", "option", "=x"},
        {"leading spaces", "   mainclass x\r\n", "mainclass", "x"},
        {"leading tab is not skipped", "\tmainclass x\r\n", "mainclass", none},
        {"key in capitals", "MAINCLASS x\r\n", "mainclass", "x"},
        {"key in mixed case", "MainClass x\r\n", "mainclass", "x"},
        {"key asked in capitals", "mainclass x\r\n", "MAINCLASS", "x"},
        {"key followed by a letter", "options x\r\n", "option", none},
        {"key followed by a digit", "option2 x\r\n", "option", none},
        {"key followed by underscore", "jre_order sbc\r\n", "jre", none},
        {"longer key found", "jre_order sbc\r\n", "jre_order", "sbc"},
        {"key followed by a dash", "option-x y\r\n", "option", "-x y"},
        {"tab after the key is kept", "option\t-Xmx1g\r\n", "option", "\t-Xmx1g"},
        {"trailing spaces kept", "stdout out.log  \r\n", "stdout", "out.log  "},
        {"trailing tab kept", "stdout out.log\t\r\n", "stdout", "out.log\t"},
        {"key alone", "singleinstance\r\n", "singleinstance", ""},
        {"key and equals", "singleinstance=\r\n", "singleinstance", ""},
        {"key at end of text", "singleinstance", "singleinstance", ""},
        {"comment line", "# mainclass x\r\n", "mainclass", none},
        {"semicolon comment", ";mainclass x\r\n", "mainclass", none},
        {"first of several", "option a\r\noption b\r\n", "option", "a"},
        {"after empty lines", "\r\n\r\noption a\r\n", "option", "a"},
        {"value with equals inside", "property a=b\r\n", "property", "a=b"},
        {"key inside a line", "x mainclass y\r\n", "mainclass", none},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(FirstValue(row.text, row.key), row.value);
    }
}

TEST(SettingsLineSyntax, SameValueWhateverTheSeparator) {
    const char* forms[] = {"vm server", "vm=server", "vm = server", "vm   server", "vm=  server", "vm  =server"};
    for (const char* form : forms) {
        SCOPED_TRACE(form);
        EXPECT_EQ(FirstValue(std::string(form) + "\n", "vm"), "server");
    }
}

TEST(SettingsLineSyntax, LineEndsReadAlike) {
    const char* ends[] = {"\n", "\r", "\r\n", "\n\r"};
    for (const char* end : ends) {
        SCOPED_TRACE(testing::PrintToString(std::string(end)));
        std::string text = std::string("a 1") + end + "option x" + end + "b 2" + end;
        EXPECT_EQ(FirstValue(text, "option"), "x");
        EXPECT_EQ(FirstValue(text, "b"), "2");
    }
}

TEST(SettingsLineSyntax, EveryLineOfAKeyInOrder) {
    EXPECT_EQ(Values("option a\r\nx 1\r\nOPTION b\r\n\r\noption=c\r\noptions d\r\n", "option"),
              (std::vector<std::string>{"a", "b", "c"}));
}

TEST(SettingsLineSyntax, EmptyLinesAndEmptyKeyMatchNothing) {
    EXPECT_TRUE(Values("\r\n\r\n=x\r\n x\r\n", "").empty());
}

TEST(SettingsLineSyntax, NulInTheBufferEndsTheSettings) {
    EXPECT_EQ(Values(Bytes("option a\r\n\0option b\r\n"), "option"), std::vector<std::string>{"a"});
}

}  // namespace
