// The notification protocol against a real AF_UNIX datagram socket bound at
// a path and under an abstract name: what arrives, with whose credentials,
// the addresses accepted, the watchdog's interval and its pings, which stop
// while the probe of the virtual machine does not answer.
#include "service/systemd_notify.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "service/service_notify.h"
#include "tests/support/test_support.h"

namespace {

// A datagram socket in the role of systemd's notification socket.
class Listener {
public:
    explicit Listener(const std::string& name) : name_(name) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
        sockaddr_un address;
        socklen_t length = 0;
        bound_ = NotifySocketAddress(name.c_str(), address, length) &&
                 bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0;
    }
    ~Listener() {
        close(fd_);
        if (name_[0] == '/') unlink(name_.c_str());
    }
    bool bound() const { return bound_; }

    // The next datagram within `ms`, with the sender's pid; "" when none came.
    std::string Receive(int ms, pid_t* sender = nullptr) {
        pollfd p = {fd_, POLLIN, 0};
        if (poll(&p, 1, ms) != 1) return "";
        char data[4096];
        union {
            cmsghdr header;
            char space[CMSG_SPACE(sizeof(ucred))];
        } control;
        iovec part = {data, sizeof data};
        msghdr message;
        memset(&message, 0, sizeof message);
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = &control;
        message.msg_controllen = sizeof control.space;
        ssize_t n = recvmsg(fd_, &message, 0);
        if (n < 0) return "";
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS && sender) {
                ucred credentials;
                memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
                *sender = credentials.pid;
            }
        }
        return std::string(data, static_cast<size_t>(n));
    }

private:
    std::string name_;
    int fd_;
    bool bound_ = false;
};

using tvxtest::ScopedEnv;

std::string AbstractName() { return "@tvx-notify-test-" + std::to_string(getpid()); }

struct AddressRow {
    std::string value;
    bool accepted;
    size_t length;  // the address length when accepted
};

TEST(NotifySocketAddress, AcceptsAbsolutePathsAndAbstractNamesOnly) {
    const size_t base = offsetof(sockaddr_un, sun_path);
    const std::string longest(sizeof(sockaddr_un::sun_path) - 1, 'p');
    const AddressRow rows[] = {
        {"/run/systemd/notify", true, base + 20},
        {"@abstract", true, base + 9},
        {"/" + longest.substr(1), true, base + longest.size() + 1},
        {"/" + longest, false, 0},  // no room for the terminating NUL
        {"@" + longest, true, base + longest.size() + 1},
        {"@" + longest + "x", false, 0},
        {"", false, 0},
        {"@", false, 0},
        {"run/notify", false, 0},
        {"./notify", false, 0},
    };
    for (const AddressRow& row : rows) {
        sockaddr_un address;
        socklen_t length = 0;
        bool accepted = NotifySocketAddress(row.value.c_str(), address, length);
        EXPECT_EQ(accepted, row.accepted) << row.value;
        if (!accepted || !row.accepted) continue;
        EXPECT_EQ(length, row.length) << row.value;
        EXPECT_EQ(address.sun_family, AF_UNIX);
        if (row.value[0] == '@') {
            EXPECT_EQ(address.sun_path[0], '\0');
            EXPECT_EQ(std::string(address.sun_path + 1, row.value.size() - 1), row.value.substr(1));
        } else {
            EXPECT_STREQ(address.sun_path, row.value.c_str());
        }
    }
    sockaddr_un unused;
    socklen_t unusedLength = 0;
    EXPECT_FALSE(NotifySocketAddress(nullptr, unused, unusedLength));
}

class NotifySend : public ::testing::TestWithParam<bool> {
protected:
    std::string Name() { return GetParam() ? AbstractName() : dir / "notify"; }
    tvxtest::TempDir dir;
};

TEST_P(NotifySend, OneDatagramPerMessageWithTheSendersCredentials) {
    std::string name = Name();
    Listener listener(name);
    ASSERT_TRUE(listener.bound()) << name;
    ScopedEnv env("NOTIFY_SOCKET", name.c_str());
    const char* messages[] = {"READY=1\nSTATUS=Running", "STOPPING=1", "MAINPID=4242", "WATCHDOG=1"};
    for (const char* message : messages) {
        errno = 12345;
        EXPECT_TRUE(SystemdNotify(message)) << message;
        EXPECT_EQ(errno, 12345) << "errno is the caller's";
        pid_t sender = 0;
        EXPECT_EQ(listener.Receive(2000, &sender), message);
        EXPECT_EQ(sender, getpid());
    }
    EXPECT_EQ(listener.Receive(100), "") << "exactly one datagram per message";
}

