// Packed Java applications in "custom" single-instance mode, several at once,
// exchanging objects through com.brindell.tvx.Instances: message sizes
// around the chunk boundary and a large one, sending to oneself and to the
// first instance, interleaved senders, a class only the application's jar
// has, the owner killed, a target killed mid-message, a registered target
// that never reads, and the answers of a launch that is not "custom". Runs in
// private mount and IPC namespaces.
//
// TVX_TEST_LAUNCHER (a launcher image) and TVX_TEST_JVM (a libjvm.so) select
// what the applications are packed with and run on; by default, this build's
// launcher and the build's JDK.
#include <signal.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "instances/channel_block.h"
#include "tests/instances/background_process.h"
#include "tests/instances/private_namespaces.h"
#include "tests/support/test_support.h"

namespace {

using tvxtest::Background;

[[maybe_unused]] const bool kIsolated = tvxtest::RegisterPrivateNamespaces({"/run"});

// A byte array of n bytes reaches the channel as n + 31 bytes: the 4-byte
// kind and the serialisation stream of a byte[] (27 bytes before the data).
constexpr int kByteArrayOverhead = 31;

int CountLines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* value = getenv(name);
    return value && *value ? value : fallback;
}

class Channel : public testing::Test {
protected:
    // Packs the channel application as `name`; every executable of a test
    // shares one segment through the same "appid".
    std::string Pack(const std::string& name, bool custom, const std::vector<std::string>& more = {}) {
        std::string exe = dir_ / name;
        std::vector<std::string> lines = {"appid=channel-test",
                                          "jvmdll=" + EnvOr("TVX_TEST_JVM", tvxtest::JavaHome() + "/lib/server/libjvm.so")};
        if (custom) lines.push_back("singleinstance=custom");
        lines.insert(lines.end(), more.begin(), more.end());
        std::vector<std::string> args = {"--main", "instancetest.ChannelApp"};
        std::string launcher = EnvOr("TVX_TEST_LAUNCHER", "");
        if (!launcher.empty()) args.insert(args.end(), {"--launcher", launcher});
        tvxtest::Pack(tvxtest::TestJarsDir() + "/instance-apps.jar", exe, lines, args);
        return exe;
    }

    // Starts instance `name` of `exe` with the given steps.
    Background* Start(const std::string& exe, const std::string& name, std::vector<std::string> steps) {
        std::vector<std::string> argv = {exe, "-test", dir_.path(), name};
        argv.insert(argv.end(), steps.begin(), steps.end());
        running_.emplace_back(new Background(argv, dir_ / (name + ".out")));
        return running_.back().get();
    }
    // Starts an instance and waits for its NAME.info.
    Background* StartReady(const std::string& exe, const std::string& name, std::vector<std::string> steps) {
        Background* b = Start(exe, name, steps);
        EXPECT_TRUE(b->WaitForFile(dir_ / (name + ".info"))) << Output(name);
        return b;
    }

