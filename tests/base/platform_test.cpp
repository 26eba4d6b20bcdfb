// File handles, mappings, module file name and libraries over POSIX.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "base/platform.h"
#include "tests/support/test_support.h"

// The test is linked with --wrap=close: every close() call made by the
// launcher code (and this program) is counted here before it happens.
static int g_closeCalls[1024];
extern "C" int __real_close(int fd);
extern "C" int __wrap_close(int fd) {
    if (fd >= 0 && fd < 1024) ++g_closeCalls[fd];
    return __real_close(fd);
}

// The leak checker of sanitizer builds needs /proc, which the child of
// ModuleFileName.WorksWithoutProc hides; it is switched off there only.
extern "C" int __lsan_is_turned_off() { return getenv("TVX_EXPECTED_EXE") != nullptr; }

namespace {

using tvxtest::TempDir;
using tvxtest::WriteFile;

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) != -1; }

std::string ExecutablePath() {
    char* resolved = realpath(reinterpret_cast<const char*>(getauxval(AT_EXECFN)), nullptr);
    std::string path = resolved ? resolved : "";
    free(resolved);
    return path;
}

TEST(ModuleFileName, NamesTheRunningExecutable) {
    std::string exe = ExecutablePath();
    ASSERT_FALSE(exe.empty());
    char buffer[PATH_MAX + 1];
    memset(buffer, 'Z', sizeof buffer);
    int n = GetModuleFileName(nullptr, buffer, sizeof buffer);
    ASSERT_EQ(n, static_cast<int>(exe.size()));
    EXPECT_STREQ(buffer, exe.c_str());
}

