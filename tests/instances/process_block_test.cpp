// The process block: published by the copy that creates it, adopted by
// copies loaded later into the same process (a dlopen of the launcher image
// here), and never adopted from a variable inherited from another process.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "instances/shm.h"
#include "tests/support/test_support.h"

namespace {

key_t ExeKey() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return -1;
    path[n] = '\0';
    return ftok(path, 0xFF);
}

std::string Env(const MyCString& name) {
    const char* v = getenv(name);
    return v ? v : "";
}

std::string Hex(const void* p) {
    char text[32];
    snprintf(text, sizeof text, "%lX", reinterpret_cast<unsigned long>(p));
    return text;
}

std::string BlockVariable() { return ProcessBlockVariable(ExeKey()).c_str(); }
std::string OwnerVariable() { return ProcessBlockOwnerVariable(ExeKey()).c_str(); }

void ClearVariables() {
    unsetenv(BlockVariable().c_str());
    unsetenv(OwnerVariable().c_str());
}

// A fresh copy of the launcher image loaded into this process: its own
// statics, constructed now.
class LoadedCopy {
public:
    LoadedCopy() {
        std::string path = dir_ / "copy";
        if (tvxtest::Run({"cp", tvxtest::BinDir() + "/tvx-launcher", path}).exitCode != 0) return;
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            ADD_FAILURE() << dlerror();
            return;
        }
        shm_ = static_cast<CShmWithinProc*>(tvxtest::ImageObject(handle_, path, "shm"));
    }
    ~LoadedCopy() { Unload(); }
    // Runs the copy's static destructors.
    void Unload() {
        if (handle_) dlclose(handle_);
        handle_ = nullptr;
        shm_ = nullptr;
    }
    CShmWithinProc* Shm() const { return shm_; }

private:
    tvxtest::TempDir dir_;
    void* handle_ = nullptr;
    CShmWithinProc* shm_ = nullptr;
};

// Runs `check` in a forked child (which inherits this process's environment
// and memory) and returns its verdict.
bool TrueInChild(const std::function<bool()>& check) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == -1) return false;
    if (pid == 0) _exit(check() ? 0 : 1);
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class ProcessBlock : public testing::Test {
protected:
    void SetUp() override { ClearVariables(); }
    void TearDown() override { ClearVariables(); }
};

TEST_F(ProcessBlock, CreatorPublishesAddressAndItself) {
    CShmWithinProc first;
    ASSERT_NE(first.Block(), nullptr);
    EXPECT_TRUE(first.IsOwner());
    EXPECT_EQ(Env(ProcessBlockVariable(ExeKey())), Hex(first.Block()));
    EXPECT_EQ(BlockVariable().size(), 14u);
    EXPECT_EQ(BlockVariable().compare(0, 6, "KEYSHM"), 0);
    EXPECT_EQ(Env(ProcessBlockOwnerVariable(ExeKey())), std::string(ProcessIdentity().c_str()));
    for (int slot = 0; slot < 4096 / static_cast<int>(sizeof(void*)); ++slot) ASSERT_EQ(first.GetSlot(slot), nullptr);
}

TEST_F(ProcessBlock, LaterObjectInTheSameProcessAdoptsAndNeverFrees) {
    int value = 7;
    auto first = std::make_unique<CShmWithinProc>();
    first->SetSlot(kSlotLauncher, &value);
    {
        CShmWithinProc second;
        EXPECT_FALSE(second.IsOwner());
        EXPECT_EQ(second.Block(), first->Block());
        EXPECT_EQ(second.GetSlot(kSlotLauncher), &value);
        second.SetSlot(kSlotServiceArgc, &value);
    }
    EXPECT_EQ(first->GetSlot(kSlotServiceArgc), &value) << "the adopter left the block alone";
    first.reset();
    EXPECT_EQ(Env(ProcessBlockVariable(ExeKey())), "") << "the owner withdraws its freed block";
    EXPECT_EQ(Env(ProcessBlockOwnerVariable(ExeKey())), "");
}

// The Java side loads the second copy on a thread of the virtual machine,
// not on the thread that published the block.
TEST_F(ProcessBlock, ObjectOnAnotherThreadAdopts) {
    int value = 7;
    CShmWithinProc first;
    first.SetSlot(kSlotLauncher, &value);
    std::string identityThere;
    void* slotThere = nullptr;
    std::thread other([&] {
        identityThere = ProcessIdentity().c_str();
        CShmWithinProc second;
        slotThere = second.GetSlot(kSlotLauncher);
    });
    other.join();
    EXPECT_EQ(identityThere, std::string(ProcessIdentity().c_str()));
    EXPECT_EQ(slotThere, &value);
}

