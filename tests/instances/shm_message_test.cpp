// The message channel driven cycle by cycle over one block in this process:
// several CShmMessage objects stand for instances with distinct live pids
// (this process, its parent, a sleeping child), so each step of the slot
// protocol can be observed exactly. Also: damaged and hostile blocks, a mutex
// left held by a killed process, and the takeover of a dead owner.
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "instances/shm_message.h"

namespace {
// Called before each pthread_mutex_unlock of this program while set.
std::function<void(pthread_mutex_t*)> unlockHook;
}  // namespace

extern "C" int __real_pthread_mutex_unlock(pthread_mutex_t* mutex);
extern "C" int __wrap_pthread_mutex_unlock(pthread_mutex_t* mutex) {
    if (unlockHook) unlockHook(mutex);
    return __real_pthread_mutex_unlock(mutex);
}

namespace {

struct Message {
    int sender;
    std::string bytes;
};

class Recorder : public CShmMessageCallback {
public:
    int OnReceive(int sender, int length, const char* data) override {
        got.push_back({sender, std::string(data, length)});
        return 0;
    }
    std::vector<Message> got;
};

// A channel block in shared anonymous memory (so a forked child can hold its
// mutex), zero-filled like a fresh segment.
class Block {
public:
    Block() {
        void* p = mmap(nullptr, kChannelBlockCapacity, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        block_ = p == MAP_FAILED ? nullptr : static_cast<ChannelBlock*>(p);
    }
    ~Block() {
        if (block_) munmap(block_, kChannelBlockCapacity);
    }
    ChannelBlock* operator->() const { return block_; }
    ChannelBlock* get() const { return block_; }
    void Fill(unsigned char value) { memset(block_, value, kChannelBlockCapacity); }

private:
    ChannelBlock* block_;
};

// A child that sleeps until killed: a live pid other than ours and our parent's.
class Sleeper {
public:
    Sleeper() {
        pid_ = fork();
        if (pid_ == 0) {
            pause();
            _exit(0);
        }
    }
    ~Sleeper() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    int pid() const { return pid_; }

private:
    pid_t pid_;
};

// A pid that no process has any more.
int DeadPid() {
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

std::string Pattern(size_t n, int seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    return s;
}

// An instance over the block with its own recorder.
struct Instance {
    Instance(ChannelBlock* block, int pid) : channel(block, pid) { channel.SetMessageCallback(&recorder); }
    bool Send(int target, const std::string& bytes) {
        return channel.AddToSendQueue(target, CBufferRefT<char>(bytes.data(), static_cast<int>(bytes.size())));
    }
    CShmMessage channel;
    Recorder recorder;
};

// Runs one cycle of each instance, in order, until `done` holds or
// `maxRounds` rounds have run; returns the rounds run.
int Pump(const std::vector<Instance*>& instances, const std::function<bool()>& done, int maxRounds) {
    int rounds = 0;
    while (!done() && rounds < maxRounds) {
        for (Instance* i : instances) i->channel.RunCycle();
        ++rounds;
    }
    return rounds;
}

TEST(ShmMessage, FirstInstanceOwnsAndEveryInstanceIsListed) {
    Block block;
    Instance a(block.get(), getpid());
    Instance b(block.get(), getppid());
    EXPECT_EQ(block->owner, getpid());
    EXPECT_EQ(a.channel.Owner(), getpid());
    int pids[8];
    ASSERT_EQ(b.channel.ListInstances(pids, 8), 2);
    EXPECT_EQ(pids[0], getpid()) << "the owner first";
    EXPECT_EQ(pids[1], getppid());
    EXPECT_EQ(block->instanceCount, 1) << "pruning dropped the owner's own entry";
}

// Another process may write any count into the table's header at any time,
// also right after a registering instance has pruned the table and before it
// reads the table again: the unlocking that ends the pruning stands for that
// moment. The block ends where an inaccessible page begins, so one read past
// the table ends the child by SIGSEGV.
TEST(ShmMessage, RegisteringNeverReadsPastTheTableWhateverCountIsWritten) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const long page = sysconf(_SC_PAGESIZE);
        void* mapped = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        char* area = static_cast<char*>(mapped);
        if (mapped == MAP_FAILED || mprotect(area + page, page, PROT_NONE) != 0) _exit(2);
        auto* block = reinterpret_cast<ChannelBlock*>(area + page - sizeof(ChannelBlock));
        CShmMessage first(block, getpid());
        unlockHook = [block](pthread_mutex_t* mutex) {
            if (mutex == &block->mutex) __atomic_store_n(&block->instanceCount, 1 << 20, __ATOMIC_RELAXED);
        };
        CShmMessage second(block, getppid());
        unlockHook = nullptr;
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ShmMessage, MessagesOfEverySizeArriveWhole) {
    struct Row {
        size_t size;
        int chunks;
    };
    const Row rows[] = {{0, 1}, {1, 1}, {1023, 1}, {1024, 1}, {1025, 2}, {4096, 4}, {1 << 20, 1024}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.size);
        Block block;
        Instance a(block.get(), getpid());
        Instance b(block.get(), getppid());
        std::string payload = Pattern(row.size, 7);
        ASSERT_TRUE(a.Send(getppid(), payload));

        a.channel.RunCycle();  // posts the first chunk
        ASSERT_EQ(block->busy, 1);
        EXPECT_EQ(block->target, getppid());
        EXPECT_EQ(block->sender, getpid());
        EXPECT_EQ(block->chunkIndex, 0);
        EXPECT_EQ(block->lastChunkIndex, row.chunks - 1);
        EXPECT_EQ(block->chunkLength, static_cast<int>(std::min<size_t>(row.size, 1024)));
        EXPECT_EQ(block->totalLength, static_cast<int>(row.size));
        EXPECT_EQ(block->chunkSize, 1024);

        int rounds = Pump({&b, &a}, [&] { return !b.recorder.got.empty(); }, 3 * row.chunks);
        ASSERT_EQ(b.recorder.got.size(), 1u);
        EXPECT_EQ(b.recorder.got[0].sender, getpid());
        EXPECT_TRUE(b.recorder.got[0].bytes == payload);
        EXPECT_EQ(rounds, row.chunks) << "one chunk per cycle of the target";
        EXPECT_TRUE(a.recorder.got.empty());
        EXPECT_TRUE(a.channel.IsSendQueueEmpty());
        EXPECT_EQ(block->busy, 0);
    }
}

TEST(ShmMessage, SendToItselfGoesThroughTheSlot) {
    Block block;
    Instance a(block.get(), getpid());
    ASSERT_TRUE(a.Send(getpid(), Pattern(3000, 1)));
    a.channel.RunCycle();
    EXPECT_EQ(block->busy, 1);
    EXPECT_EQ(block->target, getpid());
    Pump({&a}, [&] { return !a.recorder.got.empty(); }, 10);
    ASSERT_EQ(a.recorder.got.size(), 1u);
    EXPECT_EQ(a.recorder.got[0].sender, getpid());
    EXPECT_TRUE(a.recorder.got[0].bytes == Pattern(3000, 1));
}

TEST(ShmMessage, TwoSendersInterleaveAndBothMessagesArrive) {
    Sleeper third;
    Block block;
    Instance a(block.get(), getpid());
    Instance c(block.get(), third.pid());
    Instance b(block.get(), getppid());
    ASSERT_TRUE(a.Send(getppid(), Pattern(5000, 1)));
    ASSERT_TRUE(a.Send(getppid(), Pattern(10, 2)));
    ASSERT_TRUE(c.Send(getppid(), Pattern(4000, 3)));
    // The target reads after each sender's cycle, so both find the slot free.
    Pump({&a, &b, &c, &b}, [&] { return b.recorder.got.size() == 3; }, 100);
    ASSERT_EQ(b.recorder.got.size(), 3u);
    EXPECT_EQ(b.recorder.got[0].sender, third.pid())
        << "chunks alternated: the shorter message of the second sender completed first";
    // One sender's messages keep their order.
    std::vector<std::string> fromA;
    for (const Message& m : b.recorder.got) {
        if (m.sender == getpid()) fromA.push_back(m.bytes);
        if (m.sender == third.pid()) {
            EXPECT_TRUE(m.bytes == Pattern(4000, 3));
        }
    }
    ASSERT_EQ(fromA.size(), 2u);
    EXPECT_TRUE(fromA[0] == Pattern(5000, 1));
    EXPECT_TRUE(fromA[1] == Pattern(10, 2));
}

TEST(ShmMessage, DeadOwnerIsReplacedAndDeadInstancesPruned) {
    Block block;
    int dead = DeadPid();
    block->owner = dead;
    block->instanceCount = 3;
    block->instances[0] = dead;
    block->instances[1] = getppid();
    block->instances[2] = DeadPid();
    Instance a(block.get(), getpid());
    EXPECT_EQ(block->owner, getpid()) << "the constructor noticed the dead owner";
    int pids[8];
    ASSERT_EQ(a.channel.ListInstances(pids, 8), 2);
    EXPECT_EQ(pids[0], getpid());
    EXPECT_EQ(pids[1], getppid());
}

TEST(ShmMessage, ChunkForADeadTargetIsFreedAndTheSenderGoesOn) {
    Block block;
    Instance a(block.get(), getpid());
    Instance b(block.get(), getppid());
    ASSERT_TRUE(a.Send(DeadPid(), Pattern(3000, 4)));
    ASSERT_TRUE(a.Send(getppid(), "after"));
    int rounds = Pump({&a, &b}, [&] { return !b.recorder.got.empty(); }, 20);
    ASSERT_EQ(b.recorder.got.size(), 1u);
    EXPECT_EQ(b.recorder.got[0].bytes, "after");
    EXPECT_LE(rounds, 6) << "no retry counting for a target that has gone";
}

TEST(ShmMessage, LiveTargetThatNeverReadsHoldsEachChunkElevenOwnerCycles) {
    Sleeper silent;
    Block block;
    Instance a(block.get(), getpid());
    ASSERT_TRUE(a.Send(silent.pid(), Pattern(1500, 5)));
    a.channel.RunCycle();
    ASSERT_EQ(block->chunkIndex, 0);
    for (int cycle = 1; cycle <= 11; ++cycle) {
        a.channel.RunCycle();
        ASSERT_EQ(block->busy, 1) << cycle;
        ASSERT_EQ(block->chunkIndex, 0) << cycle;
        EXPECT_EQ(block->retry, cycle);
    }
    a.channel.RunCycle();  // retry above 10: dropped, the next chunk goes out
    EXPECT_EQ(block->busy, 1);
    EXPECT_EQ(block->chunkIndex, 1);
    EXPECT_EQ(block->retry, 0);
    EXPECT_TRUE(a.channel.IsSendQueueEmpty());
}

// The first instance registered but runs no receive loop (a launch without
// "custom"): a looping instance takes its place, so retries are counted and
// the fast polling ends.
TEST(ShmMessage, OwnerWithoutAReceiveLoopIsReplaced) {
    Sleeper idleOwner;
    Sleeper silent;
    Block block;
    Instance first(block.get(), idleOwner.pid());
    Instance a(block.get(), getpid());
    ASSERT_EQ(block->owner, idleOwner.pid());
    ASSERT_TRUE(a.Send(silent.pid(), "lost"));
    int rounds = Pump({&a}, [&] { return a.channel.IsSendQueueEmpty() && block->busy == 0; }, 100);
    EXPECT_EQ(block->owner, getpid());
    EXPECT_LE(rounds, 1 + 30 + 12) << "taken over after 30 cycles, the chunk given up 11 owner cycles later";
    EXPECT_EQ(block->busy, 0);
    for (int i = 0; i < 10; ++i) a.channel.Wait();
    EXPECT_EQ(block->signal, 0) << "the new owner ends the fast polling";
}

// Writes a chunk into the slot as a sender would.
void PostRaw(ChannelBlock* b, int sender, int target, int messageId, int index, int last, const std::string& data) {
    b->sender = sender;
    b->messageId = messageId;
    b->chunkIndex = index;
    b->lastChunkIndex = last;
    b->chunkLength = static_cast<int>(data.size());
    memcpy(b->data, data.data(), data.size());
    b->busy = 1;
    b->retry = 0;
    b->target = target;
}

TEST(ShmMessage, LostChunksAndDeadSendersDiscardPartialMessages) {
    Block block;
    Instance a(block.get(), getpid());
    const std::string full(1024, 'x');

    PostRaw(block.get(), getppid(), getpid(), 1, 0, 2, full);
    a.channel.RunCycle();
    EXPECT_EQ(a.channel.PartialCount(), 1);
    PostRaw(block.get(), getppid(), getpid(), 1, 2, 2, "end");  // index 1 was lost
    a.channel.RunCycle();
    EXPECT_EQ(a.channel.PartialCount(), 0);
    EXPECT_TRUE(a.recorder.got.empty());

    PostRaw(block.get(), getppid(), getpid(), 9, 1, 1, "orphan");  // first part never seen
    a.channel.RunCycle();
    EXPECT_EQ(a.channel.PartialCount(), 0);
    EXPECT_EQ(block->busy, 0);

    int dead = DeadPid();
    PostRaw(block.get(), dead, getpid(), 2, 0, 1, full);
    a.channel.RunCycle();
    EXPECT_EQ(a.channel.PartialCount(), 0) << "the sender has exited: its message can never complete";
    EXPECT_TRUE(a.recorder.got.empty());
}

TEST(ShmMessage, ChunksThatCannotBelongToAMessageAreDroppedUnread) {
    struct Row {
        const char* name;
        int index, last, length;
    };
    const Row rows[] = {
        {"negative length", 0, 0, -1},        {"length above a chunk", 0, 0, 1025},
        {"negative index", -1, 0, 10},        {"index past the last", 3, 2, 10},
        {"short inner chunk", 0, 1, 10},      {"message above the limit", 0, INT_MAX, 1024},
        {"INT_MIN everywhere", INT_MIN, INT_MIN, INT_MIN},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Block block;
        Instance a(block.get(), getpid());
        PostRaw(block.get(), getppid(), getpid(), 5, 0, 0, "");
        block->chunkIndex = row.index;
        block->lastChunkIndex = row.last;
        block->chunkLength = row.length;
        a.channel.RunCycle();
        EXPECT_EQ(block->busy, 0);
        EXPECT_EQ(a.channel.PartialCount(), 0);
        EXPECT_TRUE(a.recorder.got.empty());
    }
}

// After whatever the block held, two instances exchange a message again.
void ExpectRecovers(Block& block) {
    Instance a(block.get(), getpid());
    Instance b(block.get(), getppid());
    ASSERT_TRUE(a.Send(getppid(), Pattern(2500, 9)));
    bool delivered = false;
    Pump({&a, &b}, [&] {
        for (const Message& m : b.recorder.got) delivered = delivered || (m.sender == getpid() && m.bytes == Pattern(2500, 9));
        return delivered;
    }, 200);
    EXPECT_TRUE(delivered);
    int pids[300];
    int n = b.channel.ListInstances(pids, 300);
    EXPECT_GE(n, 2);
    EXPECT_LE(n, 251);
    EXPECT_GE(block->instanceCount, 0);
    EXPECT_LE(block->instanceCount, 250);
}

TEST(ShmMessage, DamagedBlockIsSurvivedAndRepaired) {
    const unsigned char fills[] = {0xFF, 0x80, 0x7F, 0x01, 0xA5};
    for (unsigned char fill : fills) {
        SCOPED_TRACE(static_cast<int>(fill));
        Block block;
        block.Fill(fill);
        ExpectRecovers(block);
    }
    Block random;
    unsigned seed = 12345;
    auto* bytes = reinterpret_cast<unsigned char*>(random.get());
    for (int i = 0; i < kChannelBlockCapacity; ++i) bytes[i] = static_cast<unsigned char>((seed = seed * 1103515245 + 12345) >> 16);
    ExpectRecovers(random);
}

TEST(ShmMessage, EachFieldAtItsWorstValueIsSurvived) {
    struct Field {
        const char* name;
        int32_t ChannelBlock::*member;
    };
    const Field fields[] = {
        {"owner", &ChannelBlock::owner},           {"next message id", &ChannelBlock::nextMessageId},
        {"next sequence", &ChannelBlock::nextSequence}, {"signal", &ChannelBlock::signal},
        {"sender", &ChannelBlock::sender},         {"target", &ChannelBlock::target},
        {"sequence", &ChannelBlock::sequence},     {"busy", &ChannelBlock::busy},
        {"retry", &ChannelBlock::retry},           {"message id", &ChannelBlock::messageId},
        {"chunk index", &ChannelBlock::chunkIndex}, {"last chunk index", &ChannelBlock::lastChunkIndex},
        {"chunk size", &ChannelBlock::chunkSize},  {"total length", &ChannelBlock::totalLength},
        {"chunk length", &ChannelBlock::chunkLength}, {"instance count", &ChannelBlock::instanceCount},
    };
    const int32_t values[] = {INT_MIN, -1, 1, 250, 251, 1025, INT_MAX};
    for (const Field& field : fields) {
        for (int32_t value : values) {
            SCOPED_TRACE(std::string(field.name) + " = " + std::to_string(value));
            Block block;
            {
                Instance first(block.get(), getpid());  // a sound channel
            }
            block.get()->*field.member = value;
            ExpectRecovers(block);
        }
    }
}

TEST(ShmMessage, MutexLeftHeldByAKilledProcessIsRecovered) {
    Block block;
    Instance a(block.get(), getpid());
    pid_t holder = fork();
    if (holder == 0) {
        pthread_mutex_lock(&block->mutex);
        block->busy = 1;  // killed while claiming the slot
        block->target = 0;
        _exit(0);
    }
    waitpid(holder, nullptr, 0);
    Instance b(block.get(), getppid());
    ASSERT_TRUE(a.Send(getppid(), "through"));
    Pump({&a, &b}, [&] { return !b.recorder.got.empty(); }, 20);
    ASSERT_EQ(b.recorder.got.size(), 1u);
    EXPECT_EQ(b.recorder.got[0].bytes, "through");
}

TEST(ShmMessage, SignalShortensThePauseForTenOwnerCycles) {
    Block block;
    Instance a(block.get(), getpid());
    Instance b(block.get(), getppid());
    b.channel.Signal();
    EXPECT_EQ(block->signal, 10);
    b.channel.Wait();
    EXPECT_EQ(block->signal, 10) << "only the owner counts down";
    for (int i = 9; i >= 0; --i) {
        a.channel.Wait();
        EXPECT_EQ(block->signal, i);
    }
    block->signal = INT_MAX;
    a.channel.Wait();
    EXPECT_EQ(block->signal, 10) << "a countdown above its start value is cut back";
}

TEST(ShmMessage, RefusesWhatCannotBeSent) {
    Block block;
    Instance a(block.get(), getpid());
    EXPECT_FALSE(a.Send(0, "x"));
    EXPECT_FALSE(a.Send(-5, "x"));
    EXPECT_TRUE(a.channel.IsSendQueueEmpty());
    CShmMessage detached(nullptr);
    EXPECT_FALSE(detached.AddToSendQueue(getpid(), CBufferRefT<char>("x", 1)));
    EXPECT_FALSE(detached.Start());
    int pids[4];
    EXPECT_EQ(detached.ListInstances(pids, 4), 0);
}

TEST(ShmMessage, ForkedChildTakesItsParentsPlace) {
    Block block;
    Instance a(block.get(), getpid());
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
        a.channel.AfterFork();
        int pids[8];
        int n = a.channel.ListInstances(pids, 8);
        int report[3] = {block->owner, a.channel.Pid(), n};
        ssize_t w = write(fds[1], report, sizeof report);
        _exit(w == sizeof report ? 0 : 1);
    }
    int report[3] = {0, 0, 0};
    ASSERT_EQ(read(fds[0], report, sizeof report), static_cast<ssize_t>(sizeof report));
    waitpid(child, nullptr, 0);
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(report[0], child) << "the owner's place passes to the child";
    EXPECT_EQ(report[1], child);
    EXPECT_EQ(report[2], 1) << "the parent, still alive, is no longer listed";
}