TEST(ModuleFileName, TruncatesWithoutTerminator) {
    std::string exe = ExecutablePath();
    const int length = static_cast<int>(exe.size());
    const struct {
        int size;
        int result;
        bool terminated;
    } rows[] = {
        {length + 10, length, true}, {length + 1, length, true}, {length, length, false},
        {length - 1, length - 1, false}, {5, 5, false}, {1, 1, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("size " + std::to_string(row.size));
        std::vector<char> buffer(row.size + 4, 'Z');
        int n = GetModuleFileName(nullptr, buffer.data(), row.size);
        ASSERT_EQ(n, row.result);
        EXPECT_EQ(std::string(buffer.data(), n), exe.substr(0, n));
        EXPECT_EQ(buffer[n], row.terminated ? '\0' : 'Z');
        for (size_t i = n + 1; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 'Z') << "byte " << i;
    }
    char one;
    EXPECT_EQ(GetModuleFileName(nullptr, &one, 0), -1);
    EXPECT_EQ(GetModuleFileName(nullptr, nullptr, 10), -1);
}

// Runs in a child that cannot see /proc (see the next test); skipped in a
// normal run.
TEST(ModuleFileName, ChildWithoutProc) {
    const char* expected = getenv("TVX_EXPECTED_EXE");
    if (!expected) GTEST_SKIP() << "only runs inside ModuleFileName.WorksWithoutProc";
    char probe[16];
    ASSERT_EQ(readlink("/proc/self/exe", probe, sizeof probe), -1) << "/proc is still visible";
    char buffer[PATH_MAX + 1];
    int n = GetModuleFileName(nullptr, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    EXPECT_STREQ(buffer, expected);
    printf("child-checked\n");
}

TEST(ModuleFileName, WorksWithoutProc) {
    // qemu-user answers readlink("/proc/self/exe") itself, whatever is
    // mounted on /proc, so a hidden /proc cannot be shown to an emulated
    // program; the native builds (x86-64, i386) run this test.
    if (!tvxtest::Emulator().empty()) GTEST_SKIP() << "cannot hide /proc/self/exe under " << tvxtest::Emulator();
    std::string exe = ExecutablePath();
    tvxtest::RunOptions options;
    options.setEnv["TVX_EXPECTED_EXE"] = exe;
    tvxtest::RunResult r = tvxtest::Run(
        {"unshare", "--mount", "--propagation", "private", "sh", "-c",
         "mount -t tmpfs none /proc && exec \"$0\" --gtest_filter=ModuleFileName.ChildWithoutProc", exe},
        options);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("child-checked"), std::string::npos) << r.out;
}

TEST(FileHandle, MissingFileGivesTheInvalidHandle) {
    TempDir dir;
    const std::string paths[] = {dir / "missing", dir / "missing/dir/file", ""};
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        EXPECT_EQ(CreateFile(path.c_str()), INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(CreateFile(nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE), -1);
}

TEST(FileHandle, OpensForReadingOnlyAndNotInherited) {
    TempDir dir;
    WriteFile(dir / "f", "data");
    HANDLE h = CreateFile((dir / "f").c_str(), 0x80000000, 1, nullptr, 3, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(h->kind, 1);
    EXPECT_EQ(h->stream, nullptr);
    int fd = static_cast<int>(h->value);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(CloseHandle(h), 1);
    EXPECT_FALSE(IsOpen(fd));
}

TEST(FileHandle, GetFileSize) {
    TempDir dir;
    const size_t sizes[] = {0, 1, 4096, 70000};
    for (size_t size : sizes) {
        SCOPED_TRACE(size);
        WriteFile(dir / "f", std::string(size, 'x'));
        HANDLE h = CreateFile((dir / "f").c_str());
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD high = 77;
        EXPECT_EQ(GetFileSize(h, &high), size);
        EXPECT_EQ(high, 0u);
        EXPECT_EQ(GetFileSize(h), size);
        CloseHandle(h);
    }
}

class Mapping : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 100; ++i) content_ += static_cast<char>('A' + i % 26);
        WriteFile(dir_ / "f", content_);
        file_ = CreateFile((dir_ / "f").c_str());
        ASSERT_NE(file_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    }
    TempDir dir_;
    std::string content_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

// Whether `address` lies in one of this process's mappings, as
// /proc/self/maps lists them (which qemu-user answers for the emulated
// process, where msync and mincore see the host's reservations).
bool IsMapped(const void* address) {
    std::istringstream maps(tvxtest::ReadFile("/proc/self/maps"));
    const uintptr_t a = reinterpret_cast<uintptr_t>(address);
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long long low = 0, high = 0;
        if (sscanf(line.c_str(), "%llx-%llx", &low, &high) == 2 && a >= low && a < high) return true;
    }
    return false;
}

TEST_F(Mapping, ViewsAtOffsets) {
    HANDLE map = CreateFileMapping(file_, nullptr, 2, 0, 0, nullptr);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->kind, 2);
    EXPECT_EQ(map->extra, 100);
    const char* start = static_cast<const char*>(MapViewOfFile(map, 4, 0, 0, 0));
    ASSERT_NE(start, nullptr);
    EXPECT_EQ(std::string(start, 100), content_);
    const struct {
        DWORD offset;
        bool inside;
    } rows[] = {{0, true}, {16, true}, {99, true}, {100, true}, {101, false}, {0xFFFFFFFFu, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.offset);
        void* view = MapViewOfFile(map, 4, 0, row.offset, 0);
        EXPECT_EQ(view, row.inside ? start + row.offset : nullptr);
    }
    EXPECT_EQ(start[16], content_[16]);
    EXPECT_TRUE(IsMapped(start));
    EXPECT_EQ(UnmapViewOfFile(start), 1);
    // The mapping outlives its file handle.
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    EXPECT_EQ(std::string(start, 100), content_);
    EXPECT_EQ(CloseHandle(map), 1);
    EXPECT_FALSE(IsMapped(start)) << "the view is unmapped";
}

TEST_F(Mapping, NoUnusableAddressOnFailure) {
    TempDir dir;
    WriteFile(dir / "empty", "");
    HANDLE empty = CreateFile((dir / "empty").c_str());
    ASSERT_NE(empty, INVALID_HANDLE_VALUE);
    // An empty file cannot be mapped: no handle, so no address to misuse.
    HANDLE map = CreateFileMapping(empty);
    EXPECT_EQ(map, nullptr);
    EXPECT_EQ(MapViewOfFile(map, 0, 0, 0), nullptr);
    EXPECT_EQ(CloseHandle(map), 1);
    CloseHandle(empty);
    EXPECT_EQ(CreateFileMapping(INVALID_HANDLE_VALUE), nullptr);
    EXPECT_EQ(CreateFileMapping(nullptr), nullptr);
    EXPECT_EQ(MapViewOfFile(INVALID_HANDLE_VALUE, 0, 0, 0), nullptr);
    // A file handle is not a mapping.
    EXPECT_EQ(MapViewOfFile(file_, 0, 0, 0), nullptr);
}

