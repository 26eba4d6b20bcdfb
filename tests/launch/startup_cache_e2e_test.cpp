// The startup cache end to end: packed executables with "startupcache" run
// in private mount and IPC namespaces (a tmpfs over /tmp and /var/cache), with
// XDG_CACHE_HOME and HOME pointing into the test's own directory. Whatever
// happens to the cache, the application must start normally, print nothing
// of the runtime's class-sharing messages, and log at most one line.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/instances/private_namespaces.h"
#include "tests/launch/launch_test_util.h"
#include "tests/support/test_support.h"

namespace {

[[maybe_unused]] const bool kIsolated = tvxtest::RegisterPrivateNamespaces({"/var/cache"});

using launchtest::CountOf;
using launchtest::PackedApp;
using tvxtest::RunOptions;
using tvxtest::RunResult;

using launchtest::kProbe;
// OpenJDK 17 of this build's processor.
const std::string kJdk17 = tvxtest::JavaHome();

std::set<std::string> ListDir(const std::string& path) {
    std::set<std::string> names;
    if (DIR* d = opendir(path.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// What a first run leaves: one archive, its stamp and source files, and the
// mark of the sweep that followed; nothing else (no temporary file).
::testing::AssertionResult HoldsOneArchive(const std::string& dir) {
    const std::set<std::string> names = ListDir(dir);
    std::string archive, listing;
    for (const std::string& n : names) {
        listing += " " + n;
        if (n.size() > 4 && n.compare(n.size() - 4, 4, ".jsa") == 0) archive = n;
    }
    if (!archive.empty() && names == std::set<std::string>{archive, archive + ".ok", archive + ".src", "swept"})
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << dir << " holds:" << listing;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void Sh(const std::string& command) {
    RunResult r = tvxtest::Shell(command);
    ASSERT_EQ(r.exitCode, 0) << command << "\n" << r.out << r.err;
}

class StartupCache : public ::testing::Test {
protected:
    StartupCache() : app({"startupcache true", "jre_order c", "jvmdll " + kJdk17 + "/lib/server/libjvm.so"}, kProbe) {}

    RunOptions Options() const {
        RunOptions options;
        options.setEnv["XDG_CACHE_HOME"] = cacheHome.path();
        options.setEnv["HOME"] = cacheHome.path();
        options.setEnv["TVX_EXPLAIN"] = "1";
        options.unsetEnv = {"CACHE_DIRECTORY"};
        return options;
    }
    std::string Dir() const { return cacheHome.path() + "/tvx"; }
    // The archives (*.jsa) in the cache directory.
    std::vector<std::string> Archives() const {
        std::vector<std::string> found;
        for (const std::string& name : ListDir(Dir()))
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".jsa") == 0) found.push_back(Dir() + "/" + name);
        return found;
    }

    // One start that must behave exactly as without the cache; returns what
    // explain mode said about the cache.
    std::string StartNormally(RunOptions options, const std::string& expectLog = "") {
        RunResult r = app.Run({}, options);
        EXPECT_EQ(r.exitCode, 0) << r.err << app.ErrLog();
        EXPECT_EQ(r.out, "argc=0\ncwd=" + app.dir.path() + "\nmain returned\n");
        std::string log = app.ErrLog();
        if (expectLog.empty()) {
            EXPECT_EQ(log, "");
        } else {
            EXPECT_EQ(CountOf(log, "\n"), 1) << log;
            EXPECT_NE(log.find(expectLog), std::string::npos) << log;
        }
        // Standard error carries only explanations.
        std::string cache;
        size_t at = 0;
        while (at < r.err.size()) {
            size_t end = r.err.find('\n', at);
            std::string line = r.err.substr(at, end == std::string::npos ? std::string::npos : end - at);
            EXPECT_EQ(line.rfind("tvx-explain: ", 0), 0u) << "stray output: " << line;
            if (line.rfind("tvx-explain: startup cache: ", 0) == 0) cache += line.substr(13) + "\n";
            at = end == std::string::npos ? r.err.size() : end + 1;
        }
        tvxtest::WriteFile(app.exe + ".stderr.log", "");
        // A run that recorded is followed by its assembly: awaited, so that
        // the next step finds what it left.
        if (awaitAssemblies && (cache.find("startup cache: recording ") != std::string::npos ||
                                cache.find("startup cache: assembling ") != std::string::npos)) {
            const std::string named = "startup cache: directory ";
            const size_t from = cache.find(named) + named.size(), to = cache.find(" (from ", from);
            EXPECT_TRUE(AssemblyEnds(cache.substr(from, to - from)));
        }
        return cache;
    }

    // Waits (up to two minutes) for the assembly's end in `dir` (the cache
    // directory when empty): no record left (the assembler removes it last)
    // and a published archive or the mark of a failure.
    ::testing::AssertionResult AssemblyEnds(std::string dir = "") {
        if (dir.empty()) dir = Dir();
        for (int i = 0; i < 1200; ++i) {
            bool records = false, ended = false;
            for (const std::string& n : ListDir(dir)) {
                records = records || EndsWith(n, ".list") || EndsWith(n, ".conf");
                ended = ended || EndsWith(n, ".ok") || EndsWith(n, ".no");
            }
            if (!records && ended) return ::testing::AssertionSuccess();
            usleep(100000);
        }
        return ::testing::AssertionFailure() << "the assembly did not end: " << tvxtest::Shell("ls -la " + dir).out;
    }
    // After first runs at once: any assembler started after the first one
    // ends too (up to ten seconds; none may leave a file behind).
    void LaterAssemblersEnd() {
        for (int i = 0; i < 100 && !Only(".tmp").empty(); ++i) usleep(100000);
    }
    // The one name in the cache directory that ends with `suffix`.
    std::string Only(const std::string& suffix) {
        std::string found;
        for (const std::string& n : ListDir(Dir()))
            if (EndsWith(n, suffix)) found = found.empty() ? Dir() + "/" + n : "more than one";
        return found;
    }

    // `runs` starts at once, without explanations, their output in
    // out0, out1, ... beside the executable; the shell's status.
    int StartAtOnce(int runs) {
        std::string script;
        for (int i = 0; i < runs; ++i)
            script += "unshare --ipc '" + app.exe + "' -test >'" + app.dir.path() + "/out" + std::to_string(i) +
                      "' 2>&1 &\n";
        script += "wait\n";
        RunOptions options = Options();
        options.setEnv.erase("TVX_EXPLAIN");
        return tvxtest::Shell(script, options).exitCode;
    }

    // With a bin/java that fails: the first run records, its assembly
    // leaves the mark of a failure beside the archive `suffix` not made, and
    // the next run says so (`before`, the archive's path, `after`) and writes
    // a dynamic archive at exit, which the run after uses; the mark stays.
    void AFailedAssemblyLeavesTheDynamicArchive(const std::string& suffix, const std::string& before,
                                                const std::string& after) {
        EXPECT_NE(StartNormally(Options()).find("recording the classes this run loads for"), std::string::npos);
        ASSERT_TRUE(AssemblyEnds());
        const std::string mark = Only(suffix + ".no");
        ASSERT_NE(mark, "") << tvxtest::Shell("ls -la " + Dir()).out;
        EXPECT_EQ(Only(suffix), "");
        const std::string said = StartNormally(Options());
        EXPECT_NE(said.find(before + mark.substr(0, mark.size() - 3) + after), std::string::npos) << said;
        EXPECT_NE(said.find("creating " + Dir() + "/app-"), std::string::npos) << said;
        EXPECT_NE(StartNormally(Options()).find("using " + Only(".jsa") + " (runtime feature"), std::string::npos);
        EXPECT_TRUE(tvxtest::FileExists(mark)) << "the mark stays with the dynamic archive";
    }

    // A runtime home at `home` of links to each file of the real one `real`,
    // down to lib/server, where the names matching the glob `leftOut` get no
    // link.
    void LinkFileByFile(const std::string& real, const std::string& home, const std::string& leftOut) {
        Sh("H='" + home + "'; R='" + real + "'; mkdir -p \"$H/lib/server\" && "
           "for f in \"$R\"/*; do [ \"${f##*/}\" = lib ] || ln -s \"$f\" \"$H/\"; done && "
           "for f in \"$R\"/lib/*; do [ \"${f##*/}\" = server ] || ln -s \"$f\" \"$H/lib/\"; done && "
           "for f in \"$R\"/lib/server/*; do case ${f##*/} in " + leftOut +
           ") ;; *) ln -s \"$f\" \"$H/lib/server/\";; esac; done");
    }

    // A runtime home of links into the real one `real`, whose bin/java is
    // the script `java` (none when empty): the launcher takes its bin/java
    // from there, the runtime itself stays the real one.
    std::string LinkedHomeOf(const std::string& real, const std::string& java) {
        const std::string home = links.path() + "/jdk";
        Sh("rm -rf '" + home + "' && mkdir -p '" + home + "/bin' && ln -sfn '" + real + "/lib' '" + home +
           "/lib' && cp '" + real + "/release' '" + home + "/'");
        if (!java.empty()) {
            tvxtest::WriteFile(home + "/bin/java", "#!/bin/sh\n" + java + "\n");
            Sh("chmod 755 '" + home + "/bin/java'");
        }
        return home;
    }

    tvxtest::TempDir cacheHome;
    tvxtest::TempDir links;
    PackedApp app;
    // StartNormally waits for the assembly a run started.
    bool awaitAssemblies = true;
};

// For the tests that need a cache: a runtime with class-data sharing.
#define SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN()                                       \
    if (std::string why = tvxtest::ArchiveWritingUnsupported(); !why.empty()) \
    GTEST_SKIP() << why

TEST_F(StartupCache, FirstRunCreatesLaterRunsUse) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    std::string said = StartNormally(Options());
    EXPECT_NE(said.find("startup cache: recording the classes this run loads for " + Dir() + "/app-"),
              std::string::npos)
        << said;
    ASSERT_EQ(Archives().size(), 1u) << tvxtest::Shell("ls -la " + Dir()).out;
    const std::string archive = Archives()[0];
    EXPECT_TRUE(tvxtest::FileExists(archive + ".ok"));
    EXPECT_TRUE(HoldsOneArchive(Dir()));
    struct stat st;
    ASSERT_EQ(stat(Dir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the cache directory is private";

    said = StartNormally(Options());
    EXPECT_EQ(said, "startup cache: directory " + Dir() + " (from $XDG_CACHE_HOME)\nstartup cache: using " + archive +
                        " (runtime feature 17)\n");
    // A System.exit ending still publishes the archive of a first run.
    tvxtest::TempDir other;
    RunOptions exiting = Options();
    exiting.setEnv["XDG_CACHE_HOME"] = other.path();
    exiting.setEnv["PROBE_EXIT"] = "0";
    RunResult r = app.Run({}, exiting);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(AssemblyEnds(other.path() + "/tvx"));
    EXPECT_TRUE(HoldsOneArchive(other.path() + "/tvx"));
}

// A program that inherits systemd's INVOCATION_ID from a terminal run as a
// service, but lives in a cgroup of its own (here a fresh cgroup
// namespace's root), is not ended with a unit: its exit does not wait for
// the assembly. (A service's own run waits: the booted-systemd tests.)
TEST_F(StartupCache, OutsideAServiceTheExitDoesNotWaitForTheAssembly) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    RunOptions options = Options();
    options.setEnv["INVOCATION_ID"] = "0123456789abcdef0123456789abcdef";
    RunResult r = tvxtest::Run({"/usr/bin/unshare", "--cgroup", "--ipc", app.exe, "-test"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("; assembled after exit in the background, which then sweeps"), std::string::npos) << r.err;
    EXPECT_TRUE(AssemblyEnds());
    EXPECT_TRUE(HoldsOneArchive(Dir()));
}

TEST_F(StartupCache, OffAddsNothing) {
    for (const char* setting : {"", "startupcache false", "startupcache FALSE"}) {
        std::vector<std::string> lines = {"jre_order c", "jvmdll " + kJdk17 + "/lib/server/libjvm.so"};
        if (*setting) lines.push_back(setting);
        app.Repack(lines, kProbe);
        RunResult r = app.Run({}, Options());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("tvx-explain: startup cache: off\n"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("-Xshare"), std::string::npos) << r.err;
        EXPECT_FALSE(tvxtest::FileExists(Dir())) << setting;
    }
}

TEST_F(StartupCache, RootServiceDefaultIsVarCache) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    ASSERT_EQ(geteuid(), 0u) << "the tests run as root";
    RunOptions options = Options();
    options.setEnv.erase("XDG_CACHE_HOME");
    options.unsetEnv = {"XDG_CACHE_HOME", "CACHE_DIRECTORY"};
    std::string said = StartNormally(options);
    EXPECT_NE(said.find("recording the classes this run loads for /var/cache/tvx/app-"), std::string::npos) << said;
    EXPECT_TRUE(HoldsOneArchive("/var/cache/tvx"));
    Sh("rm -rf /var/cache/tvx");
}

// A service user whose home cannot be written (uid 4242, HOME a missing
// directory below one of root's) gets no cache, unless the unit gives it a
// cache directory of its own ($CACHE_DIRECTORY, as systemd makes it: the
// service user's, mode 0755; the first of several), which then wins over
// the user's usual places.
TEST_F(StartupCache, ServiceCacheDirectory) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    ASSERT_EQ(geteuid(), 0u) << "the tests run as root";
    Sh("chmod 755 '" + app.dir.path() + "' '" + cacheHome.path() + "' && touch '" + app.exe +
       ".stderr.log' && chown 4242 '" + app.exe + ".stderr.log'");
    const std::string given = cacheHome / "svc";
    Sh("mkdir -m 755 '" + given + "' && chown 4242:4242 '" + given + "'");
    RunOptions asService = Options();
    asService.setEnv.erase("XDG_CACHE_HOME");
    asService.unsetEnv = {"XDG_CACHE_HOME"};
    asService.setEnv["HOME"] = cacheHome / "missing-home";
    auto run = [&](const RunOptions& options) {
        RunResult r = tvxtest::Run(
            {"/usr/bin/unshare", "--ipc", "setpriv", "--reuid", "4242", "--regid", "4242", "--clear-groups", app.exe, "-test"},
            options);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "argc=0\ncwd=" + app.dir.path() + "\nmain returned\n");
        return r.err;
    };
    std::string said = run(asService);
    EXPECT_NE(said.find("startup cache: not used, cannot create " + cacheHome.path() + "/missing-home"), std::string::npos)
        << said;
    EXPECT_EQ(CountOf(app.ErrLog(), "\n"), 1) << app.ErrLog();
    tvxtest::WriteFile(app.exe + ".stderr.log", "");

    asService.setEnv["CACHE_DIRECTORY"] = given + ":" + cacheHome.path() + "/second";
    asService.unsetEnv = {"XDG_CACHE_HOME"};
    said = run(asService);
    EXPECT_NE(said.find("startup cache: directory " + given + "/tvx (from $CACHE_DIRECTORY)"), std::string::npos) << said;
    EXPECT_NE(said.find("recording the classes this run loads for " + given + "/tvx/app-"), std::string::npos) << said;
    EXPECT_TRUE(AssemblyEnds(given + "/tvx"));
    EXPECT_NE(run(asService).find("using " + given + "/tvx/app-"), std::string::npos);
    EXPECT_TRUE(HoldsOneArchive(given + "/tvx"));
    EXPECT_FALSE(tvxtest::FileExists(cacheHome / "second"));
    // Even beside XDG_CACHE_HOME, the unit's directory is the one used.
    asService.setEnv["XDG_CACHE_HOME"] = cacheHome.path();
    asService.unsetEnv.clear();
    EXPECT_NE(run(asService).find("using " + given + "/tvx/app-"), std::string::npos);
    EXPECT_EQ(app.ErrLog(), "");
}

TEST_F(StartupCache, NamedDirectoryRelativeToTheExecutable) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    app.Repack({"startupcache cache", "jre_order c", "jvmdll " + kJdk17 + "/lib/server/libjvm.so"}, kProbe);
    StartNormally(Options());
    EXPECT_TRUE(HoldsOneArchive(app.dir / "cache"));
    EXPECT_NE(StartNormally(Options()).find("using " + app.dir.path() + "/cache/app-"), std::string::npos);
}