// A daemon's starter leaves the channel to its detached child while it is
// still alive: it must not stay listed as an instance.
TEST(ShmMessage, WithdrawnInstanceIsNoLongerListedWhileItLives) {
    Block block;
    Instance a(block.get(), getpid());
    Instance b(block.get(), getppid());
    int pids[8];
    ASSERT_EQ(a.channel.ListInstances(pids, 8), 2);
    b.channel.Withdraw();
    ASSERT_EQ(a.channel.ListInstances(pids, 8), 1);
    EXPECT_EQ(pids[0], getpid());
    EXPECT_EQ(block->owner, getpid());
}

// The receive thread and Java-side senders on other threads: runs under
// ThreadSanitizer in the thread-checked build of this test.
TEST(ShmMessageThreads, ReceiveThreadsDeliverWhatOtherThreadsQueue) {
    Block block;
    Instance a(block.get(), getpid());
    Instance b(block.get(), getppid());
    struct Counter : CShmMessageCallback {
        int OnReceive(int, int length, const char*) override {
            __atomic_add_fetch(&bytes, length, __ATOMIC_ACQ_REL);
            __atomic_add_fetch(&count, 1, __ATOMIC_ACQ_REL);
            return 0;
        }
        int bytes = 0;
        int count = 0;
    } counter;
    b.channel.SetMessageCallback(&counter);
    ASSERT_TRUE(a.channel.Start());
    ASSERT_TRUE(b.channel.Start());
    std::vector<pthread_t> senders(3);
    for (pthread_t& t : senders) {
        pthread_create(&t, nullptr, [](void* p) -> void* {
            Instance* from = static_cast<Instance*>(p);
            for (int i = 0; i < 4; ++i) from->Send(getppid(), Pattern(1500, i));
            return nullptr;
        }, &a);
    }
    for (pthread_t t : senders) pthread_join(t, nullptr);
    for (int i = 0; i < 3000 && __atomic_load_n(&counter.count, __ATOMIC_ACQUIRE) < 12; ++i) usleep(10000);
    EXPECT_EQ(__atomic_load_n(&counter.count, __ATOMIC_ACQUIRE), 12);
    EXPECT_EQ(__atomic_load_n(&counter.bytes, __ATOMIC_ACQUIRE), 12 * 1500);
    EXPECT_TRUE(a.channel.Stop());
    EXPECT_TRUE(b.channel.Stop());
}

