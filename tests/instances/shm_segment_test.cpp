// The instance segment: keying by the application identifier's lock file or
// the executable, clearing what dead instances left, removal by the last
// instance, and refusal of segments that cannot be used. Runs in private
// mount and IPC namespaces with its own /tmp.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/ipc.h>
#include <stdint.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "instances/shm.h"
#include "tests/instances/private_namespaces.h"
#include "tests/support/test_support.h"

namespace {

[[maybe_unused]] const bool kIsolated = tvxtest::RegisterPrivateNamespaces();

std::string ExePath() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, n) : std::string();
}

std::string LockFile(const std::string& cleaned) { return "/tmp/appid." + cleaned + ".tvx.lock"; }

key_t KeyOf(const std::string& path) { return ftok(path.c_str(), 0xFF); }

struct SegmentInfo {
    bool exists = false;
    size_t size = 0;
    int attached = 0;
};

SegmentInfo Inspect(key_t key) {
    SegmentInfo info;
    int id = shmget(key, 0, 0);
    shmid_ds ds;
    if (id == -1 || shmctl(id, IPC_STAT, &ds) != 0) return info;
    info.exists = true;
    info.size = ds.shm_segsz;
    info.attached = static_cast<int>(ds.shm_nattch);
    return info;
}

void RemoveSegment(key_t key) {
    int id = shmget(key, 0, 0);
    if (id != -1) shmctl(id, IPC_RMID, nullptr);
}

std::vector<std::string> AppidFiles() {
    std::vector<std::string> names;
    DIR* dir = opendir("/tmp");
    if (!dir) return names;
    while (dirent* e = readdir(dir)) {
        if (strncmp(e->d_name, "appid.", 6) == 0) names.push_back(e->d_name);
    }
    closedir(dir);
    return names;
}

bool AllBytesAre(const void* p, int size, unsigned char value) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (int i = 0; i < size; ++i)
        if (b[i] != value) return false;
    return true;
}

// A segment as the start that made or cleared it leaves it: all zero but
// for the record at byte 4 that says whose it is ("tvx-key1", then the key
// file's device and inode, 64 bits each).
bool ClearedFor(const void* p, const std::string& keyFile) {
    struct stat st;
    if (stat(keyFile.c_str(), &st) != 0) return false;
    unsigned char expected[4096] = {};
    memcpy(expected + 4, "tvx-key1", 8);
    const uint64_t device = st.st_dev, inode = st.st_ino;
    memcpy(expected + 12, &device, 8);
    memcpy(expected + 20, &inode, 8);
    return memcmp(p, expected, sizeof expected) == 0;
}

// Runs `body` with descriptor 2 sent to a file and returns what it wrote.
std::string CaptureStderr(const std::function<void()>& body) {
    tvxtest::TempDir dir;
    std::string path = dir / "stderr";
    fflush(stderr);
    int saved = dup(2);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, 2);
    close(fd);
    body();
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    return tvxtest::ReadFile(path);
}

TEST(InstanceSegmentKey, LockFileNameFromAppid) {
    struct Row {
        const char* appid;
        std::string keyFile;  // empty: keyed by the executable, no file
    };
    const Row rows[] = {
        {"app", LockFile("app")},
        {"  my app  ", LockFile("my app")},
        {"a b/c:d\\e", LockFile("a b.c.d.e")},
        {"C:\\Program Files\\App", LockFile("C..Program Files.App")},
        {"\tx ", LockFile("\tx")},  // only the space character is a blank
        {"", ""},
        {"     ", ""},
        {nullptr, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.appid ? std::string("appid '") + row.appid + "'" : std::string("appid null"));
        std::vector<std::string> before = AppidFiles();
        CShmHelper helper;
        helper.setkey(row.appid);
        EXPECT_EQ(std::string(helper.KeyFile().GetSize() ? helper.KeyFile().c_str() : ""), row.keyFile);
        if (row.keyFile.empty()) {
            EXPECT_EQ(AppidFiles(), before) << "a blank identifier creates no file";
        } else {
            EXPECT_TRUE(tvxtest::FileExists(row.keyFile));
            EXPECT_EQ(tvxtest::ReadFile(row.keyFile), "");
        }
    }
}

TEST(InstanceSegmentKey, ExistingLockFileIsLeftAsItIs) {
    std::string path = LockFile("keep");
    tvxtest::WriteFile(path, "content", 0644);
    CShmHelper helper;
    helper.setkey("keep");
    EXPECT_EQ(tvxtest::ReadFile(path), "content");
}

