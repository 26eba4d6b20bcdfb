// tvx-pack on bad input: one line on standard error, a non-zero exit, and
// nothing written: no output, no temporary file, an old output untouched.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "settings/layout.h"
#include "tests/pack/pack_e2e_util.h"
#include "tests/pack/zip_fixture.h"

namespace packtest {
namespace {

struct FailureRow {
    const char* name;
    // Prepares files in `dir` and returns the arguments; the output is dir/out.
    std::function<std::vector<std::string>(const std::string& dir)> setup;
    const char* error;
    int exitCode;
};

std::string Out(const std::string& dir) { return dir + "/out"; }

std::vector<std::string> PackArgs(const std::string& dir, const std::string& jar,
                                  std::vector<std::string> extra = {}) {
    extra.insert(extra.end(), {"-o", Out(dir), jar});
    return extra;
}

std::string MarkerRecord() {
    return std::string(8, '\0') + std::string(tvx_layout::kRecordMarker, tvx_layout::kRecordMarkerSize);
}

TEST(PackFailure, BadInputWritesNothing) {
    const FailureRow rows[] = {
        {"missing jar", [](const std::string& d) { return PackArgs(d, d + "/missing.jar"); },
         "cannot open", 1},
        {"jar is a directory", [](const std::string& d) { return PackArgs(d, d); }, "not a regular file", 1},
        {"jar is a FIFO",
         [](const std::string& d) {
             EXPECT_EQ(mkfifo((d + "/fifo.jar").c_str(), 0644), 0);
             return PackArgs(d, d + "/fifo.jar");
         },
         "not a regular file", 1},
        {"settings file is a FIFO",
         [](const std::string& d) {
             EXPECT_EQ(mkfifo((d + "/fifo.cfg").c_str(), 0644), 0);
             return PackArgs(d, TestJar(), {"--settings", d + "/fifo.cfg"});
         },
         "not a regular file", 1},
        {"jar is text",
         [](const std::string& d) {
             tvxtest::WriteFile(d + "/text.jar", "this is not an archive\n");
             return PackArgs(d, d + "/text.jar");
         },
         "not a ZIP archive", 1},
        {"jar is empty",
         [](const std::string& d) {
             tvxtest::WriteFile(d + "/empty.jar", "");
             return PackArgs(d, d + "/empty.jar");
         },
         "not a ZIP archive", 1},
        {"jar is cut short",
         [](const std::string& d) {
             std::string jar = tvxtest::ReadFile(TestJar());
             tvxtest::WriteFile(d + "/cut.jar", jar.substr(0, jar.size() / 2));
             return PackArgs(d, d + "/cut.jar");
         },
         "not a ZIP archive", 1},
        {"no main class anywhere",
         [](const std::string& d) {
             WriteZip(d + "/nomain.jar", {{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n"}, {"a.txt", "a"}});
             return PackArgs(d, d + "/nomain.jar", {"--set", "option -Xmx1m"});
         },
         "no main class", 1},
        {"launcher image without a record",
         [](const std::string& d) { return PackArgs(d, TestJar(), {"--launcher", "/bin/true"}); },
         "holds no archive length record", 1},
        {"launcher image with two records",
         [](const std::string& d) {
             tvxtest::WriteFile(d + "/twice", "a" + MarkerRecord() + "b" + MarkerRecord());
             return PackArgs(d, TestJar(), {"--launcher", d + "/twice"});
         },
         "(or more than one)", 1},
        {"launcher image missing",
         [](const std::string& d) { return PackArgs(d, TestJar(), {"--launcher", d + "/none"}); },
         "launcher image: cannot open", 1},
        {"output directory missing",
         [](const std::string& d) { return std::vector<std::string>{"-o", d + "/no/such/out", TestJar()}; },
         "cannot write", 1},
        {"output below a regular file",
         [](const std::string& d) { return std::vector<std::string>{"-o", d + "/keep/out", TestJar()}; },
         "cannot write", 1},
        {"output is a directory",
         [](const std::string& d) {
             tvxtest::MakeDirs(d + "/sub");
             return std::vector<std::string>{"-o", d + "/sub", TestJar()};
         },
         "it is a directory", 1},
        {"settings file missing",
         [](const std::string& d) { return PackArgs(d, TestJar(), {"--settings", d + "/none.cfg"}); },
         "cannot open", 1},
        {"settings file not UTF-8",
         [](const std::string& d) {
             tvxtest::WriteFile(d + "/latin1.cfg", "option -Xmx1m\nproperty name=M\xFCller\n");
             return PackArgs(d, TestJar(), {"--settings", d + "/latin1.cfg"});
         },
         "line 2 is not valid UTF-8", 1},
        {"settings file with a NUL byte",
         [](const std::string& d) {
             tvxtest::WriteFile(d + "/nul.cfg", std::string("option a\0b\n", 11));
             return PackArgs(d, TestJar(), {"--settings", d + "/nul.cfg"});
         },
         "line 1 holds a NUL byte", 1},
        {"--set with a line break",
         [](const std::string& d) { return PackArgs(d, TestJar(), {"--set", "option a\r\nmainclass b"}); },
         "--set number 1 holds a line break", 1},
        {"jar comment holding an end-record signature",
         [](const std::string& d) {
             WriteZip(d + "/sig.jar", {{"s/Main.class", "s"}}, std::string("PK\x05\x06", 4) + std::string(40, 'x'));
             return PackArgs(d, d + "/sig.jar", {"--main", "s.Main"});
         },
         "end-record signature", 1},
        {"jar comment longer than the launcher searches",
         [](const std::string& d) {
             WriteZip(d + "/long.jar", {{"l/Main.class", "l"}}, std::string(60000, 'c'));
             return PackArgs(d, d + "/long.jar", {"--main", "l.Main"});
         },
         "longer than the launcher searches", 1},
        {"jar with data before its first entry",
         [](const std::string& d) {
             // A self-extracting style jar: a script, then the archive with
             // its offsets adjusted to count from the file's start (zip -A).
             tvxtest::WriteFile(d + "/prefixed.jar", "#!/bin/sh\nexit 0\n" + tvxtest::ReadFile(HelpersJar()));
             EXPECT_EQ(tvxtest::Run({"zip", "-q", "-A", d + "/prefixed.jar"}).exitCode, 0);
             return PackArgs(d, d + "/prefixed.jar", {"--main", "com.brindell.tvx.Instances"});
         },
         "data precedes the archive's first entry", 1},
        {"archive of 4 GiB",
         [](const std::string& d) {
             WriteHugeSparseZip(d + "/huge.jar");
             return PackArgs(d, d + "/huge.jar", {"--main", "h.Main", "--no-check"});
         },
         "4 GiB or larger", 1},
        {"settings block over the launcher's 64 MiB limit",
         [](const std::string& d) {
             tvxtest::WriteFile(d + "/big.cfg", "property big=" + std::string(64 << 20, 'x') + "\n");
             return PackArgs(d, TestJar(), {"--settings", d + "/big.cfg"});
         },
         "the launcher ignores a block over 67108864 bytes", 1},
        {"output is a character device",
         [](const std::string& d) {
             EXPECT_EQ(mknod((d + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
             return std::vector<std::string>{"-o", d + "/null", TestJar()};
         },
         "not a regular file", 1},
        {"output is a FIFO",
         [](const std::string& d) {
             EXPECT_EQ(mkfifo((d + "/fifo").c_str(), 0644), 0);
             return std::vector<std::string>{"-o", d + "/fifo", TestJar()};
         },
         "not a regular file", 1},
        {"output is the jar",
         [](const std::string& d) {
             tvxtest::WriteFile(d + "/app.jar", tvxtest::ReadFile(TestJar()));
             return std::vector<std::string>{"-o", d + "/app.jar", d + "/app.jar"};
         },
         "it is also an input", 1},
        {"output is the jar through a link",
         [](const std::string& d) {
             tvxtest::WriteFile(d + "/app.jar", tvxtest::ReadFile(TestJar()));
             EXPECT_EQ(symlink("app.jar", (d + "/link").c_str()), 0);
             return std::vector<std::string>{"-o", d + "/link", d + "/app.jar"};
         },
         "it is also an input", 1},
        {"output is the settings file",
         [](const std::string& d) {
             tvxtest::WriteFile(d + "/app.cfg", "vm server\n");
             return std::vector<std::string>{"--settings", d + "/app.cfg", "-o", d + "/app.cfg", TestJar()};
         },
         "it is also an input", 1},
        {"unknown option", [](const std::string& d) { return PackArgs(d, TestJar(), {"--fast"}); },
         "unknown option '--fast'", 2},
        {"missing option argument",
         [](const std::string& d) { return std::vector<std::string>{TestJar(), "-o", Out(d), "--main"}; },
         "option '--main' needs a value", 2},
        {"two jars", [](const std::string& d) { return PackArgs(d, TestJar(), {TestJar()}); },
         "more than one application jar", 2},
    };
    for (const FailureRow& row : rows) {
        SCOPED_TRACE(row.name);
        tvxtest::TempDir dir;
        tvxtest::WriteFile(dir / "keep", "unrelated");
        tvxtest::WriteFile(Out(dir.path()), "old output", 0640);
        std::vector<std::string> args = row.setup(dir.path());
        const std::set<std::string> before = ListDir(dir.path());

        tvxtest::RunResult r = RunPack(args);
        EXPECT_EQ(r.exitCode, row.exitCode);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("tvx-pack: ", 0), 0u) << r.err;
        EXPECT_EQ(LineCount(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(row.error), std::string::npos) << r.err;
        EXPECT_EQ(ListDir(dir.path()), before) << "a file was left behind";
        // Inputs and special files named as the output are left as they were.
        struct stat st;
        for (const std::string& name : before) {
            const bool same = name == "app.jar"  ? tvxtest::ReadFile(dir / name) == tvxtest::ReadFile(TestJar())
                              : name == "null" ? stat((dir / name).c_str(), &st) == 0 && S_ISCHR(st.st_mode)
                              : name == "fifo" ? stat((dir / name).c_str(), &st) == 0 && S_ISFIFO(st.st_mode)
                                               : true;
            EXPECT_TRUE(same) << name << " was changed";
        }
        EXPECT_TRUE(tvxtest::ReadFile(Out(dir.path())) == "old output") << "the old output was changed";
    }
}

// A file system that fills up while the archive is written.
TEST(PackFailure, FullDiskWritesNothing) {
    tvxtest::TempDir dir;
    const std::string jar = dir / "big.jar";
    WriteZip(jar, {{"b/Main.class", "b"}, {"big.bin", RandomBytes(2 << 20, 3), false}});
    tvxtest::WriteFile(dir / "image", "tiny image " + MarkerRecord() + " end");
    tvxtest::MakeDirs(dir / "small");
    tvxtest::RunResult r = tvxtest::Run(
        {"unshare", "--mount", "sh", "-c",
         "mount -t tmpfs -o size=256k tmpfs \"$1\" || exit 99\n"
         "echo old > \"$1/out\"\n"
         "\"$2\" --launcher \"$3\" --main b.Main -o \"$1/out\" \"$4\" 2>\"$1/../err\"; echo \"rc=$?\"\n"
         "ls -A \"$1\"; cat \"$1/out\"",
         "sh", dir / "small", PackProgram(), dir / "image", jar});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "rc=1\nout\nold\n");
    EXPECT_NE(tvxtest::ReadFile(dir / "err").find("No space left on device"), std::string::npos)
        << tvxtest::ReadFile(dir / "err");
}

// Interrupted while writing: the temporary file goes with the process.
TEST(PackFailure, InterruptWritesNothing) {
    tvxtest::TempDir dir;
    tvxtest::MakeDirs(dir / "out");
    // strace holds the first write (the launcher image) for a while, so the
    // signal surely arrives while the temporary file exists.
    tvxtest::RunResult r = tvxtest::Run(
        {"sh", "-c",
         "strace -f -qq -o /dev/null -e trace=pwrite64 -e inject=pwrite64:delay_enter=3000000:when=1 "
         "\"$1\" -o \"$2/app\" \"$3\" >/dev/null 2>&1 &\n"
         "tracer=$!\n"
         "i=0; while [ $i -lt 2000 ] && ! ls -A \"$2\" | grep -q tvx-pack; do sleep 0.01; i=$((i+1)); done\n"
         "echo \"during: $(ls -A \"$2\" | sed 's/-[A-Za-z0-9]*$//')\"\n"
         "kill -TERM $(pgrep -P $tracer)\n"
         "wait $tracer; echo \"status: $?\"\n"
         "echo \"after: $(ls -A \"$2\")\"",
         "sh", PackProgram(), dir / "out", TestJar()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "during: .app.tvx-pack\nstatus: 143\nafter: \n");
}

}  // namespace
}  // namespace packtest
