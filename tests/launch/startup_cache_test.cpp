// The startup cache's pure parts: the runtime's feature number from its
// release file, the cache directory, and the archive name's key.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <string>

#include <gtest/gtest.h>

#include "launch/startup_cache.h"
#include "tests/support/test_support.h"

namespace {

using namespace startup_cache;

TEST(StartupCacheFeature, FromTheReleaseFileAboveTheLibrary) {
    struct Row {
        const char* release;  // nullptr: no release file
        const char* libraryDir;
        int feature;
    } rows[] = {
        {"IMPLEMENTOR=\"x\"\nJAVA_VERSION=\"17.0.15\"\n", "lib/server", 17},
        {"JAVA_VERSION=\"25\"\n", "lib/server", 25},
        {"JAVA_VERSION=\"1.8.0_292\"\n", "jre/lib/amd64/server", 8},
        {"JAVA_VERSION=\"12.0.2\"\n", "lib/server", 12},
        {"OTHER=\"1\"\n", "lib/server", 0},
        {nullptr, "lib/server", 0},
    };
    for (const Row& row : rows) {
        tvxtest::TempDir home;
        if (row.release) tvxtest::WriteFile(home / "release", row.release);
        ASSERT_EQ(system(("mkdir -p '" + home.path() + "/" + row.libraryDir + "'").c_str()), 0);
        const std::string library = home.path() + "/" + row.libraryDir + "/libjvm.so";
        tvxtest::WriteFile(library, "");
        EXPECT_EQ(RuntimeFeature(library.c_str()), row.feature) << (row.release ? row.release : "(none)");
    }
}

TEST(StartupCacheFeature, OnlyANumberARuntimeCanHave) {
    struct Row {
        std::string release;
        int feature;
    } rows[] = {
        {"JAVA_VERSION=\"21.0.1\"", 21},
        {"A=1\r\nJAVA_VERSION=\"11\"\r\n", 11},
        {"JAVA_VERSION=\"1.7.0_80\"", 7},
        {"JAVA_VERSION=\"999\"", 999},
        // Beyond any runtime, or wrapping round an int: unknown.
        {"JAVA_VERSION=\"1000\"", 0},
        {"JAVA_VERSION=\"4294967313\"", 0},
        {"JAVA_VERSION=\"1.8292\"", 0},
        {"JAVA_VERSION=\"-17\"", 0},
        {"JAVA_VERSION=\"\"", 0},
        // A NUL ends the text; the line must start a line.
        {std::string("A=1\0\nJAVA_VERSION=\"17\"", 22), 0},
        {"XJAVA_VERSION=\"17\"", 0},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ReleaseFeature(row.release.data(), row.release.size()), row.feature) << row.release;
    // Bytes after the given size are not read.
    const std::string cut = "JAVA_VERSION=\"17\"";
    EXPECT_EQ(ReleaseFeature(cut.data(), 15), 1);
    EXPECT_EQ(ReleaseFeature(cut.data(), 10), 0);
}

TEST(StartupCacheStamp, OnlyTheWrittenBytesAreAccepted) {
    struct stat st {};
    st.st_size = 1234;
    st.st_ino = 56;
    st.st_mtim.tv_sec = 1765350000;
    st.st_mtim.tv_nsec = 7;
    const std::string stamp = StampOf(st).c_str();
    EXPECT_EQ(stamp, "1234 56 1765350000 7\n");
    const std::string refused[] = {"", "1234 56 1765350000 7", "1234 56 1765350000 7\n\n", "1234 57 1765350000 7\n",
                                   stamp + std::string("\0junk", 5)};
    EXPECT_TRUE(StampMatches(st, stamp.data(), stamp.size()));
    for (const std::string& bytes : refused) EXPECT_FALSE(StampMatches(st, bytes.data(), bytes.size())) << bytes;

    tvxtest::TempDir dir;
    const std::string archive = dir / "app.jsa";
    tvxtest::WriteFile(archive, "archive", 0600);
    EXPECT_FALSE(ArchiveIsIntact(archive.c_str())) << "no stamp";
    ASSERT_TRUE(WriteStamp(archive.c_str()));
    EXPECT_TRUE(ArchiveIsIntact(archive.c_str()));
    const std::string written = tvxtest::ReadFile(archive + ".ok");
    tvxtest::WriteFile(archive + ".ok", written + std::string("\0", 1) + "x");
    EXPECT_FALSE(ArchiveIsIntact(archive.c_str())) << "stamp with bytes after a NUL";
    tvxtest::WriteFile(archive + ".ok", written);
    tvxtest::WriteFile(archive, "rewritten archive", 0600);
    EXPECT_FALSE(ArchiveIsIntact(archive.c_str())) << "archive changed after its stamp";
}

TEST(StartupCacheDirectory, NamedOrDefaultForTheUser) {
    tvxtest::ScopedEnv noService("CACHE_DIRECTORY", nullptr);
    const char* xdg = getenv("XDG_CACHE_HOME");
    const std::string savedXdg = xdg ? xdg : "";
    setenv("XDG_CACHE_HOME", "/x/cache/", 1);
    EXPECT_EQ(std::string(CacheDirectory("true")), "/x/cache/tvx");
    EXPECT_EQ(std::string(CacheDirectory("TRUE")), "/x/cache/tvx");
    EXPECT_EQ(std::string(CacheDirectory("/srv/app/cache/")), "/srv/app/cache");
    setenv("XDG_CACHE_HOME", "relative", 1);  // not absolute: ignored
    EXPECT_EQ(std::string(CacheDirectory("true")), geteuid() == 0 ? "/var/cache/tvx" : std::string(getenv("HOME")) + "/.cache/tvx");
    if (xdg)
        setenv("XDG_CACHE_HOME", savedXdg.c_str(), 1);
    else
        unsetenv("XDG_CACHE_HOME");
}

// systemd's CacheDirectory= (the first of several), before the user's own
// places; a relative or empty value is not a place.
TEST(StartupCacheDirectory, ServiceCacheDirectoryFirst) {
    tvxtest::ScopedEnv xdg("XDG_CACHE_HOME", "/x/cache");
    struct Row {
        const char* cacheDirectory;  // nullptr: unset
        const char* expected;
        const char* source;
    } rows[] = {
        {"/var/cache/app", "/var/cache/app/tvx", "$CACHE_DIRECTORY"},
        {"/var/cache/app/", "/var/cache/app/tvx", "$CACHE_DIRECTORY"},
        {"/var/cache/app:/var/cache/other", "/var/cache/app/tvx", "$CACHE_DIRECTORY"},
        {"relative", "/x/cache/tvx", "$XDG_CACHE_HOME"},
        {"", "/x/cache/tvx", "$XDG_CACHE_HOME"},
        {nullptr, "/x/cache/tvx", "$XDG_CACHE_HOME"},
    };
    for (const Row& row : rows) {
        tvxtest::ScopedEnv cache("CACHE_DIRECTORY", row.cacheDirectory);
        const char* source = "";
        EXPECT_EQ(std::string(CacheDirectory("true", &source)), row.expected) << (row.cacheDirectory ? row.cacheDirectory : "unset");
        EXPECT_STREQ(source, row.source);
        // A named directory is the setting's, whatever the environment says.
        EXPECT_EQ(std::string(CacheDirectory("/srv/c", &source)), "/srv/c");
        EXPECT_STREQ(source, "the setting");
    }
}

TEST(StartupCacheName, ChangesWithEitherFile) {
    tvxtest::TempDir dir;
    const std::string exe = dir / "my app", jvm = dir / "libjvm.so";
    tvxtest::WriteFile(exe, "exe");
    tvxtest::WriteFile(jvm, "jvm");
    const std::string first = ArchiveName(exe.c_str(), jvm.c_str()).c_str();
    EXPECT_EQ(first.rfind("my_app-", 0), 0u) << first;
    EXPECT_EQ(first.size(), std::string("my_app-").size() + 8 + 1 + 8 + 1 + 16 + 4) << first;
    EXPECT_EQ(std::string(ArchiveName(exe.c_str(), jvm.c_str())), first) << "stable";

    struct timeval past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimes(jvm.c_str(), past), 0);
    const std::string touched = ArchiveName(exe.c_str(), jvm.c_str()).c_str();
    EXPECT_NE(touched, first);
    EXPECT_EQ(touched.substr(0, touched.size() - 20), first.substr(0, first.size() - 20))
        << "same paths, same prefix: the old archive can be found and removed";
    tvxtest::WriteFile(exe, "rebuilt");
    EXPECT_NE(std::string(ArchiveName(exe.c_str(), jvm.c_str())), touched);
    EXPECT_EQ(std::string(ArchiveName((dir / "missing").c_str(), jvm.c_str())), "");
}

}  // namespace