TEST(InstanceSegment, AttachesTheSegmentOfItsKey) {
    struct Row {
        const char* appid;
        std::string keyFile;
    };
    const Row rows[] = {
        {"segment-by-appid", LockFile("segment-by-appid")},
        {"  ", ExePath()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.appid);
        key_t key = -1;
        {
            CShmHelper helper;
            helper.setkey(row.appid);
            key = KeyOf(row.keyFile);
            ASSERT_NE(key, -1);
            RemoveSegment(key);
            void* address = helper;
            ASSERT_NE(address, nullptr);
            EXPECT_EQ(static_cast<void*>(helper), address) << "attached once";
            SegmentInfo info = Inspect(key);
            EXPECT_TRUE(info.exists);
            EXPECT_EQ(info.size, 4096u);
            EXPECT_EQ(info.attached, 1);
            EXPECT_TRUE(ClearedFor(address, row.keyFile));
        }
        EXPECT_FALSE(Inspect(key).exists) << "the last instance removes the segment";
    }
}

TEST(InstanceSegment, ClearsOnlyWhatNobodyIsAttachedTo) {
    struct Row {
        const char* name;
        bool keepAttached;  // another instance still holds the segment
        bool cleared;
    };
    const Row rows[] = {
        {"left behind by instances that died", false, true},
        {"in use by a running instance", true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CShmHelper helper;
        helper.setkey("stale");
        key_t key = KeyOf(LockFile("stale"));
        RemoveSegment(key);
        int id = shmget(key, 4096, IPC_CREAT | 0600);
        ASSERT_NE(id, -1) << strerror(errno);
        void* other = shmat(id, nullptr, 0);
        ASSERT_NE(other, reinterpret_cast<void*>(-1));
        memset(other, 0x5A, 4096);
        if (!row.keepAttached) shmdt(other);

        void* address = helper;
        ASSERT_NE(address, nullptr);
        EXPECT_EQ(ClearedFor(address, LockFile("stale")), row.cleared);
        EXPECT_EQ(AllBytesAre(address, 4096, 0x5A), !row.cleared);
        if (row.keepAttached) shmdt(other);
        RemoveSegment(key);
    }
}

TEST(InstanceSegment, InstancesOfOneAppidShareTheSegment) {
    CShmHelper first;
    first.setkey("shared");
    CShmHelper second;
    second.setkey(" shared ");
    int* a = static_cast<int*>(static_cast<void*>(first));
    ASSERT_NE(a, nullptr);
    a[0] = 1;
    int* b = static_cast<int*>(static_cast<void*>(second));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b[0], 1) << "the second attach finds the first attached and clears nothing";
    b[0] = 2;
    EXPECT_EQ(a[0], 2);
    EXPECT_EQ(Inspect(KeyOf(LockFile("shared"))).attached, 2);
}

TEST(InstanceSegment, StaysWhileAnotherInstanceIsAttached) {
    key_t key = KeyOf(ExePath());
    RemoveSegment(key);
    void* other = nullptr;
    {
        CShmHelper helper;
        helper.setkey("");
        ASSERT_NE(static_cast<void*>(helper), nullptr);
        int id = shmget(key, 0, 0);
        other = shmat(id, nullptr, 0);
        ASSERT_NE(other, reinterpret_cast<void*>(-1));
    }
    EXPECT_TRUE(Inspect(key).exists);
    shmdt(other);
    RemoveSegment(key);
}