TEST_F(StartupCache, ConcurrentFirstRuns) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    const int kRuns = 4;
    ASSERT_EQ(StartAtOnce(kRuns), 0);
    for (int i = 0; i < kRuns; ++i)
        EXPECT_EQ(tvxtest::ReadFile(app.dir / ("out" + std::to_string(i))),
                  "argc=0\ncwd=" + app.dir.path() + "\nmain returned\n");
    EXPECT_EQ(app.ErrLog(), "");
    ASSERT_TRUE(AssemblyEnds());
    LaterAssemblersEnd();
    ASSERT_EQ(Archives().size(), 1u);
    EXPECT_TRUE(HoldsOneArchive(Dir()));
    EXPECT_NE(StartNormally(Options()).find("using "), std::string::npos);
}

TEST_F(StartupCache, ReadOnlyCacheDirectory) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    Sh("mkdir -p '" + Dir() + "' && chmod 700 '" + Dir() + "' && mount --bind '" + Dir() + "' '" + Dir() +
       "' && mount -o remount,ro,bind '" + Dir() + "'");
    std::string said = StartNormally(Options(), "tvx: startup cache not used: cannot write in " + Dir());
    EXPECT_NE(said.find("Read-only file system"), std::string::npos) << said;
    Sh("umount '" + Dir() + "'");
}