// A receiver whose callback takes seconds over one message (a Java callback
// on a slow board) still takes the chunks that follow: the owner, another
// instance, would otherwise count them as unread and drop them.
TEST(ShmMessageThreads, SlowCallbackLosesNothingThatFollows) {
    Block block;
    Sleeper receiverPid, secondSenderPid;
    Instance owner(block.get(), getpid());
    Instance receiver(block.get(), receiverPid.pid());
    Instance first(block.get(), getppid());
    Instance second(block.get(), secondSenderPid.pid());
    struct Slow : CShmMessageCallback {
        int OnReceive(int sender, int length, const char* data) override {
            if (__atomic_add_fetch(&count, 1, __ATOMIC_ACQ_REL) == 1) sleep(3);
            pthread_mutex_lock(&lock);
            got.push_back({sender, std::string(data, length)});
            pthread_mutex_unlock(&lock);
            return 0;
        }
        pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
        std::vector<Message> got;
        int count = 0;
    } slow;
    receiver.channel.SetMessageCallback(&slow);
    for (Instance* i : {&owner, &receiver, &first, &second}) ASSERT_TRUE(i->channel.Start());
    ASSERT_EQ(owner.channel.Owner(), getpid());

    ASSERT_TRUE(first.Send(receiverPid.pid(), "short"));
    for (int i = 0; i < 3000 && __atomic_load_n(&slow.count, __ATOMIC_ACQUIRE) == 0; ++i) usleep(10000);
    ASSERT_TRUE(first.Send(receiverPid.pid(), Pattern(8000, 1)));
    ASSERT_TRUE(second.Send(receiverPid.pid(), Pattern(5000, 2)));
    for (int i = 0; i < 3000 && __atomic_load_n(&slow.count, __ATOMIC_ACQUIRE) < 3; ++i) usleep(10000);

    for (Instance* i : {&owner, &receiver, &first, &second}) EXPECT_TRUE(i->channel.Stop());
    ASSERT_EQ(slow.got.size(), 3u);
    EXPECT_EQ(slow.got[0].bytes, "short");
    std::vector<std::pair<int, std::string>> later = {{slow.got[1].sender, slow.got[1].bytes},
                                                      {slow.got[2].sender, slow.got[2].bytes}};
    std::sort(later.begin(), later.end());
    std::vector<std::pair<int, std::string>> expected = {{static_cast<int>(getppid()), Pattern(8000, 1)},
                                                         {secondSenderPid.pid(), Pattern(5000, 2)}};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(later, expected);
}

