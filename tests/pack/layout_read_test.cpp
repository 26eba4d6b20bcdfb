// Reading an executable's layout back, and locating the archive comment the
// way the launcher does.
#include <gtest/gtest.h>

#include "pack/inspect.h"
#include "pack/launcher_view.h"
#include "pack/layout_writer.h"
#include "settings/layout.h"
#include "tests/pack/zip_fixture.h"
#include "tests/support/test_support.h"

namespace tvxpack {
namespace {

// A stand-in launcher image: bytes around one archive length record.
std::string FakeImage() {
    std::string image = "\x7f" "ELF" + std::string(3000, 'i');
    image += std::string(8, '\0') + std::string(tvx_layout::kRecordMarker, tvx_layout::kRecordMarkerSize);
    image += std::string(777, 'j');
    return image;
}

// A ZIP end record with `comment`, after `filler` bytes.
std::string EndRecord(size_t filler, const std::string& comment) {
    std::string z(filler, 'z');
    z += std::string("PK\x05\x06", 4) + std::string(16, '\0');
    z += static_cast<char>(comment.size() & 0xFF);
    z += static_cast<char>(comment.size() >> 8);
    return z + comment;
}

TEST(CommentLength, LauncherAndDeclaredViews) {
    const std::string sig("PK\x05\x06", 4);
    struct Row {
        const char* name;
        std::string file;
        long launcher;
        long declared;
    } rows[] = {
        {"no comment", EndRecord(100, ""), 0, 0},
        {"short comment", EndRecord(100, "hello"), 5, 5},
        {"signature in the comment's last 21 bytes is not seen", EndRecord(100, "ab" + sig), 6, 6},
        {"signature early in a long comment misleads the launcher",
         EndRecord(100, sig + std::string(40, 'c')), 22, 44},
        {"comment longer than the small-file window", EndRecord(10, std::string(60000, 'c')), -1, 60000},
        {"no end record", std::string(500, 'x'), -1, -1},
        {"too short for an end record", std::string(10, 'x'), -1, -1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(LauncherCommentLength(row.file, row.file.size()), row.launcher);
        EXPECT_EQ(DeclaredCommentLength(row.file), row.declared);
    }
}

TEST(CommentLength, LargeFilesAreSearchedOverTheirLastHundredth) {
    // 10,000,000 bytes: the window is 100,000 bytes; only the tail is given.
    const uint64_t size = 10000000;
    std::string tail = EndRecord(0, std::string(30000, 'c'));
    tail.insert(0, std::string(kMaxZipTail - tail.size(), 't'));
    EXPECT_EQ(LauncherCommentLength(tail, size), 30000);
    // The same comment in a file of 10 GiB: its window still reaches it.
    EXPECT_EQ(LauncherCommentLength(tail, uint64_t{10} << 30), 30000);
}

struct LayoutRow {
    const char* name;
    std::string firstUnread;
    std::string secondUnread;
    std::vector<std::string> lines;
    std::string comment;
};

class ReadLayout : public ::testing::Test {
protected:
    // Builds and writes an executable; returns its path.
    std::string Write(const LayoutRow& row, Layout* layout) {
        std::string jar = dir_ / "app.jar";
        packtest::WriteZip(jar, {{"a/A.class", std::string(5000, 'a')}, {"b.txt", "bee", false}}, row.comment);
        layout->image = FakeImage();
        layout->firstUnread = row.firstUnread;
        layout->secondUnread = row.secondUnread;
        layout->settings = EncodeSettingsBlock(row.lines);
        layout->archive = tvxtest::ReadFile(jar);
        std::string exe;
        std::string error;
        EXPECT_TRUE(BuildExecutable(*layout, &exe, &error)) << error;
        std::string path = dir_ / "exe";
        tvxtest::WriteFile(path, exe, 0755);
        return path;
    }
    tvxtest::TempDir dir_;
};

TEST_F(ReadLayout, LocatesEveryPieceAsTheLauncherDoes) {
    const LayoutRow rows[] = {
        {"empty unread blocks", "", "", {"mainclass a.A", "option -Xmx64m"}, ""},
        {"unread blocks", "first block", std::string(300, 'r'), {"mainclass a.A"}, ""},
        {"archive comment", "", "", {"mainclass a.A", "property k=v"}, "a comment of the jar"},
        {"all pieces", "s", "rr", {"mainclass a.A", "", "argv x"}, std::string(2000, 'm')},
    };
    for (const LayoutRow& row : rows) {
        SCOPED_TRACE(row.name);
        Layout built;
        std::string path = Write(row, &built);
        ExecutableLayout l;
        std::string error;
        ASSERT_TRUE(ReadExecutableLayout(path, &l, &error)) << error;
        const uint64_t image = built.image.size();
        const uint64_t archiveLength = built.archive.size() - row.comment.size();
        EXPECT_EQ(l.imageSize, image);
        EXPECT_EQ(l.recordOffset, static_cast<uint64_t>(FindLengthRecord(built.image)));
        EXPECT_EQ(l.firstUnreadOffset, image);
        EXPECT_EQ(l.firstUnreadLength, row.firstUnread.size());
        EXPECT_EQ(l.secondUnreadOffset, image + row.firstUnread.size() + 4);
        EXPECT_EQ(l.secondUnreadLength, row.secondUnread.size());
        EXPECT_EQ(l.settingsOffset, l.secondUnreadOffset + row.secondUnread.size() + 4);
        EXPECT_EQ(l.settingsText, built.settings);
        EXPECT_EQ(l.opaqueOffset, l.settingsOffset + built.settings.size() + 4);
        EXPECT_EQ(l.archiveOffset, l.opaqueOffset + 16);
        EXPECT_EQ(l.archiveLength, archiveLength);
        EXPECT_EQ(l.commentLength, row.comment.size());
        EXPECT_EQ(l.commentOffset + l.commentLength, l.fileSize);

        // The launcher's own reader lands on the same place and lines.
        LauncherView view = ReadAsLauncher(path);
        EXPECT_EQ(static_cast<uint64_t>(view.remarkEnd), l.opaqueOffset);
        EXPECT_EQ(view.embedded, row.lines);
        EXPECT_TRUE(view.external.empty());
    }
}

TEST_F(ReadLayout, RejectsFilesWhoseFieldsDoNotFit) {
    Layout built;
    std::string path = Write({"base", "", "", {"mainclass a.A"}, ""}, &built);
    const std::string good = tvxtest::ReadFile(path);
    ExecutableLayout l;
    std::string error;
    ASSERT_TRUE(ReadExecutableLayout(path, &l, &error)) << error;

    auto patched = [&](uint64_t offset, uint32_t value) {
        std::string copy = good;
        tvx_layout::WriteLE32(reinterpret_cast<unsigned char*>(&copy[offset]), value);
        return copy;
    };
    struct Row {
        const char* name;
        std::string content;
        const char* error;
    } rows[] = {
        {"no record", good.substr(0, 3000) + good.substr(3100), "no archive length record"},
        {"archive length beyond the file", patched(l.recordOffset, 0xFFFFFF00u), "archive length"},
        {"settings length beyond the image", patched(l.opaqueOffset - 4, 0x7FFFFFF0u), "settings length"},
        {"second unread length too large", patched(l.settingsOffset - 4, 0x00FFFFFFu), "second unread length"},
        {"first unread length too large", patched(l.secondUnreadOffset - 4, 0x00FFFFFFu), "first unread length"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string bad = dir_ / "bad";
        tvxtest::WriteFile(bad, row.content);
        ExecutableLayout out;
        EXPECT_FALSE(ReadExecutableLayout(bad, &out, &error));
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
    }
    EXPECT_FALSE(ReadExecutableLayout(dir_ / "missing", &l, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}

TEST_F(ReadLayout, FormatShowsSizesOffsetsAndLines) {
    Layout built;
    std::string path = Write({"fmt", "", "", {"mainclass a.A", "option -Xss1m"}, "cmt"}, &built);
    ExecutableLayout l;
    std::string error;
    ASSERT_TRUE(ReadExecutableLayout(path, &l, &error)) << error;
    std::string text = FormatLayout(path, l, ReadAsLauncher(path));
    auto row = [](const char* piece, uint64_t offset, uint64_t size) {
        char buffer[128];
        snprintf(buffer, sizeof buffer, "%-22s %12llu %12llu", piece, static_cast<unsigned long long>(offset),
                 static_cast<unsigned long long>(size));
        return std::string(buffer);
    };
    EXPECT_NE(text.find(row("launcher image", 0, l.imageSize)), std::string::npos) << text;
    EXPECT_NE(text.find(row("settings text T", l.settingsOffset, built.settings.size())), std::string::npos) << text;
    EXPECT_NE(text.find(row("opaque field", l.opaqueOffset, 16)), std::string::npos) << text;
    EXPECT_NE(text.find(row("archive A", l.archiveOffset, built.archive.size() - 3)), std::string::npos) << text;
    EXPECT_NE(text.find(row("archive comment M", l.fileSize - 3, 3)), std::string::npos) << text;
    EXPECT_NE(text.find(row("file size", 0, l.fileSize)), std::string::npos) << text;
    EXPECT_NE(text.find("(2 lines):\n  mainclass a.A\n  option -Xss1m\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("warning"), std::string::npos) << text;

    LauncherView lost;  // a launcher that finds nothing
    EXPECT_NE(FormatLayout(path, l, lost).find("warning: the launcher finds no settings block"), std::string::npos);
}

}  // namespace
}  // namespace tvxpack
