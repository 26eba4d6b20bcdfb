// tvx-pack run as a separate program: what it writes, and that the result
// is still a jar that the JDK, unzip and the launcher read.
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "pack/launcher_view.h"
#include "pack/layout_writer.h"
#include "settings/layout.h"
#include "tests/pack/pack_e2e_util.h"
#include "tests/pack/zip_fixture.h"

namespace packtest {
namespace {

class Pack : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_ / name; }

    // Packs `jar` into `output` with the extra arguments; asserts success.
    void PackOk(const std::vector<std::string>& extra, const std::string& output, const std::string& jar) {
        std::vector<std::string> args = extra;
        args.insert(args.end(), {"-o", output, jar});
        tvxtest::RunResult r = RunPack(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
    }

    tvxtest::TempDir dir_;
};

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST_F(Pack, SettingsBlockTakesEachSourceInOrder) {
    struct Row {
        const char* name;
        const char* settingsFile;  // content, or null for none
        std::vector<std::string> args;
        std::vector<std::string> lines;
    } rows[] = {
        {"main class from the manifest", nullptr, {}, {"mainclass packtest.Hello", "startupcache true"}},
        {"main class from --main", nullptr, {"--main", "packtest.Other"}, {"mainclass packtest.Other", "startupcache true"}},
        {"manifest, file, then --set lines",
         "\xEF\xBB\xBFoption -Xss1m\r\nproperty a=b\r\n",
         {"--set", "option -Xmx64m", "--set", "property=app.mode=fast"},
         {"mainclass packtest.Hello", "startupcache true", "option -Xss1m", "property a=b", "option -Xmx64m",
          "property=app.mode=fast"}},
        {"a mainclass line in the file replaces the manifest", "MainClass packtest.Other\nargv x\n", {},
         {"startupcache true", "MainClass packtest.Other", "argv x"}},
        {"a --set mainclass line replaces the manifest", nullptr, {"--set", "mainclass=packtest.Other"},
         {"startupcache true", "mainclass=packtest.Other"}},
        {"--main first, UTF-8 values kept", "property greeting=h\xC3\xA9llo\n",
         {"--set", "property who=w\xC3\xB6rld", "--main", "packtest.Other"},
         {"mainclass packtest.Other", "startupcache true", "property greeting=h\xC3\xA9llo", "property who=w\xC3\xB6rld"}},
        {"no startup cache line with --no-startup-cache", nullptr, {"--no-startup-cache"}, {"mainclass packtest.Hello"}},
        {"a startupcache line of the file replaces the default", "startupcache false\n", {},
         {"mainclass packtest.Hello", "startupcache false"}},
        {"so does one of --set", nullptr, {"--set", "StartupCache /srv/c"}, {"mainclass packtest.Hello", "StartupCache /srv/c"}},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string out = Path("exe" + std::to_string(++n));
        std::vector<std::string> args = row.args;
        if (row.settingsFile) {
            tvxtest::WriteFile(Path("settings.txt"), row.settingsFile);
            args.insert(args.end(), {"--settings", Path("settings.txt")});
        }
        PackOk(args, out, TestJar());
        tvxpack::ExecutableLayout layout = LayoutOf(out);
        EXPECT_EQ(layout.firstUnreadLength, 0u);
        EXPECT_EQ(layout.secondUnreadLength, 0u);
        // Stored as UTF-8 with a byte-order mark, CR LF line ends and a NUL.
        EXPECT_EQ(layout.settingsText, tvxpack::EncodeSettingsBlock(row.lines));
        const std::string file = tvxtest::ReadFile(out);
        EXPECT_EQ(file.substr(layout.imageSize, 8), std::string(8, '\0')) << "S = R = 0";
        EXPECT_EQ(file.substr(layout.opaqueOffset, 16), std::string(16, '\0')) << "opaque field";
        EXPECT_EQ(file.substr(layout.archiveOffset, 4), "PK\x03\x04");
        // The launcher's reader sees exactly these lines.
        tvxpack::LauncherView view = tvxpack::ReadAsLauncher(out);
        EXPECT_EQ(static_cast<uint64_t>(view.remarkEnd), layout.opaqueOffset);
        EXPECT_EQ(view.embedded, row.lines);
    }
}

TEST_F(Pack, OutputIsStillAJarForUnzipTheJdkAndJava) {
    const std::string exe = Path("app");
    PackOk({}, exe, TestJar());

    // unzip warns about the launcher before the archive, and nothing else.
    tvxtest::RunResult unzip = tvxtest::Run({"unzip", "-t", exe});
    EXPECT_TRUE(unzip.exitCode == 0 || unzip.exitCode == 1) << unzip.out << unzip.err;
    EXPECT_NE(unzip.out.find("No errors detected in compressed data"), std::string::npos) << unzip.out;
    int tested = 0;
    for (const std::string& line : SplitLines(unzip.out + unzip.err)) {
        if (line.find("testing: ") != std::string::npos) {
            ++tested;
            EXPECT_NE(line.find(" OK"), std::string::npos) << line;
            continue;
        }
        bool known = line.rfind("Archive:", 0) == 0 || line.find("extra bytes at beginning") != std::string::npos ||
                     line.find("(attempting to process anyway)") != std::string::npos ||
                     line.find("No errors detected") != std::string::npos;
        EXPECT_TRUE(known) << "unexpected unzip line: " << line;
    }

    tvxtest::RunResult jar = tvxtest::Run({tvxtest::JdkHome() + "/bin/jar", "tf", exe});
    ASSERT_EQ(jar.exitCode, 0) << jar.err;
    std::vector<std::string> listed = SplitLines(jar.out);
    std::set<std::string> names(listed.begin(), listed.end());
    EXPECT_EQ(names.size(), listed.size()) << "no entry twice";
    EXPECT_EQ(static_cast<int>(listed.size()), tested);
    std::vector<std::string> expected = {"META-INF/MANIFEST.MF", "packtest/Hello.class", "packtest/Other.class"};
    for (const std::string& helper : HelperClassNames()) expected.push_back(helper);
    for (const std::string& name : expected) EXPECT_EQ(names.count(name), 1u) << name;

    tvxtest::RunResult java = tvxtest::Run({tvxtest::JavaHome() + "/bin/java", "-cp", exe, "packtest.Hello", "a", "b"});
    ASSERT_EQ(java.exitCode, 0) << java.err;
    EXPECT_EQ(java.out, "main=packtest.Hello\nargs=a,b\nmode=null\nhelper=com.brindell.tvx.Instances\n");
}

TEST_F(Pack, EntriesAreCopiedNotRecompressed) {
    const std::string made = Path("made.jar");
    WriteZip(made, {{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: x.Main\r\n\r\n"},
                    {"x/Main.class", std::string(20000, 'm')},
                    {"stored.txt", "kept as it is, not compressed", false},
                    {"random.bin", RandomBytes(300000, 7)},
                    {"text.txt", std::string(100000, 't') + "end"},
                    {"empty.txt", ""},
                    {"dir/", ""}});
    const ArchiveView helpers = ReadArchive(HelpersJar());
    ASSERT_TRUE(helpers.ok) << helpers.error;
    for (const std::string& jar : {TestJar(), made}) {
        SCOPED_TRACE(jar);
        const std::string exe = Path("exe");
        PackOk({}, exe, jar);
        const ArchiveView in = ReadArchive(jar);
        const ArchiveView out = ReadArchive(exe, LayoutOf(exe).archiveOffset);
        ASSERT_TRUE(in.ok) << in.error;
        ASSERT_TRUE(out.ok) << out.error;
        EXPECT_EQ(out.entries.size(), in.entries.size() + HelperClassNames().size());
        for (const auto& [name, entry] : in.entries) {
            SCOPED_TRACE(name);
            ASSERT_EQ(out.entries.count(name), 1u);
            const RawEntry& copied = out.entries.at(name);
            EXPECT_EQ(copied.method, entry.method);
            EXPECT_EQ(copied.crc, entry.crc);
            EXPECT_EQ(copied.size, entry.size);
            EXPECT_EQ(copied.mtime, entry.mtime);
            EXPECT_TRUE(copied.raw == entry.raw) << "compressed bytes differ";
        }
        for (const std::string& name : HelperClassNames()) {
            SCOPED_TRACE(name);
            ASSERT_EQ(out.entries.count(name), 1u);
            EXPECT_TRUE(out.entries.at(name).raw == helpers.entries.at(name).raw);
            EXPECT_EQ(out.entries.at(name).method, helpers.entries.at(name).method);
        }
    }
}

// Entry times survive exactly, even ones that do not exist in the local
// time zone (a daylight-saving gap), whatever zone tvx-pack runs in.
TEST_F(Pack, EntryTimesAreKeptExactly) {
    const char* oldTz = getenv("TZ");
    const std::string savedTz = oldTz ? oldTz : "";
    setenv("TZ", "UTC0", 1);  // read and write DOS times without a zone
    tzset();
    const int64_t gap = 1615689000;    // 2021-03-14 02:30 UTC; 02:30 does not exist in New York that day
    const int64_t winter = 1609470000; // 2021-01-01 03:00 UTC
    const std::string jar = Path("times.jar");
    WriteZip(jar, {{"t/Main.class", "t", true, gap}, {"t/other.txt", "o", false, winter}});
    const std::string exe = Path("exe");
    tvxtest::RunOptions options;
    options.setEnv["TZ"] = "America/New_York";
    tvxtest::RunResult r = tvxtest::Run({PackProgram(), "--main", "t.Main", "-o", exe, jar}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const ArchiveView in = ReadArchive(jar);
    const ArchiveView out = ReadArchive(exe, LayoutOf(exe).archiveOffset);
    if (oldTz) {
        setenv("TZ", savedTz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    ASSERT_TRUE(in.ok && out.ok) << in.error << out.error;
    EXPECT_EQ(in.entries.at("t/Main.class").mtime, gap);
    EXPECT_EQ(out.entries.at("t/Main.class").mtime, gap);
    EXPECT_EQ(out.entries.at("t/other.txt").mtime, winter);
}

TEST_F(Pack, JarCommentStaysTheArchiveComment) {
    const std::string comment = "built for tvx \xE2\x9C\x93 (a jar comment)";
    const std::string jar = Path("commented.jar");
    WriteZip(jar, {{"c/Main.class", "cafebabe"}}, comment);
    const std::string exe = Path("exe");
    PackOk({"--main", "c.Main"}, exe, jar);
    const std::string file = tvxtest::ReadFile(exe);
    ASSERT_GT(file.size(), comment.size());
    EXPECT_EQ(file.substr(file.size() - comment.size()), comment);
    tvxpack::ExecutableLayout layout = LayoutOf(exe);
    EXPECT_EQ(layout.commentLength, comment.size());
    EXPECT_EQ(ReadArchive(exe, layout.archiveOffset).comment, comment);
    EXPECT_EQ(tvxpack::ReadAsLauncher(exe).embedded, (std::vector<std::string>{"mainclass c.Main", "startupcache true"}));
}

TEST_F(Pack, HelperClassesAlreadyInTheJarAreKept) {
    // A jar made of the helper classes themselves is copied byte for byte.
    const std::string whole = Path("whole.jar");
    tvxtest::WriteFile(whole, tvxtest::ReadFile(HelpersJar()));
    PackOk({"--main", "com.brindell.tvx.Instances"}, Path("exe1"), whole);
    tvxpack::ExecutableLayout layout = LayoutOf(Path("exe1"));
    EXPECT_TRUE(tvxtest::ReadFile(Path("exe1")).substr(layout.archiveOffset) == tvxtest::ReadFile(whole));

    // A jar with its own copy of one helper class keeps that copy.
    const std::string mine = "my own Instances.class";
    const std::string partial = Path("partial.jar");
    WriteZip(partial, {{"com/brindell/tvx/Instances.class", mine, false}, {"p/Main.class", "main"}});
    PackOk({"--main", "p.Main"}, Path("exe2"), partial);
    const ArchiveView out = ReadArchive(Path("exe2"), LayoutOf(Path("exe2")).archiveOffset);
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_EQ(out.entries.at("com/brindell/tvx/Instances.class").raw, mine);
    for (const std::string& name : HelperClassNames()) EXPECT_EQ(out.entries.count(name), 1u) << name;
    EXPECT_EQ(out.entries.size(), HelperClassNames().size() + 1);
}

// Jars libzip reads but whose bytes cannot be the archive as they are: the
// archive is written anew from the first entry on.
TEST_F(Pack, UnusualJarsAreRewrittenFromTheirFirstEntry) {
    const std::string entriesJar = Path("entries.jar");
    WriteZip(entriesJar, {{"u/Main.class", std::string(4000, 'u')}, {"u/data.txt", "data", false}});
    struct Row {
        const char* name;
        std::string bytes;
        bool prefixed;  // offsets adjusted with zip -A after adding a prefix
        size_t appEntries;
    } rows[] = {
        {"an empty archive", std::string("PK\x05\x06", 4) + std::string(18, '\0'), false, 0},
        {"a script before the archive", "#!/bin/sh\necho self-extracting\nexit 0\n" + tvxtest::ReadFile(entriesJar),
         true, 2},
    };
    const ArchiveView original = ReadArchive(entriesJar);
    ASSERT_TRUE(original.ok) << original.error;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string jar = Path("unusual.jar");
        tvxtest::WriteFile(jar, row.bytes);
        if (row.prefixed) {
            ASSERT_EQ(tvxtest::Run({"zip", "-q", "-A", jar}).exitCode, 0);
        }
        const std::string exe = Path("exe");
        PackOk({"--main", "u.Main", "--no-check"}, exe, jar);  // the empty archive holds no class
        tvxpack::ExecutableLayout layout = LayoutOf(exe);
        EXPECT_EQ(tvxtest::ReadFile(exe).substr(layout.archiveOffset, 4), "PK\x03\x04");
        const ArchiveView out = ReadArchive(exe, layout.archiveOffset);
        ASSERT_TRUE(out.ok) << out.error;
        EXPECT_EQ(out.entries.size(), row.appEntries + HelperClassNames().size());
        for (const std::string& name : HelperClassNames()) EXPECT_EQ(out.entries.count(name), 1u) << name;
        if (row.appEntries > 0) {
            EXPECT_TRUE(out.entries.at("u/Main.class").raw == original.entries.at("u/Main.class").raw);
            EXPECT_EQ(out.entries.at("u/data.txt").raw, "data");
        }
        tvxtest::RunResult jarTool = tvxtest::Run({tvxtest::JdkHome() + "/bin/jar", "tf", exe});
        EXPECT_EQ(jarTool.exitCode, 0) << jarTool.err;
    }
}

TEST_F(Pack, OutputIsMode0755AndReplacesAnOldFileWhole) {
    const std::string exe = Path("app");
    tvxtest::WriteFile(exe, "old content", 0600);
    mode_t old = umask(077);
    tvxtest::RunResult r = RunPack({"-o", exe, TestJar()});
    umask(old);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    struct stat st;
    ASSERT_EQ(stat(exe.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    const std::string file = tvxtest::ReadFile(exe);
    EXPECT_EQ(file.substr(0, 4), "\x7f" "ELF");
    EXPECT_EQ(static_cast<uint64_t>(file.size()), LayoutOf(exe).fileSize);
    EXPECT_EQ(ListDir(dir_.path()), std::set<std::string>{"app"}) << "no temporary file left";
}

TEST_F(Pack, InspectShowsTheLayoutAndSettingsAndWritesNothing) {
    const std::string comment = "inspect me";
    const std::string jar = Path("in.jar");
    WriteZip(jar, {{"i/Main.class", std::string(3000, 'i')}}, comment);
    // tvx-pack's own startupcache line, then the --set lines.
    const std::vector<std::string> lines = {"mainclass i.Main", "startupcache true", "option -Xmx32m", "property k=v"};
    const std::string exe = Path("exe");
    PackOk({"--main", "i.Main", "--set", lines[2], "--set", lines[3]}, exe, jar);
    const std::string before = tvxtest::ReadFile(exe);
    const std::set<std::string> listing = ListDir(dir_.path());

    tvxtest::RunResult r = RunPack({"--inspect", exe});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");

    // Every figure, computed from what went in.
    struct stat st;
    ASSERT_EQ(stat(LauncherImage().c_str(), &st), 0);
    const uint64_t image = static_cast<uint64_t>(st.st_size);
    const uint64_t t = tvxpack::EncodeSettingsBlock(lines).size();
    const uint64_t f = before.size();
    const uint64_t m = comment.size();
    const uint64_t a = f - image - 12 - t - 16 - m;
    auto row = [](const char* piece, uint64_t offset, uint64_t size) {
        char buffer[128];
        snprintf(buffer, sizeof buffer, "  %-22s %12llu %12llu", piece, static_cast<unsigned long long>(offset),
                 static_cast<unsigned long long>(size));
        return std::string(buffer);
    };
    for (const std::string& expected :
         {row("launcher image", 0, image), row("first unread block S", image, 0),
          row("second unread block R", image + 4, 0), row("settings text T", image + 8, t),
          row("opaque field", image + 12 + t, 16), row("archive A", image + 28 + t, a),
          row("archive comment M", f - m, m), row("file size", 0, f)})
        EXPECT_NE(r.out.find(expected), std::string::npos) << "missing: " << expected << "\n" << r.out;
    EXPECT_NE(r.out.find("(4 lines):\n  mainclass i.Main\n  startupcache true\n  option -Xmx32m\n  property k=v\n"),
              std::string::npos)
        << r.out;
    // The settings view of explain mode, each line with its source.
    for (const char* expected : {"\n  setting mainclass = i.Main (embedded block line 1)\n",
                                 "\n  setting startupcache = true (embedded block line 2)\n",
                                 "\n  setting option = -Xmx32m (embedded block line 3)\n",
                                 "\n  setting stderr: not set (the executable's path followed by .stderr.log)\n"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << "missing: " << expected << "\n" << r.out;
    EXPECT_EQ(r.out.find("warning"), std::string::npos) << r.out;
    EXPECT_TRUE(tvxtest::ReadFile(exe) == before) << "--inspect changed the file";
    EXPECT_EQ(ListDir(dir_.path()), listing);

    tvxtest::RunResult plain = RunPack({"--inspect", jar});
    EXPECT_EQ(plain.exitCode, 1);
    EXPECT_EQ(plain.err, "tvx-pack: " + jar + ": no archive length record (not a tvx executable)\n");
}

TEST_F(Pack, HelpExplainsTheCommandLine) {
    tvxtest::RunResult r = RunPack({"--help"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_LE(LineCount(r.out), 24);
    for (const char* word : {"--main", "--settings", "--set", "--launcher", "-o", "--inspect", "0755", "Main-Class"})
        EXPECT_NE(r.out.find(word), std::string::npos) << word;
}

TEST_F(Pack, LauncherAndHelpersAreFoundBesideTheProgram) {
    // The build's own launcher is the default image, its record patched.
    PackOk({}, Path("exe"), TestJar());
    const std::string image = tvxtest::ReadFile(LauncherImage());
    const std::string file = tvxtest::ReadFile(Path("exe"));
    const long record = tvxpack::FindLengthRecord(image);
    ASSERT_GE(record, 0);
    tvxpack::ExecutableLayout layout = LayoutOf(Path("exe"));
    EXPECT_EQ(layout.imageSize, image.size());
    const size_t at = static_cast<size_t>(record);
    EXPECT_TRUE(file.compare(0, at, image, 0, at) == 0) << "image before the record";
    EXPECT_TRUE(file.compare(at + 4, image.size() - at - 4, image, at + 4) == 0) << "image after the record";
    EXPECT_EQ(tvx_layout::ReadLE32(reinterpret_cast<const unsigned char*>(file.data() + record)), layout.archiveLength);

    // A copy of the tools elsewhere finds its own neighbours, nothing of the build.
    tvxtest::MakeDirs(Path("tools/bin"));
    tvxtest::MakeDirs(Path("tools/lib"));
    const std::string program = Path("tools/bin/tvx-pack");
    tvxtest::WriteFile(program, tvxtest::ReadFile(PackProgram()), 0755);
    std::string fakeImage = "\x7f" "ELF fake launcher " + std::string(8, '\0') +
                            std::string(tvx_layout::kRecordMarker, tvx_layout::kRecordMarkerSize) + " end";
    tvxtest::WriteFile(Path("tools/bin/tvx-launcher"), fakeImage, 0755);
    tvxtest::WriteFile(Path("tools/lib/tvx-helpers.jar"), tvxtest::ReadFile(HelpersJar()));
    tvxtest::RunResult r = tvxtest::Run({program, "-o", Path("moved"), TestJar()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(LayoutOf(Path("moved")).imageSize, fakeImage.size());
    EXPECT_EQ(tvxtest::ReadFile(Path("moved")).substr(0, 18), fakeImage.substr(0, 18));

    // --launcher picks another image.
    tvxtest::WriteFile(Path("other-image"), "OTHER" + fakeImage);
    PackOk({"--launcher", Path("other-image")}, Path("exe3"), TestJar());
    EXPECT_EQ(tvxtest::ReadFile(Path("exe3")).substr(0, 5), "OTHER");

    ASSERT_EQ(unlink(Path("tools/lib/tvx-helpers.jar").c_str()), 0);
    r = tvxtest::Run({program, "-o", Path("nohelpers"), TestJar()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("tools/bin/../lib/tvx-helpers.jar"), std::string::npos) << r.err;
    ASSERT_EQ(unlink(Path("tools/bin/tvx-launcher").c_str()), 0);
    r = tvxtest::Run({program, "-o", Path("nolauncher"), TestJar()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("tools/bin/tvx-launcher"), std::string::npos) << r.err;
    EXPECT_FALSE(tvxtest::FileExists(Path("nohelpers")));
    EXPECT_FALSE(tvxtest::FileExists(Path("nolauncher")));
}

TEST_F(Pack, PackedApplicationRunsUnderTheLauncher) {
    const std::string exe = Path("hello");
    PackOk({"--set", "property=app.mode=fast", "--set", "jvmdll " + tvxtest::JavaHome() + "/lib/server/libjvm.so",
            "--set", "stderr " + Path("hello.err")},
           exe, TestJar());
    // tvx-pack's default startup cache goes to this test's directory.
    tvxtest::RunOptions options;
    options.setEnv["XDG_CACHE_HOME"] = Path("cache");
    options.unsetEnv = {"CACHE_DIRECTORY"};
    tvxtest::RunResult r = tvxtest::Run({"/usr/bin/unshare", "--ipc", exe, "-test", "one", "two"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.out << tvxtest::ReadFile(Path("hello.err"));
    EXPECT_NE(r.out.find("main=packtest.Hello\nargs=one,two\nmode=fast\nhelper=com.brindell.tvx.Instances\n"),
              std::string::npos)
        << r.out << tvxtest::ReadFile(Path("hello.err"));
    if (std::string why = tvxtest::ArchiveWritingUnsupported(); !why.empty()) GTEST_SKIP() << why;
    // The archive is assembled in the background after the run.
    EXPECT_EQ(tvxtest::Shell("for i in $(seq 600); do ls '" + Path("cache") +
                             "'/tvx/hello-*.jsa.ok >/dev/null 2>&1 && break; sleep 0.1; done; ls '" + Path("cache") +
                             "'/tvx/hello-*.jsa | wc -l")
                  .out,
              "1\n")
        << "the first run of a new executable leaves its startup cache";
}

}  // namespace
}  // namespace packtest