TEST_F(StartupCache, FullDisk) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    Sh("mkdir -p '" + Dir() + "' && mount -t tmpfs -o size=1m,mode=700 tmpfs '" + Dir() + "'");
    StartNormally(Options(), "tvx: startup cache not used: too little free space in " + Dir());
    EXPECT_TRUE(ListDir(Dir()).empty());
    Sh("umount '" + Dir() + "'");
}

TEST_F(StartupCache, ForeignCacheDirectoryIsNotTrusted) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    Sh("mkdir -p '" + Dir() + "' && chmod 777 '" + Dir() + "'");
    StartNormally(Options(), "is not this user's alone");
    EXPECT_TRUE(ListDir(Dir()).empty());
}

// A damaged archive is never handed to the runtime (a truncated one would
// crash it); it is made again.
TEST_F(StartupCache, DamagedArchiveIsMadeAgain) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    struct Row {
        const char* name;
        const char* damage;  // shell command on $A, the archive
        const char* why;     // what explain mode says
    } rows[] = {
        {"truncated", "chmod u+w \"$A\" && truncate -s 100000 \"$A\"", "the archive changed after its stamp"},
        {"overwritten", "chmod u+w \"$A\" && dd if=/dev/urandom of=\"$A\" bs=4096 count=4 conv=notrunc 2>/dev/null",
         "the archive changed after its stamp"},
        {"replaced", "rm -f \"$A\" && head -c 50000 /dev/urandom >\"$A\"", "the archive changed after its stamp"},
        {"stamp lost", "rm -f \"$A.ok\"", "the archive has no stamp"},
    };
    StartNormally(Options());
    ASSERT_EQ(Archives().size(), 1u);
    const std::string archive = Archives()[0];
    const std::string good = tvxtest::ReadFile(archive);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Sh(std::string("A='") + archive + "'; " + row.damage);
        std::string said = StartNormally(Options());
        EXPECT_NE(said.find("recording the classes this run loads for " + archive + " (runtime feature 17; " + row.why + ")"),
                  std::string::npos)
            << said;
        EXPECT_EQ(tvxtest::ReadFile(archive).size(), good.size());
        EXPECT_NE(StartNormally(Options()).find("using " + archive), std::string::npos);
    }
}

