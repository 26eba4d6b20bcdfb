// Fixtures for the runtime discovery and class path tests: executables with
// given settings, fake runtime trees, and scoped process state (environment,
// working directory, the process's loader).
#ifndef TVX_TESTS_DISCOVERY_DISCOVERY_SUPPORT_H
#define TVX_TESTS_DISCOVERY_DISCOVERY_SUPPORT_H

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_loader.h"
#include "tests/support/test_support.h"

namespace discovery {

// The runtime's directory name for the processor the tests are built for.
std::string CpuDir();

// Creates an empty file and the directories above it.
void Touch(const std::string& path);
void MakeDir(const std::string& path);
void Symlink(const std::string& target, const std::string& link);

// Writes an executable `dir`/app whose settings block holds `settings`;
// returns its path. With `external` set, also writes `dir`/app.cfg.
std::string MakeExecutable(const std::string& dir, const std::vector<std::string>& settings,
                           const std::vector<std::string>* external = nullptr);

// Sets or unsets environment variables; restores them on destruction.
class ScopedEnv {
public:
    ScopedEnv() = default;
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);

private:
    void Remember(const std::string& name);
    std::map<std::string, std::pair<bool, std::string>> saved_;
};

// Changes the working directory; restores it on destruction.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& dir);
    ~ScopedCwd();
    ScopedCwd(const ScopedCwd&) = delete;
    ScopedCwd& operator=(const ScopedCwd&) = delete;

private:
    std::string saved_;
};

// A loader over the executable at `path`, published as pldr for its lifetime.
class ScopedLoader {
public:
    explicit ScopedLoader(const std::string& path);
    ~ScopedLoader();
    ScopedLoader(const ScopedLoader&) = delete;
    ScopedLoader& operator=(const ScopedLoader&) = delete;
    CSettingsLoader& operator*() { return *loader_; }
    CSettingsLoader* operator->() { return loader_.get(); }

private:
    std::unique_ptr<CSettingsLoader> loader_;
    CSettingsLoader* previous_;
};

struct ChildResult {
    bool ok = false;     // the child exited normally with status 0
    std::string output;  // what the body returned
};

// Runs `body` in a forked child (process-wide caches start fresh there and
// stay untouched here) and returns the text it produced.
ChildResult InChild(const std::function<std::string()>& body);

// The path with symbolic links resolved (what getcwd reports for it).
std::string RealPath(const std::string& path);

// A table of rows that carry a `name`, each run in a fresh temporary
// directory (root(), links resolved).
template <class Row>
class RowTest : public testing::TestWithParam<Row> {
protected:
    RowTest() : root_(RealPath(tmp_.path())) {}
    const std::string& root() const { return root_; }

private:
    tvxtest::TempDir tmp_;
    std::string root_;
};

template <class Row>
std::string RowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}

// Replaces every "{KEY}" of `pattern` by its value.
std::string Fill(std::string pattern, const std::map<std::string, std::string>& values);

}  // namespace discovery

#endif  // TVX_TESTS_DISCOVERY_DISCOVERY_SUPPORT_H