TEST(FileHandle, CloseHandleClosesTheDescriptorExactlyOnce) {
    TempDir dir;
    WriteFile(dir / "f", "0123456789");
    const struct {
        const char* name;
        void (*use)(HANDLE);
        bool streamOpened;
    } rows[] = {
        {"unused", [](HANDLE) {}, false},
        {"size taken", [](HANDLE h) { GetFileSize(h); }, false},
        {"read to the end", [](HANDLE h) {
             char buffer[32];
             DWORD n = 0;
             ReadFile(h, buffer, sizeof buffer, &n);
             ReadFile(h, buffer, sizeof buffer, &n);  // 0 from read(): falls back to the stream
         }, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HANDLE h = CreateFile((dir / "f").c_str());
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        int fd = static_cast<int>(h->value);
        ASSERT_LT(fd, 1024);
        row.use(h);
        EXPECT_EQ(h->stream != nullptr, row.streamOpened);
        int before = g_closeCalls[fd];
        EXPECT_EQ(CloseHandle(h), 1);
        EXPECT_FALSE(IsOpen(fd));
        EXPECT_EQ(errno, EBADF);
        // With a stream, fclose closes the descriptor and close() is not
        // called a second time; without one, close() is called once.
        EXPECT_EQ(g_closeCalls[fd] - before, row.streamOpened ? 0 : 1);
    }
}

TEST(FileHandle, CloseHandleOfOtherKinds) {
    EXPECT_EQ(CloseHandle(new clzHANDLE(12345)), 1);  // kind 0 holds no resource
    EXPECT_EQ(CloseHandle(INVALID_HANDLE_VALUE), 1);
    EXPECT_EQ(CloseHandle(nullptr), 1);
}

TEST(FileHandle, ReadFileReportsTheCount) {
    TempDir dir;
    WriteFile(dir / "f", "0123456789");
    HANDLE h = CreateFile((dir / "f").c_str());
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[8];
    DWORD n = 99;
    EXPECT_EQ(ReadFile(h, buffer, 4, &n), 1);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(ReadFile(h, buffer, 8, &n), 1);
    EXPECT_EQ(n, 6u);
    EXPECT_EQ(std::string(buffer, 6), "456789");
    EXPECT_EQ(ReadFile(h, buffer, 8, &n), 1);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(ReadFile(h, buffer, 8, nullptr), 1);
    CloseHandle(h);

    // A read error still reports success; the count says -1.
    HANDLE d = CreateFile(dir.path().c_str());
    ASSERT_NE(d, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ReadFile(d, buffer, 8, &n), 1);
    EXPECT_EQ(n, static_cast<DWORD>(-1));
    CloseHandle(d);
    EXPECT_EQ(ReadFile(INVALID_HANDLE_VALUE, buffer, 8, &n), 1);
    EXPECT_EQ(n, static_cast<DWORD>(-1));
}

TEST(Paths, CurrentDirectory) {
    char expected[PATH_MAX];
    ASSERT_NE(getcwd(expected, sizeof expected), nullptr);
    char buffer[PATH_MAX];
    EXPECT_EQ(GetCurrentDirectory(sizeof buffer, buffer), strlen(expected));
    EXPECT_STREQ(buffer, expected);
    char small[2] = {'Z', 'Z'};
    if (strlen(expected) >= 2) {
        EXPECT_EQ(GetCurrentDirectory(sizeof small, small), 0u);
        EXPECT_EQ(small[0], '\0');
    }
}

TEST(Paths, FullPathNameIsThePathUnchanged) {
    const char* paths[] = {"lib/a.jar", "../x", "/abs/path", "", "./y"};
    for (const char* path : paths) {
        SCOPED_TRACE(path);
        char buffer[64];
        char* filePart = nullptr;
        EXPECT_EQ(GetFullPathName(path, sizeof buffer, buffer, &filePart), strlen(path));
        EXPECT_STREQ(buffer, path);
    }
    char small[4];
    EXPECT_EQ(GetFullPathName("abcdefgh", sizeof small, small), 8u);
    EXPECT_EQ(std::string(small, 3), "abc");
    EXPECT_EQ(small[3], '\0');
}

TEST(Libraries, LoadResolveFree) {
    HMODULE lib = LoadLibrary("libm.so.6");
    ASSERT_NE(lib, nullptr);
    auto cosine = reinterpret_cast<double (*)(double)>(GetProcAddress(lib, "cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(GetProcAddress(lib, "no_such_symbol_here"), nullptr);
    EXPECT_EQ(FreeLibrary(lib), 1);
    TempDir dir;
    EXPECT_EQ(LoadLibrary((dir / "missing.so").c_str()), nullptr);
    WriteFile(dir / "bad.so", "not a library");
    EXPECT_EQ(LoadLibrary((dir / "bad.so").c_str()), nullptr);
    EXPECT_EQ(LoadLibrary(nullptr), nullptr);
}

}  // namespace
