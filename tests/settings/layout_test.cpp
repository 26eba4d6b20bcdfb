// Finding the settings block in executables of every layout, built with the
// generator's own code, and refusing damaged ones without reading outside
// the file.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/layout.h"
#include "settings/settings_loader.h"
#include "tests/settings/settings_fixture.h"

namespace {

using settingstest::MakeLayout;
using settingstest::ReadLE32At;
using settingstest::WriteLE32At;
using settingstest::ZipArchive;

struct ImageKind {
    const char* name;
    std::string (*image)();
};

const ImageKind kImages[] = {
    {"synthetic", settingstest::SyntheticImage},
    {"probe", settingstest::ProbeImage},
};

std::string ImageName(const testing::TestParamInfo<ImageKind>& info) { return info.param.name; }
void PrintTo(const ImageKind& kind, std::ostream* os) { *os << kind.name; }

const std::vector<std::string> kLines = {"mainclass com.example.Main", "option -Xmx64m", "option -Dk=v"};

using settingstest::Str;

std::vector<std::string> All(CSettingsLoader& loader, const char* key) {
    MyCStringArray values;
    loader.GetAll(key, values);
    std::vector<std::string> out;
    for (int i = 0; i < values.GetCount(); ++i) out.push_back(values[i]);
    return out;
}

void ExpectSettingsRead(CSettingsLoader& loader) {
    EXPECT_EQ(Str(loader.GetCommon("mainclass", true)), "com.example.Main");
    EXPECT_EQ(All(loader, "option"), (std::vector<std::string>{"-Xmx64m", "-Dk=v"}));
}

void ExpectNoSettings(CSettingsLoader& loader) {
    EXPECT_EQ(strlen(loader.c_str()), 0u);
    EXPECT_EQ(Str(loader.GetCommon("mainclass", true)), "");
    EXPECT_TRUE(All(loader, "option").empty());
}

// How the archive comment's length is chosen.
enum CommentRule {
    kFixed,           // `comment` bytes
    kLargeEdge,       // the longest comment the F / 100 window still finds
    kLargeEdgePlusOne,
};

struct LayoutRow {
    const char* name;
    size_t firstUnread;
    size_t secondUnread;
    size_t payload;  // bytes stored in the archive
    CommentRule rule;
    size_t comment;
    bool found;
};

// The longest comment M for which the end record still lies in the window
// of a file of base + M bytes (base >= the large-file limit).
size_t LargeWindowEdge(size_t base) {
    size_t m = base / 99 + 2;
    while (m > (base + m) / 100) --m;
    return m;
}

class SettingsLayout : public testing::TestWithParam<ImageKind> {
protected:
    tvxtest::TempDir dir_;
};

TEST_P(SettingsLayout, FindsTheSettingsInEveryLayout) {
    const size_t kSmall = tvx_layout::kSmallFileWindow;
    const LayoutRow rows[] = {
        {"no unread blocks, no comment", 0, 0, 100, kFixed, 0, true},
        {"one-byte comment", 0, 0, 100, kFixed, 1, true},
        {"comment of 1000 bytes", 0, 0, 100, kFixed, 1000, true},
        {"both unread blocks", 100, 37, 100, kFixed, 0, true},
        {"unread blocks and comment", 5, 9, 2000, kFixed, 300, true},
        {"comment filling the small-file window", 0, 0, 100, kFixed, kSmall, true},
        {"comment one byte beyond the small-file window", 0, 0, 100, kFixed, kSmall + 1, false},
        {"large file, comment beyond 51200 within F / 100", 0, 0, 8000000, kFixed, 70000, true},
        {"large file, comment filling the F / 100 window", 3, 4, 8000000, kLargeEdge, 0, true},
        {"large file, comment one byte beyond F / 100", 0, 0, 8000000, kLargeEdgePlusOne, 0, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tvxpack::Layout layout = MakeLayout(GetParam().image(), kLines);
        layout.firstUnread = std::string(row.firstUnread, 'S');
        layout.secondUnread = std::string(row.secondUnread, 'R');
        size_t comment = row.comment;
        if (row.rule != kFixed) {
            const size_t base = layout.image.size() + tvxpack::AppendedHeader(layout).size() +
                                ZipArchive(row.payload).size();
            ASSERT_GE(base, tvx_layout::kSmallFileLimit);
            comment = LargeWindowEdge(base) + (row.rule == kLargeEdgePlusOne ? 1 : 0);
            ASSERT_GT(comment, kSmall);
        }
        layout.archive = ZipArchive(row.payload, std::string(comment, 'c'));
        const std::string path = dir_ / "app";
        const std::string bytes = settingstest::WriteExecutable(path, layout);

        CSettingsLoader loader(true, path.c_str());
        if (!row.found) {
            ExpectNoSettings(loader);
            EXPECT_EQ(loader.RemarkEndOffset(), 0);
            continue;
        }
        const size_t end = settingstest::ExpectedRemarkEnd(layout, bytes.size());
        EXPECT_EQ(static_cast<size_t>(loader.RemarkEndOffset()), end);
        EXPECT_EQ(ReadLE32At(bytes, end - 4), layout.settings.size());
        ExpectSettingsRead(loader);
        // The buffer holds the block without its byte-order mark.
        const std::string text = layout.settings.substr(3, layout.settings.size() - 4);
        EXPECT_EQ(std::string(loader.c_str()), text);
        if (row.firstUnread == 0 && row.secondUnread == 0) {
            // The appended data begins with the two zero lengths.
            const size_t appended = end - layout.settings.size() - 12;
            EXPECT_EQ(appended, layout.image.size());
            EXPECT_EQ(bytes.substr(appended, 8), std::string(8, '\0'));
        }
    }
}

// Positions in a built executable that the damage rows alter.
struct Places {
    size_t record;   // the archive length record
    size_t end;      // E
    size_t size;     // F
    size_t comment;  // M
};

enum Outcome {
    kKept,    // the settings are still read
    kNoEnd,   // E is refused: no settings
    kNoText,  // E stands but the length T is refused: no settings
};

struct DamageRow {
    const char* name;
    void (*damage)(std::string& bytes, const Places& at);
    Outcome outcome;
};

TEST_P(SettingsLayout, DamagedExecutablesGiveEmptySettings) {
    const DamageRow rows[] = {
        {"empty file", [](std::string& b, const Places&) { b.clear(); }, kNoEnd},
        {"image without appended data", [](std::string& b, const Places& at) {
             b.resize(at.end - 12 - 43); }, kNoEnd},
        {"record never patched", [](std::string& b, const Places& at) {
             WriteLE32At(b, at.record, 0); }, kNoEnd},
        {"A beyond the file", [](std::string& b, const Places& at) {
             WriteLE32At(b, at.record, static_cast<uint32_t>(at.size + 1)); }, kNoEnd},
        {"A huge", [](std::string& b, const Places& at) { WriteLE32At(b, at.record, 0xFFFFFFFFu); }, kNoEnd},
        {"A one too small", [](std::string& b, const Places& at) {
             WriteLE32At(b, at.record, ReadLE32At(b, at.record) - 1); }, kNoEnd},
        {"A one too large", [](std::string& b, const Places& at) {
             WriteLE32At(b, at.record, ReadLE32At(b, at.record) + 1); }, kNoEnd},
        {"T one beyond the file's start", [](std::string& b, const Places& at) {
             WriteLE32At(b, at.end - 4, static_cast<uint32_t>(at.end - 4 + 1)); }, kNoText},
        {"T huge", [](std::string& b, const Places& at) { WriteLE32At(b, at.end - 4, 0xFFFFFFFFu); }, kNoText},
        {"T near 2 GiB", [](std::string& b, const Places& at) { WriteLE32At(b, at.end - 4, 0x7FFFFFFFu); }, kNoText},
        {"T zero", [](std::string& b, const Places& at) { WriteLE32At(b, at.end - 4, 0); }, kNoText},
        {"truncated inside the archive", [](std::string& b, const Places& at) {
             b.resize(at.size - at.comment - 30); }, kNoEnd},
        {"truncated inside the settings", [](std::string& b, const Places& at) {
             b.resize(at.end - 10); }, kNoEnd},
        {"truncated inside the record", [](std::string& b, const Places& at) {
             b.resize(at.record + 12); }, kNoEnd},
        {"truncated inside the comment", [](std::string& b, const Places& at) {
             b.resize(at.size - at.comment / 2); }, kKept},
        {"opaque field altered", [](std::string& b, const Places& at) {
             b.replace(at.end, 16, std::string(16, '\xEE')); }, kKept},
        {"unread lengths altered", [](std::string& b, const Places& at) {
             const size_t t = ReadLE32At(b, at.end - 4);
             WriteLE32At(b, at.end - 4 - t - 4, 0xFFFFFFFFu);
             WriteLE32At(b, at.end - 4 - t - 8, 0xFFFFFFFFu); }, kKept},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tvxpack::Layout layout = MakeLayout(GetParam().image(), kLines, ZipArchive(500, std::string(40, 'm')));
        layout.firstUnread = std::string(43, 's');  // "image without appended data" cuts these too
        std::string bytes;
        std::string error;
        ASSERT_TRUE(tvxpack::BuildExecutable(layout, &bytes, &error)) << error;
        Places at;
        at.record = static_cast<size_t>(tvxpack::FindLengthRecord(layout.image));
        at.size = bytes.size();
        at.comment = 40;
        at.end = settingstest::ExpectedRemarkEnd(layout, bytes.size());
        ASSERT_EQ(at.end - layout.settings.size() - 4 - 4 - 4 - 43, layout.image.size());
        row.damage(bytes, at);
        const std::string path = dir_ / "damaged";
        tvxtest::WriteFile(path, bytes, 0755);

        CSettingsLoader loader(true, path.c_str());
        if (row.outcome == kKept) {
            ExpectSettingsRead(loader);
        } else {
            ExpectNoSettings(loader);
            const size_t end = row.outcome == kNoEnd ? 0 : at.end;
            EXPECT_EQ(static_cast<size_t>(loader.RemarkEndOffset()), end);
        }
    }
}

TEST_P(SettingsLayout, UnreadableExecutablesGiveEmptySettings) {
    tvxtest::MakeDirs(dir_ / "a-directory");
    const std::string paths[] = {dir_ / "missing", dir_ / "a-directory", ""};
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        CSettingsLoader loader(true, path.c_str());
        ExpectNoSettings(loader);
        EXPECT_EQ(loader.RemarkEndOffset(), 0);
        EXPECT_EQ(std::string(loader.ExePath().c_str()), path);
    }
}

TEST_P(SettingsLayout, CommentOfTheExecutable) {
    struct Row {
        const char* name;
        std::string comment;
    } rows[] = {
        {"none", ""},
        {"text", "a comment"},
        {"with zero bytes", std::string("a\0b\0", 4)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        tvxpack::Layout layout = MakeLayout(GetParam().image(), kLines, ZipArchive(10, row.comment));
        const std::string path = dir_ / "app";
        settingstest::WriteExecutable(path, layout);
        CZipRemark remark(path.c_str());
        EXPECT_EQ(std::string(remark.GetData(), remark.GetLength()), row.comment);
    }
    // No end record in the window: no comment.
    const std::string plain = dir_ / "plain";
    tvxtest::WriteFile(plain, GetParam().image());
    CZipRemark none(plain.c_str());
    EXPECT_EQ(none.GetLength(), 0);
}

INSTANTIATE_TEST_SUITE_P(Images, SettingsLayout, testing::ValuesIn(kImages), ImageName);

TEST(SettingsLayoutRecord, TheMarkerOccursOnceInTheProbeImage) {
    EXPECT_GE(tvxpack::FindLengthRecord(settingstest::ProbeImage()), 0);
}

}  // namespace
