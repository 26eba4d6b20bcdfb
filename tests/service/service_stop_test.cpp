// The stop machinery without a virtual machine: a real SIGTERM sent to this
// process is forwarded by the handler to the stop thread, which removes the
// pid file, releases the lock and then calls the disposition found before
// (with the signal's own record when that one takes SA_SIGINFO).
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <ostream>
#include <string>

#include "service/service.h"
#include "tests/support/test_support.h"

namespace {

std::atomic<int> calls{0};
std::atomic<int> seenSignal{0};
std::atomic<bool> seenOwnRecord{false};

void PlainHandler(int sig) {
    seenSignal = sig;
    ++calls;
}

void InfoHandler(int sig, siginfo_t* info, void*) {
    seenSignal = sig;
    seenOwnRecord = info && info->si_signo == sig && info->si_pid == getpid();
    ++calls;
}

enum class Previous { Plain, WithInfo, Ignore, Default };

struct Row {
    const char* what;
    Previous previous;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.what; }

class ServiceStop : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        calls = 0;
        seenSignal = 0;
        seenOwnRecord = false;
        snprintf(lockfile, sizeof lockfile, "%s", (dir / "svc.lock").c_str());
        snprintf(pidfile, sizeof pidfile, "%s", (dir / "svc.pid").c_str());
    }
    void TearDown() override {
        StopServiceHandler();
        ReleaseLock();
        signal(SIGTERM, SIG_DFL);
        lockfile[0] = pidfile[0] = '\0';
    }

    // Waits, bounded, until the stop steps have run.
    bool WaitForStop(bool previousCalled) {
        for (int i = 0; i < 1000; ++i) {
            if (!tvxtest::FileExists(dir / "svc.pid") && fdlock < 0 && (!previousCalled || calls > 0)) return true;
            usleep(10000);
        }
        return false;
    }

    tvxtest::TempDir dir;
};

TEST_P(ServiceStop, SigtermRunsTheStopStepsThenThePreviousDisposition) {
    const Row& row = GetParam();
    struct sigaction previous;
    memset(&previous, 0, sizeof previous);
    sigemptyset(&previous.sa_mask);
    void* expected = reinterpret_cast<void*>(SIG_DFL);
    switch (row.previous) {
        case Previous::Plain:
            previous.sa_handler = PlainHandler;
            expected = reinterpret_cast<void*>(PlainHandler);
            break;
        case Previous::WithInfo:
            previous.sa_sigaction = InfoHandler;
            previous.sa_flags = SA_SIGINFO;
            expected = reinterpret_cast<void*>(InfoHandler);
            break;
        case Previous::Ignore:
            previous.sa_handler = SIG_IGN;
            expected = reinterpret_cast<void*>(SIG_IGN);
            break;
        case Previous::Default:
            // Not raised below: the default disposition would end the test.
            previous.sa_handler = SIG_DFL;
            break;
    }
    ASSERT_EQ(sigaction(SIGTERM, &previous, nullptr), 0);
    ASSERT_TRUE(AcquireLock());
    ASSERT_TRUE(WritePidFile());

    SetIsServiceFlag();
    EXPECT_EQ(reinterpret_cast<void*>(fnPrevServiceTerm), expected);
    struct sigaction installed;
    sigaction(SIGTERM, nullptr, &installed);
    EXPECT_NE(reinterpret_cast<void*>(installed.sa_handler), expected) << "the service's own handler is in place";

    bool functionBefore = row.previous == Previous::Plain || row.previous == Previous::WithInfo;
    if (row.previous == Previous::Default) {
        ServiceHandler(SIGTERM);  // the steps themselves, on this thread
    } else {
        ASSERT_EQ(kill(getpid(), SIGTERM), 0);
    }
    ASSERT_TRUE(WaitForStop(functionBefore));
    EXPECT_FALSE(tvxtest::FileExists(dir / "svc.lock"));
    EXPECT_EQ(calls.load(), functionBefore ? 1 : 0);
    if (functionBefore) {
        EXPECT_EQ(seenSignal.load(), SIGTERM);
    }
    if (row.previous == Previous::WithInfo) {
        EXPECT_TRUE(seenOwnRecord.load()) << "the signal's record is passed on";
    }

    StopServiceHandler();
    sigaction(SIGTERM, nullptr, &installed);
    EXPECT_EQ(reinterpret_cast<void*>(installed.sa_handler), expected) << "the previous disposition is back";
}

INSTANTIATE_TEST_SUITE_P(Dispositions, ServiceStop,
                         ::testing::Values(Row{"Plain", Previous::Plain}, Row{"WithInfo", Previous::WithInfo},
                                           Row{"Ignore", Previous::Ignore}, Row{"Default", Previous::Default}),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.what); });

}  // namespace