    std::map<std::string, std::string> Info(const std::string& file) {
        std::map<std::string, std::string> values;
        std::istringstream in(tvxtest::ReadFile(dir_ / (file + ".info")));
        std::string line;
        while (std::getline(in, line)) {
            size_t eq = line.find('=');
            if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return values;
    }
    std::string Pid(const std::string& name) { return Info(name)["pid"]; }

    std::vector<std::string> Log(const std::string& name) {
        std::vector<std::string> lines;
        std::istringstream in(tvxtest::FileExists(dir_ / (name + ".log")) ? tvxtest::ReadFile(dir_ / (name + ".log"))
                                                                          : "");
        std::string line;
        while (std::getline(in, line)) lines.push_back(line);
        return lines;
    }
    // Waits (at most two minutes) until NAME.log holds `count` lines.
    bool WaitForLog(const std::string& name, size_t count) {
        for (int i = 0; i < 6000; ++i) {
            if (Log(name).size() >= count) return true;
            usleep(20000);
        }
        return false;
    }
    std::string Output(const std::string& name) {
        std::string out = dir_ / (name + ".out");
        return tvxtest::FileExists(out) ? name + ": " + tvxtest::ReadFile(out) : name + ": (no output)";
    }

    // Lets every instance end and checks that each ended well.
    void StopAll(const std::vector<std::string>& names) {
        tvxtest::WriteFile(dir_ / "stop", "");
        for (size_t i = 0; i < running_.size(); ++i) {
            int status = running_[i]->Wait();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Output(names[i]) << " status " << status;
        }
    }
    void Go() { tvxtest::WriteFile(dir_ / "go", ""); }

    tvxtest::TempDir dir_;
    std::vector<std::unique_ptr<Background>> running_;
};

uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// The log line of an object sent with send:TARGET:KIND:SIZE by `from`.
std::string Received(const std::string& from, const std::string& kind, int size) {
    std::string bytes;
    std::string cls;
    if (kind == "bytes") {
        cls = "[B";
        for (int i = 0; i < size; ++i) bytes.push_back(static_cast<char>(i * 31 + 7));
    } else if (kind == "note") {
        cls = "instancetest.ChannelApp$Note";
        bytes.assign(size, 'n');
    } else {
        cls = "java.lang.String";
        bytes.assign(size, 's');
    }
    return "from=" + from + " class=" + cls + " len=" + std::to_string(size) + " crc=" + std::to_string(Crc32(bytes));
}

TEST_F(Channel, ThreeInstancesExchangeObjects) {
    std::string exe = Pack("app", true);
    StartReady(exe, "A", {"recv", "ready", "hold"});
    StartReady(exe, "B", {"recv", "ready", "hold"});
    const int oneChunk = 1024 - kByteArrayOverhead;
    StartReady(exe, "C",
               {"recv", "ready", "send:A:bytes:0", "send:A:bytes:" + std::to_string(oneChunk),
                "send:A:bytes:" + std::to_string(oneChunk + 1), "send:first:note:5", "send:0:string:3",
                "send:self:bytes:100", "send:B:bytes:1048576", "hold"});
    std::string a = Pid("A"), b = Pid("B"), c = Pid("C");

    std::map<std::string, std::string> infoA = Info("A");
    EXPECT_EQ(infoA["current"], a) << "the channel's pid is the process's";
    EXPECT_EQ(infoA["first"], a);
    std::map<std::string, std::string> infoC = Info("C");
    EXPECT_EQ(infoC["first"], a);
    EXPECT_EQ(infoC["current"], c);
    EXPECT_EQ(infoC["instances"], a + "," + b + "," + c) << "the first instance first, then in order of start";

    ASSERT_TRUE(WaitForLog("A", 5)) << Output("A") << Output("C");
    EXPECT_EQ(Log("A"), (std::vector<std::string>{Received(c, "bytes", 0), Received(c, "bytes", oneChunk),
                                                  Received(c, "bytes", oneChunk + 1), Received(c, "note", 5),
                                                  Received(c, "string", 3)}))
        << "one sender's messages arrive in order, the application's own class included";
    ASSERT_TRUE(WaitForLog("C", 1)) << Output("C");
    EXPECT_EQ(Log("C"), std::vector<std::string>{Received(c, "bytes", 100)}) << "sent to itself";
    ASSERT_TRUE(WaitForLog("B", 1)) << Output("B") << Output("C");
    EXPECT_EQ(Log("B"), std::vector<std::string>{Received(c, "bytes", 1048576)});
    StopAll({"A", "B", "C"});
}

TEST_F(Channel, TwoSendersInterleave) {
    std::string exe = Pack("app", true);
    StartReady(exe, "A", {"recv", "ready", "hold"});
    StartReady(exe, "B", {"ready", "wait:go", "send:A:bytes:60000", "hold"});
    StartReady(exe, "C", {"ready", "wait:go", "send:A:bytes:40000", "hold"});
    Go();
    ASSERT_TRUE(WaitForLog("A", 2)) << Output("A");
    std::vector<std::string> log = Log("A");
    std::sort(log.begin(), log.end());
    std::vector<std::string> expected = {Received(Pid("B"), "bytes", 60000), Received(Pid("C"), "bytes", 40000)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(log, expected);
    StopAll({"A", "B", "C"});
}

TEST_F(Channel, KilledOwnerIsReplaced) {
    std::string exe = Pack("app", true);
    Background* owner = StartReady(exe, "A", {"recv", "ready", "hold"});
    StartReady(exe, "B", {"recv", "ready", "waitfirst-not:A", "send:first:string:7", "ready:B2", "hold"});
    StartReady(exe, "C", {"recv", "ready", "hold"});
    std::string a = Pid("A"), b = Pid("B"), c = Pid("C");
    ASSERT_EQ(Info("B")["first"], a);
    owner->Kill(SIGKILL);
    owner->Wait();

    ASSERT_TRUE(tvxtest::FileExists(dir_ / "B2.info") || running_[1]->WaitForFile(dir_ / "B2.info")) << Output("B");
    std::map<std::string, std::string> after = Info("B2");
    EXPECT_TRUE(after["first"] == b || after["first"] == c) << after["first"];
    std::string newOwner = after["first"] == b ? "B" : "C";
    EXPECT_EQ(after["instances"].find(a), std::string::npos) << "the dead owner is no longer listed";
    ASSERT_TRUE(WaitForLog(newOwner, 1)) << Output(newOwner);
    EXPECT_EQ(Log(newOwner), std::vector<std::string>{Received(b, "string", 7)});
    running_.erase(running_.begin());
    StopAll({"B", "C"});
}

TEST_F(Channel, TargetKilledMidMessageDoesNotBlockTheChannel) {
    std::string exe = Pack("app", true);
    Background* target = StartReady(exe, "A", {"recv", "ready", "hold"});
    StartReady(exe, "B", {"recv", "ready", "hold"});
    StartReady(exe, "C", {"ready", "wait:go", "send:A:bytes:262144", "send:B:string:9", "hold"});
    Go();
    usleep(1000000);  // 256 KiB take at least 2.5 s at one chunk per 10 ms
    target->Kill(SIGKILL);
    target->Wait();
    ASSERT_TRUE(WaitForLog("B", 1)) << Output("B") << Output("C");
    EXPECT_EQ(Log("B"), std::vector<std::string>{Received(Pid("C"), "string", 9)});
    EXPECT_TRUE(Log("A").empty());
    running_.erase(running_.begin());
    StopAll({"B", "C"});
}

// D runs without "custom": registered in the table, but it never reads, and
// its natives answer "not started".
TEST_F(Channel, TargetThatNeverReadsAndALaunchThatIsNotCustom) {
    std::string exe = Pack("app", true);
    std::string plain = Pack("plain", false);
    StartReady(exe, "A", {"recv", "ready", "hold"});
    StartReady(plain, "D", {"ready", "send:A:string:1", "send:first:string:1", "flush", "hold"});
    StartReady(exe, "B", {"recv", "ready", "hold"});
    StartReady(exe, "C", {"ready", "wait:go", "send:D:bytes:3000", "send:B:string:4", "hold"});
    std::string a = Pid("A"), d = Pid("D");

    std::map<std::string, std::string> infoD = Info("D");
    EXPECT_EQ(infoD["current"], "-1");
    EXPECT_EQ(infoD["first"], "-1");
    EXPECT_EQ(infoD["instances"], a + "," + d) << "getInstances works in every launch";

    Go();
    ASSERT_TRUE(WaitForLog("B", 1)) << Output("B") << Output("C");
    EXPECT_EQ(Log("B"), std::vector<std::string>{Received(Pid("C"), "string", 4)})
        << "the chunks for D were given up one after another";
    EXPECT_TRUE(Log("A").empty()) << "sending from a launch that is not custom does nothing";
    StopAll({"A", "D", "B", "C"});
}

// The first instance runs without "custom", so it never paces the channel:
// a custom instance takes its place and a chunk for it is given up.
TEST_F(Channel, FirstInstanceWithoutCustomDoesNotStallTheChannel) {
    std::string exe = Pack("app", true);
    std::string plain = Pack("plain", false);
    StartReady(plain, "D", {"ready", "hold"});
    StartReady(exe, "A", {"recv", "ready", "hold"});
    StartReady(exe, "C", {"ready", "wait:go", "send:D:bytes:1500", "send:A:string:6", "hold"});
    EXPECT_EQ(Info("A")["first"], Pid("D"));
    Go();
    ASSERT_TRUE(WaitForLog("A", 1)) << Output("A") << Output("C");
    EXPECT_EQ(Log("A"), std::vector<std::string>{Received(Pid("C"), "string", 6)});
    StopAll({"D", "A", "C"});
}

// System.exit ends the process from inside the runtime while the receive
// thread runs and messages arrive: the process still ends with the
// application's status, not a crash. Every shmdt of the exiting instance
// lingers 300 ms, so a receive loop left running past the detach of the
// segment at exit would crash it.
TEST_F(Channel, SystemExitWhileTheChannelRuns) {
    std::string exe = Pack("app", true);
    StartReady(exe, "B", {"ready", "wait:go", "send:A:bytes:20000", "hold"});
    running_.emplace_back(new Background({"/usr/bin/env", std::string("LD_PRELOAD=") + TVX_TEST_SLOW_DETACH, exe, "-test",
                                          dir_.path(), "A", "recv", "ready", "wait:go", "exit:5"},
                                         dir_ / "A.out"));
    Background* a = running_.back().get();
    EXPECT_TRUE(a->WaitForFile(dir_ / "A.info")) << Output("A");
    Go();
    int status = a->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 5) << Output("A") << " status " << status;
    running_.pop_back();
    StopAll({"B"});
}

// The segment of the test's "appid", created and held by this process (so
// that no start clears it), with `prepare` applied to it.
class HeldSegment {
public:
    explicit HeldSegment(const std::function<void(int id, void* address)>& prepare) {
        tvxtest::WriteFile(kLockFile, "");
        id_ = shmget(ftok(kLockFile, 0xFF), 4096, IPC_CREAT | IPC_EXCL | 0600);
        address_ = id_ == -1 ? nullptr : shmat(id_, nullptr, 0);
        if (address_ == reinterpret_cast<void*>(-1)) address_ = nullptr;
        if (address_) prepare(id_, address_);
    }
    ~HeldSegment() {
        if (address_) shmdt(address_);
        if (id_ != -1) shmctl(id_, IPC_RMID, nullptr);
    }
    bool ok() const { return address_ != nullptr; }

private:
    static constexpr const char* kLockFile = "/tmp/appid.channel-test.tvx.lock";
    int id_ = -1;
    void* address_ = nullptr;
};

TEST_F(Channel, SegmentFullOfGarbageIsRepaired) {
    HeldSegment held([](int, void* address) { memset(address, 0xFF, 4096); });
    ASSERT_TRUE(held.ok()) << strerror(errno);
    std::string exe = Pack("app", true);
    StartReady(exe, "A", {"recv", "ready", "hold"});
    StartReady(exe, "B", {"ready", "send:A:string:2", "hold"});
    ASSERT_TRUE(WaitForLog("A", 1)) << Output("A") << Output("B");
    EXPECT_EQ(Log("A"), std::vector<std::string>{Received(Pid("B"), "string", 2)});
    EXPECT_EQ(Info("B")["first"], Pid("A")) << "the garbage owner was replaced";
    StopAll({"A", "B"});
}

TEST_F(Channel, SegmentOfAnotherUserIsRefusedAndTheApplicationRuns) {
    HeldSegment held([](int id, void*) {
        shmid_ds ds;
        shmctl(id, IPC_STAT, &ds);
        ds.shm_perm.uid = 65534;
        shmctl(id, IPC_SET, &ds);
    });
    ASSERT_TRUE(held.ok()) << strerror(errno);
    std::string exe = Pack("app", true);
    StartReady(exe, "A", {"recv", "ready", "send:first:string:1", "flush", "hold"});
    std::map<std::string, std::string> info = Info("A");
    EXPECT_EQ(info["current"], "-1") << "not started";
    EXPECT_EQ(info["first"], "-1");
    EXPECT_EQ(info["instances"], "");
    StopAll({"A"});
    // Reported on the starter's standard error, before any redirection.
    std::string out = tvxtest::ReadFile(dir_ / "A.out");
    const std::string line =
        "Instance segment refused: it belongs to user 65534; running without single-instance and instance "
        "messages.\n";
    size_t at = out.find(line);
    EXPECT_NE(at, std::string::npos) << out;
    EXPECT_EQ(out.find("Instance segment", at + 1), std::string::npos) << "said once: " << out;
}

// Messages beyond the receiver's limits are refused with one line naming the
// limit, and the message after each is still delivered: a nested-set bomb
// (reading it back would keep the delivery thread busy for good), a chain
// deeper than allowed, an array longer than allowed. An application widens
// a limit with a property.
TEST_F(Channel, MessagesBeyondTheLimitsAreRefusedAndTheNextIsDelivered) {
    struct Row {
        const char* what;
        std::vector<std::string> lines;
        const char* send;     // the first message's KIND:SIZE
        const char* refusal;  // in the one line; empty: delivered
    } rows[] = {
        {"nested sets", {}, "bomb:100", ", above tvx.instances.maxdepth=20"},
        {"deep chain", {}, "chain:40", ", above tvx.instances.maxdepth=20"},
        {"deep chain, limit widened", {"property=tvx.instances.maxdepth=100"}, "chain:40", ""},
        {"long array, limit narrowed", {"property=tvx.instances.maxarray=1000"}, "bytes:5000",
         "an array of 5000, above tvx.instances.maxarray=1000"},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string a = "A" + std::to_string(n), b = "B" + std::to_string(n), app = "app" + std::to_string(n);
        ++n;
        std::string exe = Pack(app, true, row.lines);
        StartReady(exe, a, {"recv", "ready", "hold"});
        StartReady(exe, b, {"ready", std::string("send:") + a + ":" + row.send, "send:" + a + ":string:3", "flush", "hold"});
        const size_t expected = row.refusal[0] ? 1 : 2;
        EXPECT_TRUE(WaitForLog(a, expected)) << Output(a) << Output(b);
        std::vector<std::string> log = Log(a);
        EXPECT_EQ(log.size(), expected);
        if (!log.empty()) {
            EXPECT_EQ(log.back(), Received(Pid(b), "string", 3));
        }
        const std::string errLog = tvxtest::ReadFile(exe + ".stderr.log");
        const std::string prefix = "tvx: message from instance " + Pid(b) + " refused: ";
        if (row.refusal[0]) {
            EXPECT_EQ(CountLines(errLog), 1) << errLog;
            EXPECT_EQ(errLog.rfind(prefix, 0), 0u) << errLog;
            EXPECT_NE(errLog.find(row.refusal), std::string::npos) << errLog;
        } else if (!log.empty()) {
            EXPECT_EQ(log.front().find("class=instancetest.ChannelApp$Link"), log.front().find("class="))
                << log.front();
            EXPECT_EQ(errLog, "");
        }
        StopAll({a, b});
        running_.clear();
        unlink((dir_ / "stop").c_str());
    }
}

// The key file's segment made first by another user (uid 4242, no account)
// and handed to root with IPC_SET, as Linux lets its creator do: she stays
// attached, so no start clears it, and keeps her access through the
// creator's ids.
class SquattedSegment {
public:
    explicit SquattedSegment(int counter) {
        tvxtest::WriteFile(kLockFile, "");
        key_ = ftok(kLockFile, 0xFF);
        int ready[2];
        if (pipe(ready) != 0 || pipe(hold_) != 0) return;
        fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(hold_[1]);
            if (setresgid(4242, 4242, 4242) != 0 || setresuid(4242, 4242, 4242) != 0) _exit(1);
            int id = shmget(key_, 4096, IPC_CREAT | IPC_EXCL | 0666);
            void* address = id == -1 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, 0);
            if (address == reinterpret_cast<void*>(-1)) _exit(2);
            *static_cast<int*>(address) = counter;
            shmid_ds ds;
            if (shmctl(id, IPC_STAT, &ds) != 0) _exit(3);
            ds.shm_perm.uid = 0;
            ds.shm_perm.gid = 0;
            ds.shm_perm.mode = 0600;
            if (shmctl(id, IPC_SET, &ds) != 0) _exit(4);
            char c = 'k';
            if (write(ready[1], &c, 1) != 1) _exit(5);
            while (read(hold_[0], &c, 1) > 0) {
            }
            _exit(0);
        }
        close(ready[1]);
        close(hold_[0]);
        char c;
        ok_ = pid_ > 0 && read(ready[0], &c, 1) == 1;
        close(ready[0]);
    }
    ~SquattedSegment() {
        close(hold_[1]);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
        int id = shmget(key_, 0, 0);
        if (id != -1) shmctl(id, IPC_RMID, nullptr);
    }
    bool ok() const { return ok_; }

    // Posts, as she can, one chunk for `target`: the String "injected" as
    // the launcher's Java side writes objects (kind 0, then the stream).
    void Post(int target) {
        int id = shmget(key_, 0, 0);
        void* address = id == -1 ? reinterpret_cast<void*>(-1) : shmat(id, nullptr, 0);
        ASSERT_NE(address, reinterpret_cast<void*>(-1)) << strerror(errno);
        ChannelBlock* block = reinterpret_cast<ChannelBlock*>(static_cast<char*>(address) + 1024);
        const unsigned char message[] = {0, 0, 0, 0, 0xAC, 0xED, 0, 5, 0x74, 0, 8, 'i', 'n', 'j', 'e', 'c', 't', 'e', 'd'};
        block->sender = static_cast<int32_t>(pid_);
        block->messageId = 4242;
        block->chunkIndex = 0;
        block->lastChunkIndex = 0;
        block->chunkSize = 1024;
        block->totalLength = sizeof message;
        block->chunkLength = sizeof message;
        memcpy(block->data, message, sizeof message);
        block->retry = 0;
        block->busy = 1;
        __atomic_store_n(&block->target, target, __ATOMIC_RELEASE);
        shmdt(address);
    }