// The delivery thread: messages reach the callback in the order queued; a
// receiver more than one message's limit behind makes the queue full until
// it catches up; a delivery that does not return keeps Stop from joining.
TEST(DeliveryQueue, OrderBacklogAndAStuckDelivery) {
    struct Gate : CShmMessageCallback {
        int OnReceive(int sender, int length, const char*) override {
            pthread_mutex_lock(&lock);
            entered = true;
            while (closed) pthread_cond_wait(&opened, &lock);
            got.push_back({sender, length});
            pthread_mutex_unlock(&lock);
            return 0;
        }
        void Open() {
            pthread_mutex_lock(&lock);
            closed = false;
            pthread_cond_broadcast(&opened);
            pthread_mutex_unlock(&lock);
        }
        size_t Count() {
            pthread_mutex_lock(&lock);
            size_t n = got.size();
            pthread_mutex_unlock(&lock);
            return n;
        }
        pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
        pthread_cond_t opened = PTHREAD_COND_INITIALIZER;
        bool Entered() {
            pthread_mutex_lock(&lock);
            bool e = entered;
            pthread_mutex_unlock(&lock);
            return e;
        }
        bool closed = true;
        bool entered = false;
        std::vector<std::pair<int, int>> got;
    } gate;
    CShmMessageCallback* callback = &gate;
    CDeliveryQueue queue(&callback);
    ASSERT_TRUE(queue.Start());
    const int half = kMaxChannelMessage / 2;
    for (int sender = 1; sender <= 3; ++sender) {
        CBufferT<char> payload;
        payload.SetSize(sender == 3 ? 1 : half);
        queue.Push(sender, payload);
        EXPECT_EQ(payload.GetSize(), 0) << "the bytes are taken over";
    }
    EXPECT_TRUE(queue.Full()) << "two halves and a byte wait";
    for (int i = 0; i < 3000 && !gate.Entered(); ++i) usleep(10000);
    ASSERT_TRUE(gate.Entered());
    EXPECT_TRUE(queue.Full()) << "counted until delivered: the first is in a delivery that does not return";

    timespec soon;
    clock_gettime(CLOCK_REALTIME, &soon);
    soon.tv_sec += 1;
    EXPECT_FALSE(queue.Stop(soon)) << "a delivery still runs";
    gate.Open();
    timespec later;
    clock_gettime(CLOCK_REALTIME, &later);
    later.tv_sec += 30;
    EXPECT_TRUE(queue.Stop(later));
    // The running delivery finished; what still waited when Stop was asked
    // for is dropped, and nothing came out of order.
    ASSERT_GE(gate.Count(), 1u);
    for (size_t i = 0; i < gate.got.size(); ++i) EXPECT_EQ(gate.got[i].first, static_cast<int>(i) + 1);
    EXPECT_EQ(gate.got[0].second, half);
    EXPECT_FALSE(queue.Full()) << "a stopped queue holds nothing";

    // Started again, it delivers and the backlog drains.
    ASSERT_TRUE(queue.Start());
    const size_t before = gate.Count();
    CBufferT<char> last;
    last.Assign("x", 1);
    queue.Push(4, last);
    for (int i = 0; i < 3000 && gate.Count() == before; ++i) usleep(10000);
    ASSERT_EQ(gate.Count(), before + 1);
    EXPECT_EQ(gate.got.back(), std::make_pair(4, 1));
    EXPECT_FALSE(queue.Full());
    EXPECT_TRUE(queue.Stop(later));
}

}  // namespace