// An archive whose damage the stamp cannot see (the stamp rewritten to match)
// is left to the runtime, which must refuse it without a word.
TEST_F(StartupCache, DamageBehindAMatchingStampIsRefusedQuietly) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    StartNormally(Options());
    ASSERT_EQ(Archives().size(), 1u);
    const std::string a = Archives()[0];
    Sh("A='" + a + "'; chmod u+w \"$A\" && dd if=/dev/urandom of=\"$A\" bs=512 count=1 conv=notrunc 2>/dev/null");
    // Rewrite the stamp the way the launcher writes it.
    struct stat st;
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    tvxtest::WriteFile(a + ".ok", std::to_string(st.st_size) + " " + std::to_string(st.st_ino) + " " +
                                      std::to_string(st.st_mtim.tv_sec) + " " + std::to_string(st.st_mtim.tv_nsec) + "\n");
    EXPECT_NE(StartNormally(Options()).find("using " + a), std::string::npos);
}

// Another runtime, or the same one upgraded in place, keys another archive;
// the archive of the replaced build goes.
TEST_F(StartupCache, RuntimeChanged) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    // A runtime home of links to the JDK, with a library file of its own.
    tvxtest::TempDir jdk;
    LinkFileByFile(kJdk17, jdk.path(), "libjvm.so");
    Sh("cp " + kJdk17 + "/lib/server/libjvm.so '" + jdk.path() + "/lib/server/'");
    StartNormally(Options());
    ASSERT_EQ(Archives().size(), 1u);
    const std::string first = Archives()[0];

    app.Repack({"startupcache true", "jre_order c", "jvmdll " + jdk.path() + "/lib/server/libjvm.so"}, kProbe);
    StartNormally(Options());  // the executable changed too: a new archive
    // The first archive's executable was rebuilt: the sweep after the new
    // archive removed it.
    ASSERT_EQ(Archives().size(), 1u);
    const std::string copied = Archives()[0];
    EXPECT_NE(copied, first);
    EXPECT_FALSE(tvxtest::FileExists(first));
    EXPECT_NE(StartNormally(Options()).find("using " + copied), std::string::npos);

    Sh("touch -d '2001-01-01' '" + jdk.path() + "/lib/server/libjvm.so'");  // upgraded in place
    std::string said = StartNormally(Options());
    EXPECT_NE(said.find("recording "), std::string::npos) << said;
    EXPECT_EQ(Archives().size(), 1u) << "the archive of the replaced library is removed";
    EXPECT_FALSE(tvxtest::FileExists(copied));
    EXPECT_NE(StartNormally(Options()).find("using "), std::string::npos);
}

// Over its cap (startupcachemax) the directory loses its least recently
// used archives first, at the end of the run that made it grow.
TEST_F(StartupCache, TheCapEvictsTheLeastRecentlyUsed) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    StartNormally(Options());
    ASSERT_EQ(Archives().size(), 1u);
    const std::string first = Archives()[0];
    struct stat st;
    ASSERT_EQ(stat(first.c_str(), &st), 0);
    // Room for one archive and a half.
    const std::string cap = std::to_string(st.st_size * 3 / 2);
    PackedApp second({"startupcache true", "startupcachemax " + cap, "jre_order c",
                      "jvmdll " + kJdk17 + "/lib/server/libjvm.so"},
                     kProbe);
    RunResult r = second.Run({}, Options());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("then sweeps " + Dir() + " (cap " + cap + " bytes)"), std::string::npos) << r.err;
    ASSERT_TRUE(AssemblyEnds());
    ASSERT_EQ(Archives().size(), 1u);
    EXPECT_NE(Archives()[0], first) << "the older archive stays, the new one went";
    EXPECT_FALSE(tvxtest::FileExists(first + ".ok"));
    EXPECT_NE(second.Run({}, Options()).err.find("startup cache: using " + Archives()[0]), std::string::npos);
    // A cap that is no size: one line, and the default cap.
    app.Repack({"startupcache true", "startupcachemax lots", "jre_order c", "jvmdll " + kJdk17 + "/lib/server/libjvm.so"},
               kProbe);
    std::string said = StartNormally(Options(), "tvx: startupcachemax must be a size (digits, then K, M or G)");
    EXPECT_NE(said.find("(cap 1024 MiB)"), std::string::npos) << said;
}