private:
    static constexpr const char* kLockFile = "/tmp/appid.channel-test.tvx.lock";
    key_t key_ = -1;
    pid_t pid_ = -1;
    int hold_[2] = {-1, -1};
    bool ok_ = false;
};

// Her segment is refused: neither the counter she set refuses a single
// instance, nor does an object she posts reach the application's receiver.
TEST_F(Channel, ASegmentMadeByAnotherUserIsRefused) {
    SquattedSegment squatted(7);
    ASSERT_TRUE(squatted.ok());
    const std::string line =
        "Instance segment refused: it was made by user 4242; running without single-instance and instance messages.\n";

    Background* single = Start(Pack("single", false, {"singleinstance=true"}), "S", {"ready"});
    int status = single->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << Output("S") << " status " << status;
    EXPECT_NE(tvxtest::ReadFile(dir_ / "S.out").find(line), std::string::npos) << Output("S");

    StartReady(Pack("app", true), "A", {"recv", "ready", "hold"});
    EXPECT_EQ(Info("A")["current"], "-1") << "the channel started on her segment";
    squatted.Post(atoi(Pid("A").c_str()));
    usleep(1500000);
    EXPECT_EQ(Log("A"), std::vector<std::string>{}) << "her object was delivered";
    EXPECT_NE(tvxtest::ReadFile(dir_ / "A.out").find(line), std::string::npos) << Output("A");
    StopAll({"S", "A"});
}

}  // namespace
