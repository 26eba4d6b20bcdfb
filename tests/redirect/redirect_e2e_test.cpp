// Packed executables run as separate processes: where standard error and
// standard output end up with the default log, configured files and
// commands, and how often a start-up failure is shown. Runs in private mount
// and IPC namespaces (the launcher attaches its instance segment).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/instances/private_namespaces.h"
#include "tests/launch/launch_test_util.h"
#include "tests/support/test_support.h"

namespace {

[[maybe_unused]] const bool kIsolated = tvxtest::RegisterPrivateNamespaces();

const char kNoMainClass[] = "The main startup class could not be found.";

// A command target that holds none of the launcher's descriptors but its
// input and starts reading late: its file is complete when the launcher has
// ended only when the launcher waited for it.
const std::string kSlowCat = "|exec >/dev/null 2>&1; sleep 1; exec cat > ";

using launchtest::CountOf;

// Numbered lines cut to `size` bytes, as the application's "big:" writes them.
std::string Big(size_t size) {
    std::string text;
    for (size_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i) + "\n";
    text.resize(size);
    return text;
}

class PackedOutputApp {
public:
    // Settings lines as for tvx-pack --set; "$EXE" in them stands for the
    // executable's path.
    explicit PackedOutputApp(const std::vector<std::string>& lines, const std::string& mainClass = "redirtest.OutputApp")
        : exe(dir / "app") {
        std::vector<std::string> expanded;
        for (const std::string& line : lines) expanded.push_back(Expand(line));
        expanded.push_back("jvmdll=" + tvxtest::JavaHome() + "/lib/server/libjvm.so");
        tvxtest::Pack(tvxtest::TestJarsDir() + "/redirect-apps.jar", exe, expanded, {"--main", mainClass});
    }
    std::string Expand(std::string text) const {
        size_t at = text.find("$EXE");
        if (at != std::string::npos) text.replace(at, 4, exe);
        return text;
    }
    tvxtest::RunResult Run(const std::vector<std::string>& args) const {
        std::vector<std::string> argv = {exe, "-test"};
        argv.insert(argv.end(), args.begin(), args.end());
        tvxtest::RunOptions options;
        options.setEnv["LC_ALL"] = "C.UTF-8";
        return tvxtest::Run(argv, options);
    }
    // A file named relative to the executable's directory, or absolute.
    std::string Read(const std::string& name) const {
        std::string path = Expand(name);
        return tvxtest::ReadFile(path[0] == '/' ? path : dir / path);
    }