TEST_F(ProcessBlock, AdoptsOnlyAnAddressThisProcessPublished) {
    alignas(void*) static char candidate[4096];
    const std::string self = ProcessIdentity().c_str();
    std::string otherPid = std::to_string(getppid()) + self.substr(self.find('.'));
    struct Row {
        const char* name;
        std::string address;  // value of the block variable
        bool setOwner;
        std::string owner;
        bool adopted;
    };
    const Row rows[] = {
        {"published by this process", Hex(candidate), true, self, true},
        {"lower-case digits", [] {
             std::string h = Hex(candidate);
             for (char& c : h) c = static_cast<char>(tolower(c));
             return h;
         }(), true, self, true},
        {"inherited from another process", Hex(candidate), true, otherPid, false},
        {"same pid, other start time", Hex(candidate), true, std::to_string(getpid()) + ".1", false},
        {"no owner variable", Hex(candidate), false, "", false},
        {"address not hexadecimal", "12G4", true, self, false},
        {"address with a prefix", "0x" + Hex(candidate), true, self, false},
        {"address zero", "0", true, self, false},
        {"address empty", "", true, self, false},
        {"address longer than a pointer", std::string(2 * sizeof(void*) + 1, '1'), true, self, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ClearVariables();
        setenv(BlockVariable().c_str(), row.address.c_str(), 1);
        if (row.setOwner) setenv(OwnerVariable().c_str(), row.owner.c_str(), 1);
        CShmWithinProc block;
        EXPECT_EQ(block.Block() == candidate, row.adopted);
        EXPECT_EQ(block.IsOwner(), !row.adopted);
        if (!row.adopted) {
            ASSERT_NE(block.Block(), nullptr);
            EXPECT_EQ(Env(ProcessBlockVariable(ExeKey())), Hex(block.Block())) << "republished";
            EXPECT_EQ(Env(ProcessBlockOwnerVariable(ExeKey())), self);
        }
    }
}

TEST_F(ProcessBlock, ChildProcessCreatesItsOwnBlock) {
    CShmWithinProc parent;
    // The child inherits the parent's variables (and, after fork, even a
    // readable copy of its memory); it must still publish its own block.
    EXPECT_TRUE(TrueInChild([&] {
        CShmWithinProc child;
        return child.IsOwner() && child.Block() && child.Block() != parent.Block() &&
               Env(ProcessBlockVariable(ExeKey())) == Hex(child.Block()) &&
               Env(ProcessBlockOwnerVariable(ExeKey())) == std::string(ProcessIdentity().c_str());
    }));
}

TEST_F(ProcessBlock, ForkedChildThatRepublishesIsAdoptedInTheChild) {
    int value = 5;
    CShmWithinProc parent;
    parent.SetSlot(kSlotLauncher, &value);
    // A detached daemon keeps the parent's memory (and slots) after fork and
    // republishes the block under its own identity.
    EXPECT_TRUE(TrueInChild([&] {
        parent.Republish();
        CShmWithinProc later;
        return !later.IsOwner() && later.Block() == parent.Block() && later.GetSlot(kSlotLauncher) == &value &&
               Env(ProcessBlockOwnerVariable(ExeKey())) == std::string(ProcessIdentity().c_str());
    }));
    CShmWithinProc inParent;
    EXPECT_EQ(inParent.Block(), parent.Block()) << "the parent's own variables are untouched";
}

TEST_F(ProcessBlock, LoadedLauncherCopyAdoptsTheBlockOfThisProcess) {
    int loader = 1, launcher = 2;
    CShmWithinProc first;
    first.SetSlot(kSlotLoader, &loader);
    first.SetSlot(kSlotLauncher, &launcher);
    {
        LoadedCopy copy;
        CShmWithinProc* second = copy.Shm();
        ASSERT_NE(second, nullptr);
        EXPECT_NE(second, &first) << "the copy has a holder of its own";
        EXPECT_EQ(second->Block(), first.Block()) << "but the same block";
        EXPECT_FALSE(second->IsOwner());
        EXPECT_EQ(second->GetSlot(kSlotLauncher), &launcher);
        copy.Unload();
    }
    // The copy's destructor ran; the block is still ours and still published.
    first.SetSlot(kSlotServiceHandler, &loader);
    EXPECT_EQ(first.GetSlot(kSlotLoader), &loader);
    EXPECT_EQ(Env(ProcessBlockVariable(ExeKey())), Hex(first.Block()));
}

TEST_F(ProcessBlock, LoadedLauncherCopyIgnoresAnInheritedBlock) {
    CShmWithinProc parent;
    EXPECT_TRUE(TrueInChild([&] {
        LoadedCopy copy;
        CShmWithinProc* second = copy.Shm();
        return second && second->IsOwner() && second->Block() && second->Block() != parent.Block() &&
               Env(ProcessBlockVariable(ExeKey())) == Hex(second->Block());
    }));
}

}  // namespace