// The archive of an executable that was deleted goes at the next sweep: the
// first run after one made an archive, then once a day, never at every start.
TEST_F(StartupCache, ADeletedExecutablesArchiveIsSweptOnceADay) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    PackedApp gone({"startupcache true", "jre_order c", "jvmdll " + kJdk17 + "/lib/server/libjvm.so"}, kProbe);
    EXPECT_EQ(gone.Run({}, Options()).exitCode, 0);
    ASSERT_TRUE(AssemblyEnds());
    StartNormally(Options());
    ASSERT_EQ(Archives().size(), 2u);
    ASSERT_EQ(unlink(gone.exe.c_str()), 0);
    std::string said = StartNormally(Options());
    EXPECT_EQ(said.find("sweeps"), std::string::npos) << said;
    EXPECT_EQ(Archives().size(), 2u) << "swept at a start within a day of the last sweep";
    Sh("touch -d '25 hours ago' '" + Dir() + "/swept'");
    said = StartNormally(Options());
    EXPECT_NE(said.find("startup cache: sweeps " + Dir() + " at exit (cap 1024 MiB)"), std::string::npos) << said;
    EXPECT_TRUE(HoldsOneArchive(Dir()));
    ASSERT_EQ(Archives().size(), 1u);
    EXPECT_NE(said.find("using " + Archives()[0]), std::string::npos) << "the archive in use stays";
}

// TVX_EXPLAIN=dry says which archive a start would use or make, and why;
// it makes, adds and logs nothing.
TEST_F(StartupCache, ADryRunSaysWhatAStartWouldDo) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    RunOptions dry = Options();
    dry.setEnv["TVX_EXPLAIN"] = "dry";
    RunResult r = app.Run({}, dry);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("startup cache: would record the classes this run loads for " + Dir() + "/app-"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(".jsa and assemble it after exit (runtime feature 17; none made yet)\n"), std::string::npos)
        << r.err;
    EXPECT_FALSE(tvxtest::FileExists(Dir())) << "a dry run makes nothing";

    StartNormally(Options());
    ASSERT_EQ(Archives().size(), 1u);
    const std::string archive = Archives()[0];
    struct Row {
        const char* change;  // shell command on $A, the archive, before the dry run
        std::string said;
    } rows[] = {
        {"true", "startup cache: would use " + archive + " (runtime feature 17)\n"},
        {"rm -f \"$A.ok\"", "startup cache: would record the classes this run loads for " + archive +
                                " and assemble it after exit (runtime feature 17; the archive has no stamp)\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.change);
        Sh(std::string("A='") + archive + "'; " + row.change);
        const std::set<std::string> before = ListDir(Dir());
        r = app.Run({}, dry);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find(row.said), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("SharedArchiveFile"), std::string::npos) << "no option added: " << r.err;
        EXPECT_EQ(ListDir(Dir()), before);
    }
    EXPECT_EQ(app.ErrLog(), "");
}

TEST_F(StartupCache, KilledFirstRun) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    RunOptions holding = Options();
    holding.setEnv["PROBE_HOLD"] = app.dir / "release";
    holding.timeoutSeconds = 2;  // killed while it waits
    RunResult killed = app.Run({}, holding);
    EXPECT_TRUE(killed.timedOut || killed.signal != 0) << killed.exitCode;
    EXPECT_TRUE(Archives().empty());
    std::string said = StartNormally(Options());
    EXPECT_NE(said.find("recording "), std::string::npos) << said;
    EXPECT_EQ(Archives().size(), 1u);
    EXPECT_NE(StartNormally(Options()).find("using "), std::string::npos);
}

// Where no archive can be assembled, the runtime writes a dynamic archive
// at exit instead: a runtime without bin/java (trimmed), a directory on the
// class path, and an assembly that failed (its mark keeps later runs from
// recording again).
TEST_F(StartupCache, WhereNoneCanBeAssembledTheArchiveIsWrittenAtExit) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    auto use = [&](const std::string& home, const std::vector<std::string>& more = {}) {
        std::vector<std::string> lines = {"startupcache true", "jre_order c", "jvmdll " + home + "/lib/server/libjvm.so"};
        lines.insert(lines.end(), more.begin(), more.end());
        app.Repack(lines, kProbe);
    };
    const std::string atExit = "creating " + Dir() + "/app-";
    {
        SCOPED_TRACE("no bin/java");
        use(LinkedHomeOf(kJdk17, ""));
        const std::string said = StartNormally(Options());
        EXPECT_NE(said.find("no archive assembled after the run (the runtime has no bin/java to assemble one "
                            "with): a dynamic archive at exit instead"),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find(atExit), std::string::npos) << said;
        EXPECT_TRUE(HoldsOneArchive(Dir()));
        EXPECT_NE(StartNormally(Options()).find("using " + Only(".jsa")), std::string::npos);
    }
    {
        SCOPED_TRACE("a directory on the class path");
        Sh("rm -rf '" + Dir() + "'");
        tvxtest::TempDir classes;
        use(kJdk17, {"classpath " + classes.path()});
        const std::string said = StartNormally(Options());
        EXPECT_NE(said.find("no archive assembled after the run (a directory is on the class path)"),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find(atExit), std::string::npos) << said;
        EXPECT_TRUE(HoldsOneArchive(Dir()));
    }
    {
        SCOPED_TRACE("the assembly fails");
        Sh("rm -rf '" + Dir() + "'");
        use(LinkedHomeOf(kJdk17, "exit 3"));
        AFailedAssemblyLeavesTheDynamicArchive(".jsa", "startup cache: assembling ",
                                               " failed: a dynamic archive at exit instead");
    }
}