    tvxtest::TempDir dir;
    std::string exe;
};

TEST(RedirectEndToEnd, DefaultLogBesideTheExecutableReceivesStandardError) {
    PackedOutputApp app({});
    tvxtest::WriteFile(app.exe + ".stderr.log", "previous run\n");
    tvxtest::RunResult r = app.Run({"out:to-stdout", "err:to-stderr"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(tvxtest::ReadFile(app.exe + ".stderr.log"), "previous run\nto-stderr\n") << "appended, not truncated";
    EXPECT_EQ(r.out, "to-stdout\n") << "standard output stays where it was";
    EXPECT_EQ(r.err.find("to-stderr"), std::string::npos) << r.err;
}

// A log that cannot be opened is named once, with the reason, on the
// standard error the launcher still has; the stream then stays there.
TEST(RedirectEndToEnd, ALogThatCannotBeWrittenIsNamedOnce) {
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        const char* missing;  // the log path named in the warning ("" for none)
    } rows[] = {
        {"standard error", {"stderr $EXE.missing/err.log"}, "$EXE.missing/err.log"},
        {"standard output", {"stdout $EXE.missing/out.log"}, "$EXE.missing/out.log"},
        {"writable log", {"stderr $EXE.err.log"}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PackedOutputApp app(row.lines);
        tvxtest::RunResult r = app.Run({"out:to-stdout", "err:to-stderr"});
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        const std::string warning = "WARNING: The log " + app.Expand(row.missing) +
                                    " cannot be written (No such file or directory); the stream stays where it was.\n";
        // Standard error itself may have gone to its default log.
        const std::string said = r.err + app.Read("$EXE.stderr.log");
        EXPECT_EQ(CountOf(said, warning), *row.missing ? 1 : 0) << said;
        EXPECT_EQ(CountOf(said, "WARNING: The log "), *row.missing ? 1 : 0) << said;
    }
}

TEST(RedirectEndToEnd, ConfiguredTargets) {
    const std::string big = Big(2 << 20);
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        std::vector<std::string> args;
        std::vector<std::pair<std::string, std::string>> files;  // name in the directory, content
        std::string terminalOut;
    };
    const Row rows[] = {
        {"both streams into one file",
         {"stderr=both.log", "stdout=both.log"},
         {"out:first", "err:second", "out:third"},
         {{"both.log", "first\nsecond\nthird\n"}},
         ""},
        {"standard output into a command, read in full",
         {"stdout=" + kSlowCat + "piped.txt"},
         {"big:" + std::to_string(big.size())},
         {{"piped.txt", big}},
         ""},
        {"standard error into a command",
         {"stderr=" + kSlowCat + "err-piped.txt"},
         {"err:through the pipe", "out:plain"},
         {{"err-piped.txt", "through the pipe\n"}},
         "plain\n"},
        {"one command per stream",
         {"stderr=" + kSlowCat + "e.txt", "stdout=" + kSlowCat + "o.txt"},
         {"big:" + std::to_string(big.size()), "err:err text"},
         {{"o.txt", big}, {"e.txt", "err text\n"}},
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PackedOutputApp app(row.lines);
        tvxtest::RunResult r = app.Run(row.args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        // The launcher has ended: whatever went to a command is complete.
        for (const auto& f : row.files) {
            SCOPED_TRACE(f.first);
            std::string content = app.Read(f.first);
            EXPECT_EQ(content.size(), f.second.size());
            EXPECT_TRUE(content == f.second) << content.substr(0, 200);
        }
        EXPECT_EQ(r.out, row.terminalOut);
    }
}

TEST(RedirectEndToEnd, StartupFailureShownOnceWhenBothStreamsShareThePath) {
    struct Row {
        const char* name;
        std::vector<std::string> lines;  // $EXE stands for the executable's path
        std::string errFile;             // "" for none; $EXE as above
        std::string outFile;
        int inErr, inOut, onTerminal;    // copies of the message in each
    };
    const Row rows[] = {
        // Wherever standard output goes, the failure also reaches the
        // terminal that started the launcher, once.
        {"defaults: log and terminal", {}, "$EXE.stderr.log", "", 1, 0, 1},
        {"both to one path", {"stderr=one.log", "stdout=one.log"}, "one.log", "", 1, 0, 1},
        {"standard output to the default log path", {"stdout=$EXE.stderr.log"}, "$EXE.stderr.log", "", 1, 0, 1},
        {"two different files", {"stderr=e.log", "stdout=o.log"}, "e.log", "o.log", 1, 1, 1},
        {"same name in another spelling counts as different", {"stderr=one.log", "stdout=./one.log"}, "one.log", "", 2,
         0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PackedOutputApp app(row.lines, "no.such.Main");
        tvxtest::RunResult r = app.Run({});
        EXPECT_EQ(r.exitCode, 7) << r.out << r.err;
        if (!row.errFile.empty()) {
            EXPECT_EQ(CountOf(app.Read(row.errFile), kNoMainClass), row.inErr);
        }
        if (!row.outFile.empty()) {
            EXPECT_EQ(CountOf(app.Read(row.outFile), kNoMainClass), row.inOut);
        }
        EXPECT_EQ(CountOf(r.out, kNoMainClass), row.onTerminal) << r.out;
        EXPECT_EQ(CountOf(r.err, kNoMainClass), 0) << r.err;
    }
}

// A variable's value inside a "|command" target reaches the command as one
// word, whatever it holds: a caller's environment never becomes shell
// syntax. ("$$TAG" would leave the expansion to the shell.)
TEST(RedirectEndToEnd, AVariableInACommandTargetIsOneWord) {
    const char* const values[] = {"x; touch INJECTED; #", "it's $(touch INJECTED) `touch INJECTED` \"q\"",
                                  "two  words\tand a tab", "*"};
    for (const char* value : values) {
        SCOPED_TRACE(value);
        PackedOutputApp app({"stdout=|cd \"$EXE.d\" && printf '<%s>\\n' $TAG > words && cat > out"});
        tvxtest::MakeDirs(app.exe + ".d");
        tvxtest::WriteFile(app.exe + ".d/file", "");
        tvxtest::RunOptions options;
        options.setEnv["LC_ALL"] = "C.UTF-8";
        options.setEnv["TAG"] = value;
        tvxtest::RunResult r = tvxtest::Run({app.exe, "-test", "out:to-stdout"}, options);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(app.Read("app.d/words"), "<" + std::string(value) + ">\n");
        EXPECT_EQ(app.Read("app.d/out"), "to-stdout\n");
        EXPECT_FALSE(tvxtest::FileExists(app.exe + ".d/INJECTED")) << "the value ran as a command";
    }
}

// A target that cannot be opened, or a working directory that cannot be
// entered, is named in one line and the start goes on with the stream (or
// directory) where it was; a FIFO is opened without waiting for a reader.
TEST(RedirectEndToEnd, WhatCannotBeUsedIsNamedAndTheStartGoesOn) {
    struct Row {
        const char* name;
        std::vector<std::string> lines;
        std::string warning;    // the line's text after the target's name
        bool inLog;             // the warning is in the default log, not on the terminal
        std::string terminalOut;
    };
    const Row rows[] = {
        {"standard error into a missing directory",
         {"stderr=missing/e.log"},
         "The log missing/e.log cannot be written (No such file or directory); the stream stays where it was.",
         false,
         "O\n"},
        {"standard output through a file that is no directory",
         {"stdout=plain/o.log"},
         "The log plain/o.log cannot be written (Not a directory); the stream stays where it was.",
         true,
         "O\n"},
        {"standard output into a FIFO nobody reads",
         {"stdout=fifo"},
         "The log fifo cannot be written (it is a FIFO that no process reads); the stream stays where it was.",
         true,
         "O\n"},
        {"a working directory that does not exist",
         {"forcecwd=/nonexistent/dir", "stderr=inherit"},
         "forcecwd /nonexistent/dir cannot be entered (No such file or directory); the working directory stays ",
         false,
         ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PackedOutputApp app(row.lines);
        tvxtest::WriteFile(app.dir / "plain", "");
        ASSERT_EQ(mkfifo((app.dir / "fifo").c_str(), 0600), 0);
        tvxtest::RunResult r = app.Run({"out:O", "err:E"});
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        if (!row.terminalOut.empty()) {
            EXPECT_EQ(r.out, row.terminalOut);
        }
        std::string said = row.inLog ? tvxtest::ReadFile(app.exe + ".stderr.log") : r.err;
        size_t at = said.find(row.warning);
        ASSERT_NE(at, std::string::npos) << said;
        size_t start = said.rfind('\n', at);
        start = start == std::string::npos ? 0 : start + 1;
        EXPECT_EQ(said.compare(start, 9, "WARNING: "), 0) << said;
        EXPECT_EQ(CountOf(said, "WARNING"), 1) << said;
        EXPECT_NE(said.find("E\n"), std::string::npos) << "the application's own standard error: " << said;
    }
}

// A FIFO that a process reads is a target like any file.
TEST(RedirectEndToEnd, AFifoWithAReaderReceivesTheOutput) {
    PackedOutputApp app({"stdout=fifo"});
    ASSERT_EQ(mkfifo((app.dir / "fifo").c_str(), 0600), 0);
    int reader = open((app.dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    tvxtest::RunResult r = app.Run({"out:through the fifo"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    char buffer[256];
    ssize_t n = read(reader, buffer, sizeof buffer);
    close(reader);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(n)), "through the fifo\n");
    EXPECT_EQ(r.out, "");
}

}  // namespace
