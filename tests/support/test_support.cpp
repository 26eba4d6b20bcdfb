#include "tests/support/test_support.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace tvxtest {

TempDir::TempDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/tvx-test-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) {
        ADD_FAILURE() << "mkdtemp failed: " << strerror(errno);
        path_ = "/nonexistent";
        return;
    }
    path_ = buf.data();
}

TempDir::~TempDir() {
    if (getenv("TVX_KEEP_TEST_DIRS") || path_.empty() || path_ == "/nonexistent") return;
    Run({"rm", "-rf", path_});
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& content, int mode) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    chmod(path.c_str(), static_cast<mode_t>(mode));
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void MakeDirs(const std::string& path) {
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (!partial.empty()) mkdir(partial.c_str(), 0755);
    }
}

namespace {

void SetNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

double Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

}  // namespace

RunResult Run(const std::vector<std::string>& argv, const RunOptions& options) {
    RunResult result;
    int outPipe[2], errPipe[2], inPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0 || pipe2(inPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return result;
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(options.mergeStderr ? outPipe[1] : errPipe[1], 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
        for (const auto& name : options.unsetEnv) unsetenv(name.c_str());
        for (const auto& kv : options.setEnv) setenv(kv.first.c_str(), kv.second.c_str(), 1);
        setpgid(0, 0);
        execvp(args[0], args.data());
        fprintf(stderr, "exec %s: %s\n", args[0], strerror(errno));
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    if (!options.stdinText.empty()) {
        ssize_t ignored = write(inPipe[1], options.stdinText.data(), options.stdinText.size());
        (void)ignored;
    }
    close(inPipe[1]);
    SetNonBlocking(outPipe[0]);
    SetNonBlocking(errPipe[0]);

    double deadline = Now() + options.timeoutSeconds;
    bool outOpen = true, errOpen = true;
    char buf[65536];
    while (outOpen || errOpen) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        int remaining = static_cast<int>((deadline - Now()) * 1000);
        if (remaining <= 0) {
            result.timedOut = true;
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
            break;
        }
        poll(fds, 2, remaining < 200 ? remaining : 200);
        for (int i = 0; i < 2; ++i) {
            bool& open = i == 0 ? outOpen : errOpen;
            if (!open) continue;
            for (;;) {
                ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
                    continue;
                }
                if (n == 0) open = false;
                break;
            }
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

RunResult Shell(const std::string& command, const RunOptions& options) {
    return Run({"/bin/sh", "-c", command}, options);
}

std::string BinDir() { return TVX_TEST_BIN_DIR; }
std::string LibDir() { return TVX_TEST_LIB_DIR; }
std::string TestJarsDir() { return TVX_TEST_JARS_DIR; }
std::string SourceDir() { return TVX_TEST_SOURCE_DIR; }
std::string JavaHome() { return TVX_TEST_JAVA_HOME; }
std::string JdkHome() { return TVX_TEST_JDK_HOME; }
std::string Emulator() { return TVX_TEST_EMULATOR; }
bool CrossBuild() { return JavaHome() != JdkHome(); }

bool ZeroVmUnderEmulation() {
    const std::string emulator = Emulator();
    return emulator.size() >= 17 && emulator.compare(emulator.size() - 17, 17, "/qemu-i386-static") == 0;
}

std::string ArchiveWritingUnsupported() {
    if (ZeroVmUnderEmulation())
        return "under qemu-i386 the tests run OpenJDK's Zero VM, which has no class-data sharing and so no "
               "startup cache (the i386 server VM dies with SIGSEGV there when it writes an archive)";
    return "";
}

void Pack(const std::string& jar, const std::string& output, const std::vector<std::string>& setLines,
          const std::vector<std::string>& extraArgs) {
    // The tests' executables keep no startup cache unless a line asks for
    // one: its default places are the machine's /var/cache and ~/.cache.
    // The launcher's tests pack what it must cope with, main classes that
    // exist nowhere included; tvx-pack's own checks are tested with it.
    std::vector<std::string> argv = {BinDir() + "/tvx-pack", "--no-startup-cache", "--no-check"};
    for (const auto& line : setLines) {
        argv.push_back("--set");
        argv.push_back(line);
    }
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    argv.push_back("-o");
    argv.push_back(output);
    argv.push_back(jar);
    RunResult r = Run(argv);
    ASSERT_EQ(r.exitCode, 0) << "tvx-pack failed: " << r.err;
}

void* ImageObject(void* handle, const std::string& imagePath, const std::string& name) {
    struct link_map* map = nullptr;
    if (!handle || dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return nullptr;
    RunResult r = Run({"nm", "--defined-only", imagePath});
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        // "<value> <kind> <name>"; the value is 8 or 16 digits wide.
        std::istringstream fields(line);
        std::string value, kind, symbol;
        if (!(fields >> value >> kind >> symbol) || symbol != name) continue;
        return reinterpret_cast<void*>(map->l_addr + std::stoull(value, nullptr, 16));
    }
    return nullptr;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (had_)
        setenv(name_.c_str(), old_.c_str(), 1);
    else
        unsetenv(name_.c_str());
}

}  // namespace tvxtest