TEST_F(StartupCache, OldRuntimesAndOwnSharingOptionsGetNothing) {
    app.Repack({"startupcache true", "option -Xshare:off", "jre_order c", "jvmdll " + kJdk17 + "/lib/server/libjvm.so"},
               kProbe);
    std::string said = StartNormally(Options());
    EXPECT_EQ(said, "startup cache: not used, the options already decide about class sharing\n");
    EXPECT_FALSE(tvxtest::FileExists(Dir()));
    // A runtime without any base archive beside its library: a virtual
    // machine built without class-data sharing (Zero) refuses to start when
    // asked to list its classes, so no option goes to it.
    const std::string home = links.path() + "/noshare";
    LinkFileByFile(kJdk17, home, "classes*.jsa");
    app.Repack({"startupcache true", "jre_order c", "jvmdll " + home + "/lib/server/libjvm.so"}, kProbe);
    said = StartNormally(Options());
    EXPECT_EQ(said, "startup cache: not used, the runtime has no class-data archive beside its library (a virtual "
                    "machine without class-data sharing, such as Zero, or a runtime linked without its archive)\n");
    EXPECT_FALSE(tvxtest::FileExists(Dir()));
}

// The JDK's ahead-of-time cache: a first run records, a background
// assembler makes the cache after it, later runs use it; where it cannot be
// made, the dynamic archive stands in. Nothing the runtime prints about any
// of it reaches the user.
class AotCache : public StartupCache {
protected:
    void SetUp() override {
        jdk = launchtest::Jdk24OrLater();
        if (jdk.empty()) GTEST_SKIP() << "no JDK of feature 24 or later for this processor under /usr/lib/jvm";
    }
    void UseRuntime(const std::string& home) {
        app.Repack({"startupcache true", "jre_order c", "jvmdll " + home + "/lib/server/libjvm.so"}, kProbe);
    }
    std::string LinkedHome(const std::string& java) { return LinkedHomeOf(jdk, java); }
    std::string jdk;
};

