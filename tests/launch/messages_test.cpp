// The message table, safe formats, and the "message" override store.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launch/launch_driver.h"
#include "launch/messages.h"

namespace {

struct TableRow {
    unsigned id;
    const char* text;
};

TEST(Messages, TableHoldsEveryTextInOrder) {
    const TableRow expected[] = {
        {1, "Java Runtime Environment not found."},
        {2, "Java Runtime Environment not valid."},
        {3, "Java Virtual Machine initialize failed."},
        {4, "Java Virtual Machine starts failed."},
        {5, "Can not get the virtual machine version."},
        {6, "Java virtual machine version %s is too low, require %s or higher."},
        {7, "The main startup class could not be found."},
        {8, "The main startup class is not valid, main method missing."},
        {10, "Error"},
        {12, "Java virtual machine version %s is too high, version between %s and %s is required."},
        {13, "There is already an instance of this program running."},
        {70, "The application ended with an exception: %s"},
        {273, "Service '%s' installed successfully."},
        {274, "Service '%s' install failed, "},
        {275, "Service '%s' uninstalled successfully."},
        {276, "Service '%s' uninstall failed, "},
        {277, "the requested access was denied."},
        {278, "the service name already exists."},
        {279, "service is marked for delete at next startup."},
        {280, "the service already exists."},
        {281, "error occurs."},
        {282, "service does not exist."},
        {283, "it starts %s, not this executable."},
        {1024, "Service type application.\n\nUse /install to install service."},
    };
    size_t n = sizeof expected / sizeof expected[0];
    for (size_t i = 0; i < n; ++i) {
        SCOPED_TRACE(expected[i].id);
        EXPECT_EQ(msgTable[i].id, expected[i].id);
        EXPECT_STREQ(msgTable[i].text, expected[i].text);
        // Without "message" settings RSTR answers from the table.
        EXPECT_STREQ(RSTR(expected[i].id).c_str(), expected[i].text);
    }
    EXPECT_EQ(msgTable[n].id, 0u);
    EXPECT_STREQ(msgTable[n].text, "");
}

TEST(Messages, UnknownIdYieldsItsNumber) {
    for (unsigned id : {0u, 9u, 11u, 14u, 9999u, 4000000000u}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(std::string(RSTR(id).c_str()), std::to_string(id));
    }
}

TEST(Messages, SafeFormats) {
    struct Row {
        const char* text;
        int max;
        bool safe;
    } rows[] = {
        {"plain text", 0, true},
        {"", 0, true},
        {"%s", 1, true},
        {"%s", 0, false},
        {"a %s b %s", 2, true},
        {"a %s b %s", 1, false},
        {"100%% sure %s", 1, true},
        {"%s%s%s%s%s", 5, true},
        {"%s%s%s%s%s%s", 5, false},
        {"%n%s%s%s%s%s%s%x", 5, false},
        {"%d", 5, false},
        {"%x", 5, false},
        {"%5s", 5, false},
        {"%-s", 5, false},
        {"%.3s", 5, false},
        {"%ls", 5, false},
        {"trailing %", 5, false},
        {"%n", 5, false},
        {"%p", 5, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(IsSafeFormat(row.text, row.max), row.safe);
    }
}

TEST(Messages, PlaceholdersAreFilledOrTheTextIsPlain) {
    const char* args[5] = {"17.0.9", "1.5", "11", "", ""};
    struct Row {
        const char* text;
        const char* expected;
    } rows[] = {
        {"Java virtual machine version %s is too low, require %s or higher.",
         "Java virtual machine version 17.0.9 is too low, require 1.5 or higher."},
        {"Java virtual machine version %s is too high, version between %s and %s is required.",
         "Java virtual machine version 17.0.9 is too high, version between 1.5 and 11 is required."},
        {"[%s|%s|%s|%s|%s]", "[17.0.9|1.5|11||]"},
        {"50%% of %s", "50% of 17.0.9"},
        {"no placeholder", "no placeholder"},
        {"%n%s%s%s%s%s%s%x", "%n%s%s%s%s%s%s%x"},
        {"%s %s %s %s %s %s", "%s %s %s %s %s %s"},
        {"%d and %s", "%d and %s"},
        {"%", "%"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_STREQ(FormatPlaceholders(row.text, args, 5).c_str(), row.expected);
    }
}

// Looks every id of `ids` up in a store loaded from `values`.
std::vector<std::string> Lookups(const std::vector<std::string>& values, const std::vector<unsigned>& ids) {
    MyCStringArray settings;
    for (const std::string& v : values) settings.Add(v.c_str());
    CBufferT<unsigned int> pairs;
    MyCStringArray texts;
    LoadMessageOverrides(settings, pairs, texts);
    std::vector<std::string> found;
    for (unsigned id : ids) {
        MyCString text;
        found.push_back(FindMessageOverride(pairs, texts, id, text) ? std::string(text.c_str()) : "<none>");
    }
    return found;
}

TEST(Messages, OverrideStore) {
    struct Row {
        const char* name;
        std::vector<std::string> values;
        std::vector<unsigned> ids;
        std::vector<std::string> expected;
    } rows[] = {
        {"no lines", {}, {1, 13}, {"<none>", "<none>"}},
        {"replacement", {"1=Kein Java."}, {1, 2}, {"Kein Java.", "<none>"}},
        {"first line wins", {"13=first", "13=second"}, {13}, {"first"}},
        {"new id", {"4242=added"}, {4242}, {"added"}},
        {"zero, negative, no equals are skipped",
         {"0=zero", "-1=negative", "7 without equals", "7=kept"},
         {0, 7},
         {"<none>", "kept"}},
        {"leading blanks and trailing junk after the digits", {"  5abc=five"}, {5}, {"five"}},
        {"not a number", {"x=bad"}, {0}, {"<none>"}},
        {"a number beyond 32 bits does not wrap", {"4294967297=wrapped"}, {1}, {"<none>"}},
        {"escapes resolved", {"2=a\\tb\\nc\\qd\\"}, {2}, {"a\tb\ncqd"}},
        {"text may hold =", {"3=a=b"}, {3}, {"a=b"}},
        {"empty text", {"3="}, {3}, {""}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(Lookups(row.values, row.ids), row.expected);
    }
}

TEST(Messages, StoreEndsWithEndMark) {
    MyCStringArray settings;
    settings.Add("12=x");
    settings.Add("bad");
    CBufferT<unsigned int> pairs;
    MyCStringArray texts;
    LoadMessageOverrides(settings, pairs, texts);
    ASSERT_EQ(pairs.GetSize(), 4);
    EXPECT_EQ(pairs[0], 12u);
    EXPECT_EQ(pairs[1], 0u);
    EXPECT_EQ(pairs[2], 0u);
    EXPECT_EQ(pairs[3], 0u);
    EXPECT_EQ(texts.GetCount(), 1);

    // Even without lines the store is not empty once loaded.
    CBufferT<unsigned int> none;
    MyCStringArray noTexts;
    LoadMessageOverrides(MyCStringArray(), none, noTexts);
    EXPECT_EQ(none.GetSize(), 2);
}

TEST(Messages, ReportGoesToBothStreamsUnlessTheyShareAPath) {
    for (bool same : {false, true}) {
        SCOPED_TRACE(same);
        bStdredirSame = same;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        ReportMessage("%s%n hostile");
        std::string out = testing::internal::GetCapturedStdout();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, "%s%n hostile\n");
        EXPECT_EQ(out, same ? "" : "%s%n hostile\n");
    }
    bStdredirSame = false;
}

}  // namespace