TEST_P(NotifySend, NothingIsSentWithoutTheVariableAndAFailedSendIsQuiet) {
    std::string name = Name();
    Listener listener(name);
    ASSERT_TRUE(listener.bound());
    {
        ScopedEnv env("NOTIFY_SOCKET", nullptr);
        EXPECT_FALSE(SystemdNotifies());
        EXPECT_FALSE(SystemdNotify("READY=1"));
        NotifyServiceStarting();
        NotifyStopping();
        NotifyMainPid(1);
        NotifyApplicationStatus(kJavaStatusRunning);
        NotifyStopExtension(5);
    }
    EXPECT_EQ(listener.Receive(200), "");
    // A socket nobody listens on, and one that is not a socket.
    const std::string nobody = GetParam() ? AbstractName() + "-gone" : dir / "gone";
    tvxtest::WriteFile(dir / "plain", "x");
    for (const std::string& target : {nobody, dir / "plain"}) {
        ScopedEnv env("NOTIFY_SOCKET", target.c_str());
        errno = 777;
        EXPECT_FALSE(SystemdNotify("READY=1")) << target;
        EXPECT_EQ(errno, 777);
    }
}

TEST_P(NotifySend, ApplicationStatusesBecomeReadinessStartExtensionAndStatusText) {
    std::string name = Name();
    Listener listener(name);
    ASSERT_TRUE(listener.bound());
    ScopedEnv env("NOTIFY_SOCKET", name.c_str());
    struct Row {
        int status;
        std::string expected;
    } rows[] = {
        {kJavaStatusStartPending, "EXTEND_TIMEOUT_USEC=30000000\nSTATUS=Starting: the application is starting up"},
        {kJavaStatusRunning, "READY=1\nSTATUS=Running"},
        {kJavaStatusPaused, "STATUS=Paused"},
        {99, ""},
    };
    for (const Row& row : rows) {
        NotifyApplicationStatus(row.status);
        EXPECT_EQ(listener.Receive(row.expected.empty() ? 200 : 2000), row.expected) << row.status;
    }
    NotifyStopping();
    EXPECT_EQ(listener.Receive(2000), "STOPPING=1\nSTATUS=Stopping: the application's onStop is running");
    NotifyStopExtension(7);
    EXPECT_EQ(listener.Receive(2000), "EXTEND_TIMEOUT_USEC=7000000");
}

INSTANTIATE_TEST_SUITE_P(PathAndAbstract, NotifySend, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Abstract" : "Path";
                         });

TEST(WatchdogInterval, OnlyAPositiveIntervalMeantForThisProcess) {
    const std::string own = std::to_string(getpid());
    struct Row {
        const char* usec;
        const char* pid;
        uint64_t expected;
    } rows[] = {
        {nullptr, nullptr, 0},          {"2000000", nullptr, 2000000}, {"2000000", own.c_str(), 2000000},
        {"2000000", "1", 0},            {"2000000", "", 0},            {"2000000", "12x", 0},
        {"0", nullptr, 0},              {"", nullptr, 0},              {"-5", nullptr, 0},
        {"5s", nullptr, 0},             {"99999999999999999999", nullptr, 0},
    };
    for (const Row& row : rows) {
        ScopedEnv usec("WATCHDOG_USEC", row.usec);
        ScopedEnv pid("WATCHDOG_PID", row.pid);
        EXPECT_EQ(WatchdogIntervalUsec(), row.expected)
            << (row.usec ? row.usec : "(unset)") << " / " << (row.pid ? row.pid : "(unset)");
    }
}

std::atomic<bool> probeBlocked{false};
std::atomic<int> probeCalls{0};

bool GatedProbe(void*) {
    ++probeCalls;
    while (probeBlocked) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

int CountPings(Listener& listener, int ms) {
    int pings = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count());
        if (left <= 0) break;
        std::string got = listener.Receive(left);
        if (got.empty()) break;
        EXPECT_EQ(got, "WATCHDOG=1");
        ++pings;
    }
    return pings;
}

TEST(Watchdog, PingsAtHalfTheIntervalOnlyWhileTheProbeAnswers) {
    tvxtest::TempDir dir;
    Listener listener(dir / "notify");
    ASSERT_TRUE(listener.bound());
    ScopedEnv env("NOTIFY_SOCKET", (dir / "notify").c_str());
    probeBlocked = false;
    probeCalls = 0;
    ASSERT_TRUE(StartWatchdog(GatedProbe, nullptr, 200000));  // pings every 100 ms
    int answering = CountPings(listener, 1000);
    EXPECT_GE(answering, 4);
    EXPECT_LE(answering, 11);

    probeBlocked = true;
    CountPings(listener, 150);  // a ping already past the probe may still come
    EXPECT_EQ(CountPings(listener, 800), 0) << "no ping while the runtime does not answer";
    EXPECT_GE(probeCalls.load(), 1);

    probeBlocked = false;
    EXPECT_GE(CountPings(listener, 600), 2) << "pings resume once it answers again";
    StopWatchdog();
    CountPings(listener, 50);
    EXPECT_EQ(CountPings(listener, 400), 0) << "nothing after the watchdog stopped";
}

TEST(Watchdog, NotStartedWithoutSocketOrInterval) {
    {
        ScopedEnv env("NOTIFY_SOCKET", nullptr);
        EXPECT_FALSE(StartWatchdog(GatedProbe, nullptr, 200000));
    }
    ScopedEnv env("NOTIFY_SOCKET", "@tvx-unused");
    EXPECT_FALSE(StartWatchdog(GatedProbe, nullptr, 0));
    EXPECT_FALSE(StartWatchdog(nullptr, nullptr, 200000));
}

}  // namespace