TEST_F(AotCache, AFirstRunRecordsTheAssemblyFollowsLaterRunsUseIt) {
    UseRuntime(jdk);
    RunOptions dry = Options();
    dry.setEnv["TVX_EXPLAIN"] = "dry";
    RunResult r = app.Run({}, dry);
    EXPECT_NE(r.err.find("startup cache: would record the classes this run loads for " + Dir() + "/app-"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(".aot and assemble it after exit (runtime feature "), std::string::npos) << r.err;
    EXPECT_FALSE(tvxtest::FileExists(Dir())) << "a dry run makes nothing";

    const std::string said = StartNormally(Options());
    EXPECT_NE(said.find("startup cache: recording the classes this run loads for " + Dir() + "/app-"), std::string::npos) << said;
    ASSERT_TRUE(AssemblyEnds());
    const std::string cache = Only(".aot");
    ASSERT_EQ(cache.rfind(Dir() + "/app-", 0), 0u) << tvxtest::Shell("ls -la " + Dir()).out;
    const std::string name = cache.substr(Dir().size() + 1);
    EXPECT_EQ(ListDir(Dir()), (std::set<std::string>{name, name + ".ok", name + ".src", "swept"}));
    struct stat st;
    ASSERT_EQ(stat(cache.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the cache is this user's alone";

    r = app.Run({}, dry);
    EXPECT_NE(r.err.find("startup cache: would use " + cache + " (runtime feature "), std::string::npos) << r.err;
    const std::string later = StartNormally(Options());
    EXPECT_NE(later.find("startup cache: using " + cache + " (runtime feature "), std::string::npos) << later;
    EXPECT_NE(later.find(", ahead-of-time cache)"), std::string::npos) << later;
    // A rebuilt executable is never served the old cache: it records anew,
    // and the old one goes.
    UseRuntime(jdk);
    EXPECT_NE(StartNormally(Options()).find("recording the classes this run loads for"), std::string::npos);
    ASSERT_TRUE(AssemblyEnds());
    EXPECT_FALSE(tvxtest::FileExists(cache));
    EXPECT_NE(Only(".aot"), "") << tvxtest::Shell("ls -la " + Dir()).out;

    // With startupcachetraining the first run is a training run: the
    // runtime writes its record at exit and says so on standard output,
    // which the launcher holds back (StartNormally checks the output).
    app.Repack({"startupcache true", "startupcachetraining true", "jre_order c",
                "jvmdll " + jdk + "/lib/server/libjvm.so"},
               kProbe);
    EXPECT_NE(StartNormally(Options()).find("startup cache: recording a training run for " + Dir() + "/app-"),
              std::string::npos);
    ASSERT_TRUE(AssemblyEnds());
    EXPECT_NE(StartNormally(Options()).find("using " + Only(".aot") + " (runtime feature "), std::string::npos);

    // The runtime really maps the cache: the application's class comes from it.
    const std::string classes = app.dir / "classes.log";
    app.Repack({"startupcache true", "jre_order c", "jvmdll " + jdk + "/lib/server/libjvm.so",
                "option -Xlog:class+load=info:file=" + classes},
               kProbe);
    StartNormally(Options());
    ASSERT_TRUE(AssemblyEnds());
    EXPECT_NE(StartNormally(Options()).find("startup cache: using "), std::string::npos);
    EXPECT_NE(tvxtest::ReadFile(classes).find("launchtest.Probe source: shared objects file"), std::string::npos)
        << tvxtest::ReadFile(classes).substr(0, 2000);
}

// Four first runs at once, each of whose ends may start an assembly: every
// run prints only its own output, and one cache is left, used next.
TEST_F(AotCache, FirstRunsAtOnceLeaveOneCache) {
    UseRuntime(jdk);
    const int kRuns = 4;
    ASSERT_EQ(StartAtOnce(kRuns), 0);
    for (int i = 0; i < kRuns; ++i)
        EXPECT_EQ(tvxtest::ReadFile(app.dir / ("out" + std::to_string(i))),
                  "argc=0\ncwd=" + app.dir.path() + "\nmain returned\n");
    EXPECT_EQ(app.ErrLog(), "");
    ASSERT_TRUE(AssemblyEnds());
    LaterAssemblersEnd();
    const std::string cache = Only(".aot");
    ASSERT_EQ(cache.rfind(Dir() + "/app-", 0), 0u) << tvxtest::Shell("ls -la " + Dir()).out;
    const std::string name = cache.substr(Dir().size() + 1);
    EXPECT_EQ(ListDir(Dir()), (std::set<std::string>{name, name + ".ok", name + ".src", "swept"}));
    EXPECT_NE(StartNormally(Options()).find("using " + cache), std::string::npos);
}

// Where the AOT cache cannot be made, the dynamic archive stands in: a
// runtime without bin/java (trimmed), a directory on the class path, and an
// assembly that failed (its mark keeps later runs from recording again).
TEST_F(AotCache, WhereItCannotBeMadeTheDynamicArchiveStandsIn) {
    {
        SCOPED_TRACE("no bin/java");
        UseRuntime(LinkedHome(""));
        const std::string said = StartNormally(Options());
        EXPECT_NE(said.find("no ahead-of-time cache (the runtime has no bin/java to assemble one with): a dynamic "
                            "archive instead"),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find("creating " + Dir() + "/app-"), std::string::npos) << said;
        EXPECT_NE(Only(".jsa"), "");
        EXPECT_NE(StartNormally(Options()).find("using " + Only(".jsa")), std::string::npos);
    }
    {
        SCOPED_TRACE("a directory on the class path");
        tvxtest::TempDir classes;
        app.Repack({"startupcache true", "jre_order c", "jvmdll " + jdk + "/lib/server/libjvm.so",
                    "classpath " + classes.path()},
                   kProbe);
        const std::string said = StartNormally(Options());
        EXPECT_NE(said.find("no ahead-of-time cache (a directory is on the class path)"), std::string::npos) << said;
        EXPECT_EQ(said.find("recording"), std::string::npos) << said;
    }
    {
        SCOPED_TRACE("the assembly fails");
        Sh("rm -rf '" + Dir() + "'");
        UseRuntime(LinkedHome("exit 3"));
        AFailedAssemblyLeavesTheDynamicArchive(".aot", "no ahead-of-time cache (assembling ",
                                               " failed): a dynamic archive instead");
    }
}

// An assembly still at work: the next start goes without the cache rather
// than recording again. An assembler killed before it finished (as systemd
// kills what a stopped service leaves): the next start takes the record up
// in the background, and the start after that uses the cache.
TEST_F(AotCache, AnAssemblyAtWorkIsLeftAloneAndAKilledOneIsTakenUp) {
    const std::string gate = links.path() + "/gate", pid = links.path() + "/java.pid";
    // Until the gate opens, "java" waits (its pid written down); then it is
    // the real one.
    UseRuntime(LinkedHome("[ -e '" + gate + "' ] || { echo $$ > '" + pid + "'; exec sleep 600; }\nexec '" + jdk +
                          "/bin/java' \"$@\""));
    awaitAssemblies = false;
    EXPECT_NE(StartNormally(Options()).find("recording the classes this run loads for"), std::string::npos);
    const std::string record = [&] {
        for (int i = 0; i < 200 && (Only(".aot.list").empty() || !tvxtest::FileExists(pid)); ++i) usleep(50000);
        return Only(".aot.list");
    }();
    ASSERT_NE(record, "") << tvxtest::Shell("ls -la " + Dir()).out;
    const std::string cache = record.substr(0, record.size() - 5);
    EXPECT_EQ(StartNormally(Options()), "startup cache: directory " + Dir() +
                                            " (from $XDG_CACHE_HOME)\nstartup cache: not used this run, " + cache +
                                            " is being assembled\n");
    // The assembler and its waiting "java" are killed; the lock goes with them.
    Sh("p=$(cat '" + pid + "'); a=$(awk '{print $4}' /proc/$p/stat); kill -KILL $p $a");
    EXPECT_EQ(tvxtest::Shell("flock -w 10 '" + record + "' true").exitCode, 0);
    ASSERT_TRUE(tvxtest::FileExists(record)) << "a killed assembly leaves its record";
    Sh("touch '" + gate + "'");
    const std::string said = StartNormally(Options());
    EXPECT_NE(said.find("startup cache: assembling " + cache + " from an earlier run's record, in the background"),
              std::string::npos)
        << said;
    ASSERT_TRUE(AssemblyEnds());
    EXPECT_NE(StartNormally(Options()).find("using " + cache + " (runtime feature"), std::string::npos);
}

// Another user (uid 4242, no account) who can change a directory on the way
// to the cache could swap the archive the runtime maps as root's code: such
// a path means no cache, one line, and a normal start. A sticky directory of
// root's (the test's /tmp) may hold one of ours.
TEST_F(StartupCache, OnlyAPathNoOtherUserCanChangeIsTrusted) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    struct Row {
        const char* what;
        const char* setup;  // commands on $P, the cache directory's parent
        const char* refusal;  // in the one log line; empty: the cache is used
    } rows[] = {
        {"parent of another user", "mkdir -m 755 \"$P\" && chown 4242:4242 \"$P\"",
         "/shared may be changed by another user (owner 4242, mode 755)"},
        {"parent others may write", "mkdir -m 777 \"$P\"", "/shared may be changed by another user (owner 0, mode 777)"},
        {"sticky parent of another user", "mkdir -m 1777 \"$P\" && chown 4242 \"$P\"",
         "/shared may be changed by another user (owner 4242, mode 1777)"},
        {"link to a directory of another user", "mkdir -m 755 \"$P.real\" && chown 4242 \"$P.real\" && ln -s \"$P.real\" \"$P\"",
         "/shared.real may be changed by another user (owner 4242, mode 755)"},
        {"sticky parent of root's", "mkdir -m 1777 \"$P\"", ""},
        {"parent of root's", "mkdir -m 755 \"$P\"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        tvxtest::TempDir top;
        const std::string parent = top / "shared";
        Sh("chmod 755 '" + top.path() + "'; P='" + parent + "'; " + row.setup);
        app.Repack({"startupcache " + parent + "/cache", "jre_order c", "jvmdll " + kJdk17 + "/lib/server/libjvm.so"},
                   kProbe);
        std::string said = StartNormally(Options(), row.refusal[0] ? std::string("tvx: startup cache not used: ") : "");
        if (row.refusal[0]) {
            EXPECT_NE(said.find(row.refusal), std::string::npos) << said;
            EXPECT_EQ(said.find("recording"), std::string::npos) << said;
            EXPECT_FALSE(tvxtest::FileExists(parent + "/cache/.")) << "nothing made below an untrusted directory";
        } else {
            EXPECT_NE(said.find("recording the classes this run loads for " + parent + "/cache/app-"),
                      std::string::npos)
                << said;
            EXPECT_NE(StartNormally(Options()).find("using " + parent + "/cache/app-"), std::string::npos);
        }
    }
}

// The directory swapped for a copy (other inodes) the moment the runtime
// opens the archive: the runtime still maps the archive that was checked,
// because it reaches it through the directory the launcher holds open.
TEST_F(StartupCache, ASwapAfterTheCheckDoesNotReachTheRuntime) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    if (tvxtest::CrossBuild())
        GTEST_SKIP() << "the shim is preloaded through this test's own programs, which cannot load a library of "
                        "another processor";
    StartNormally(Options());
    ASSERT_EQ(Archives().size(), 1u);
    const std::string archive = Archives()[0];
    struct stat st;
    ASSERT_EQ(stat(archive.c_str(), &st), 0);
    Sh("cp -a '" + Dir() + "' '" + Dir() + ".swap'");
    RunOptions swapping = Options();
    swapping.setEnv["LD_PRELOAD"] = TVX_TEST_SWAP_DIR;
    swapping.setEnv["TVX_SWAP_DIR"] = Dir();
    swapping.setEnv["TVX_SWAP_WITH"] = Dir() + ".swap";
    swapping.setEnv["TVX_SWAP_SUFFIX"] = ".jsa";
    swapping.setEnv["TVX_SWAP_LOG"] = cacheHome / "opened";
    EXPECT_NE(StartNormally(swapping).find("using " + archive), std::string::npos);
    EXPECT_TRUE(tvxtest::FileExists(Dir() + ".held")) << "the swap happened";
    // The runtime may open it more than once: always the checked one.
    const std::string opened = tvxtest::ReadFile(cacheHome / "opened");
    ASSERT_FALSE(opened.empty()) << "the runtime opened no archive";
    for (size_t at = 0; at < opened.size(); at = opened.find('\n', at) + 1)
        EXPECT_EQ(opened.substr(at, opened.find('\n', at) - at), std::to_string(st.st_ino))
            << "the runtime opened another archive than the checked one: " << opened;
}

// At exit the archive's stamp is written through a new file of a name nobody
// can guess, in the directory that was checked: a directory swapped in while
// the runtime writes the archive, holding a link at the name the stamp's
// temporary file used to have, never makes root write through that link.
// (A directory on the class path: the archive is written at exit.)
TEST_F(StartupCache, TheStampIsNeverWrittenThroughAPlantedLink) {
    SKIP_WHERE_ARCHIVES_CANNOT_BE_WRITTEN();
    if (tvxtest::CrossBuild())
        GTEST_SKIP() << "the shim is preloaded through this test's own programs, which cannot load a library of "
                        "another processor";
    const std::string victim = cacheHome / "root-only";
    tvxtest::WriteFile(victim, "secret\n", 0600);
    tvxtest::TempDir classes;
    app.Repack({"startupcache true", "jre_order c", "jvmdll " + kJdk17 + "/lib/server/libjvm.so",
                "classpath " + classes.path()},
               kProbe);
    tvxtest::MakeDirs(Dir() + ".swap");
    Sh("chmod 700 '" + Dir() + ".swap'");
    StartNormally(Options());  // the directory exists, the archive is made below
    Sh("rm -f '" + Dir() + "'/*");
    RunOptions swapping = Options();
    swapping.setEnv["LD_PRELOAD"] = TVX_TEST_SWAP_DIR;
    swapping.setEnv["TVX_SWAP_DIR"] = Dir();
    swapping.setEnv["TVX_SWAP_WITH"] = Dir() + ".swap";
    swapping.setEnv["TVX_SWAP_SUFFIX"] = ".tmp";
    swapping.setEnv["TVX_SWAP_LINK"] = victim;
    swapping.setEnv["TVX_SWAP_LOG"] = cacheHome / "opened";
    EXPECT_NE(StartNormally(swapping).find("creating "), std::string::npos);
    EXPECT_TRUE(tvxtest::FileExists(Dir() + ".held")) << "the swap happened";
    EXPECT_EQ(tvxtest::ReadFile(victim), "secret\n") << "written through the planted link";
    // The archive, its stamp and source files and the sweep's mark went into
    // the directory that was checked.
    EXPECT_TRUE(HoldsOneArchive(Dir() + ".held")) << tvxtest::Shell("ls -la '" + Dir() + "'").out;
    for (const std::string& name : ListDir(Dir() + ".held"))
        EXPECT_TRUE(name == "swept" || name.rfind("app-", 0) == 0) << name;
}

}  // namespace
