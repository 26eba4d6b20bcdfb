#include "tests/discovery/discovery_support.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "pack/layout_writer.h"
#include "settings/layout.h"
#include "tests/support/test_support.h"

namespace discovery {

std::string CpuDir() {
#if defined(__x86_64__)
    return "amd64";
#elif defined(__i386__)
    return "i386";
#elif defined(__aarch64__)
    return "aarch64";
#elif defined(__arm__)
    return "arm";
#endif
}

void MakeDir(const std::string& path) {
    tvxtest::MakeDirs(path);
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st)) << path;
    ASSERT_TRUE(S_ISDIR(st.st_mode)) << path;
}

void Touch(const std::string& path) {
    MakeDir(path.substr(0, path.rfind('/')));
    tvxtest::WriteFile(path, "");
    ASSERT_TRUE(tvxtest::FileExists(path)) << path;
}

void Symlink(const std::string& target, const std::string& link) {
    MakeDir(link.substr(0, link.rfind('/')));
    ASSERT_EQ(0, symlink(target.c_str(), link.c_str())) << link << " -> " << target << ": " << strerror(errno);
}

std::string RealPath(const std::string& path) {
    char buf[PATH_MAX];
    if (!realpath(path.c_str(), buf)) {
        ADD_FAILURE() << "realpath " << path << ": " << strerror(errno);
        return path;
    }
    return buf;
}

namespace {

// A stand-in launcher image: some bytes around one archive length record.
std::string SmallImage() {
    std::string record(tvx_layout::kRecordSize, '\0');
    memcpy(&record[tvx_layout::kRecordMarkerOffset], tvx_layout::kRecordMarker, tvx_layout::kRecordMarkerSize);
    return std::string(64, '\x7f') + record + std::string(64, '\x01');
}

// The smallest ZIP archive: an end-of-central-directory record alone.
std::string EmptyZip() {
    std::string eocd(tvx_layout::kEocdSize, '\0');
    eocd[0] = 'P';
    eocd[1] = 'K';
    eocd[2] = 5;
    eocd[3] = 6;
    return eocd;
}

std::string ConfigText(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

}  // namespace

std::string MakeExecutable(const std::string& dir, const std::vector<std::string>& settings,
                           const std::vector<std::string>* external) {
    MakeDir(dir);
    tvxpack::Layout layout;
    layout.image = SmallImage();
    layout.settings = tvxpack::EncodeSettingsBlock(settings);
    layout.archive = EmptyZip();
    std::string bytes, error;
    EXPECT_TRUE(tvxpack::BuildExecutable(layout, &bytes, &error)) << error;
    std::string path = dir + "/app";
    tvxtest::WriteFile(path, bytes, 0755);
    if (external) tvxtest::WriteFile(path + ".cfg", ConfigText(*external));
    return path;
}

ScopedEnv::~ScopedEnv() {
    for (const auto& entry : saved_) {
        if (entry.second.first)
            setenv(entry.first.c_str(), entry.second.second.c_str(), 1);
        else
            unsetenv(entry.first.c_str());
    }
}

void ScopedEnv::Remember(const std::string& name) {
    if (saved_.count(name)) return;
    const char* value = getenv(name.c_str());
    saved_[name] = value ? std::make_pair(true, std::string(value)) : std::make_pair(false, std::string());
}

void ScopedEnv::Set(const std::string& name, const std::string& value) {
    Remember(name);
    setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnv::Unset(const std::string& name) {
    Remember(name);
    unsetenv(name.c_str());
}

ScopedCwd::ScopedCwd(const std::string& dir) {
    char buf[PATH_MAX];
    if (getcwd(buf, sizeof buf)) saved_ = buf;
    EXPECT_EQ(0, chdir(dir.c_str())) << dir;
}

ScopedCwd::~ScopedCwd() {
    if (!saved_.empty() && chdir(saved_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << saved_;
}

ScopedLoader::ScopedLoader(const std::string& path)
    : loader_(new CSettingsLoader(true, path.c_str())), previous_(pldr) {
    pldr = loader_.get();
}

ScopedLoader::~ScopedLoader() { pldr = previous_; }

ChildResult InChild(const std::function<std::string()>& body) {
    ChildResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << strerror(errno);
        return result;
    }
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    if (pid == 0) {
        close(fds[0]);
        std::string text = body();
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) _exit(2);
            done += static_cast<size_t>(n);
        }
        _exit(0);
    }
    close(fds[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) result.output.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

std::string Fill(std::string pattern, const std::map<std::string, std::string>& values) {
    for (const auto& entry : values) {
        const std::string key = "{" + entry.first + "}";
        for (size_t pos = pattern.find(key); pos != std::string::npos; pos = pattern.find(key, pos + entry.second.size()))
            pattern.replace(pos, key.size(), entry.second);
    }
    return pattern;
}

}  // namespace discovery