TEST(InstanceSegment, UnusableSegmentGivesNullAndOneLine) {
    struct Row {
        const char* name;
        std::string appid;
        std::function<void()> prepare;
        const char* step;  // named in the message
    };
    const std::string longId(300, 'x');  // the lock file's name is too long to create
    const Row rows[] = {
        {"foreign segment smaller than ours", "small",
         [] {
             CShmHelper keyOnly;
             keyOnly.setkey("small");
             RemoveSegment(KeyOf(LockFile("small")));
             ASSERT_NE(shmget(KeyOf(LockFile("small")), 100, IPC_CREAT | 0666), -1);
         },
         "shmget"},
        {"lock file cannot be created", longId, [] {}, "cannot be opened: File name too long"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.prepare();
        RemoveSegment(static_cast<key_t>(-1));
        CShmHelper helper;
        void* address = &helper;
        std::string err = CaptureStderr([&] {
            helper.setkey(row.appid.c_str());
            address = helper;
        });
        EXPECT_EQ(address, nullptr);
        EXPECT_NE(err.find(row.step), std::string::npos) << err;
        EXPECT_NE(err.find("running without single-instance"), std::string::npos) << err;
        ASSERT_FALSE(err.empty());
        EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        EXPECT_EQ(CaptureStderr([&] { address = helper; }), "") << "reported once";
        EXPECT_EQ(address, nullptr);
        EXPECT_FALSE(Inspect(static_cast<key_t>(-1)).exists) << "no catch-all segment of key -1";
    }
    RemoveSegment(KeyOf(LockFile("small")));
}

TEST(InstanceSegment, CreatedForItsOwnerAlone) {
    CShmHelper helper;
    helper.setkey("owner-only");
    RemoveSegment(KeyOf(LockFile("owner-only")));
    ASSERT_NE(static_cast<void*>(helper), nullptr);
    shmid_ds ds;
    ASSERT_EQ(shmctl(shmget(KeyOf(LockFile("owner-only")), 0, 0), IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.shm_perm.mode & 0777, 0600u);
    EXPECT_EQ(ds.shm_perm.uid, geteuid());
}

// Segments another user could write into: refused with one line while
// someone holds them; one of ours that nobody holds is closed and reused.
TEST(InstanceSegment, SegmentOthersCanWriteIsRefusedOrClosed) {
    struct Row {
        const char* name;
        int mode;
        uid_t uid;
        bool held;
        bool usable;
    };
    const Row rows[] = {
        {"another user's, held", 0600, 65534, true, false},
        {"another user's, left behind", 0600, 65534, false, false},
        {"ours, writable by others, held", 0666, 0, true, false},
        {"ours, writable by the group, held", 0620, 0, true, false},
        {"ours, writable by others, left behind", 0666, 0, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        key_t key = KeyOf(LockFile("open"));
        {
            CShmHelper keyOnly;
            keyOnly.setkey("open");
            key = KeyOf(LockFile("open"));
        }
        RemoveSegment(key);
        int id = shmget(key, 4096, IPC_CREAT | row.mode);
        ASSERT_NE(id, -1) << strerror(errno);
        void* other = row.held ? shmat(id, nullptr, 0) : nullptr;
        shmid_ds ds;
        ASSERT_EQ(shmctl(id, IPC_STAT, &ds), 0);
        ds.shm_perm.uid = row.uid == 0 ? geteuid() : row.uid;
        ds.shm_perm.mode = row.mode;
        ASSERT_EQ(shmctl(id, IPC_SET, &ds), 0) << strerror(errno);

        CShmHelper helper;
        void* address = nullptr;
        std::string err = CaptureStderr([&] {
            helper.setkey("open");
            address = helper;
        });
        EXPECT_EQ(address != nullptr, row.usable);
        if (row.usable) {
            EXPECT_EQ(err, "");
            ASSERT_EQ(shmctl(id, IPC_STAT, &ds), 0);
            EXPECT_EQ(ds.shm_perm.mode & 0777, 0600u);
        } else {
            EXPECT_NE(err.find("Instance segment refused"), std::string::npos) << err;
            EXPECT_NE(err.find("running without single-instance"), std::string::npos) << err;
            EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
        }
        if (other) shmdt(other);
        RemoveSegment(key);
    }
}

TEST(InstanceCounter, CountsAndResetsValuesThatCannotBeCounts) {
    struct Row {
        int before;
        bool another;   // reported as another instance running
        int after;
        bool damaged;   // one line on standard error
    };
    const Row rows[] = {
        {0, false, 1, false},
        {1, true, 2, false},
        {kInstanceCountLimit - 1, true, kInstanceCountLimit, false},
        {kInstanceCountLimit, false, 1, true},
        {INT_MAX, false, 1, true},
        {-1, false, 1, true},  // a segment full of 0xFF
        {INT_MIN, false, 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.before);
        int segment[4] = {row.before, 0, 0, 0};
        bool another = false;
        std::string err = CaptureStderr([&] { another = CountInstance(segment); });
        EXPECT_EQ(another, row.another);
        EXPECT_EQ(segment[0], row.after);
        EXPECT_EQ(err.empty(), !row.damaged) << err;
        if (row.damaged) {
            EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
        }
    }
    EXPECT_FALSE(CountInstance(nullptr));
}

TEST(InstanceCounter, ConcurrentStartsEachCountOnce) {
    int counter = 0;
    std::vector<pthread_t> threads(4);
    for (pthread_t& t : threads) {
        pthread_create(&t, nullptr, [](void* p) -> void* {
            for (int i = 0; i < 10000; ++i) CountInstance(p);
            return nullptr;
        }, &counter);
    }
    for (pthread_t t : threads) pthread_join(t, nullptr);
    EXPECT_EQ(counter, 40000);
}

}  // namespace
