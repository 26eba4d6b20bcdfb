// Helpers shared by the tests: temporary directories, files, and running
// programs as separate processes with captured output.
#ifndef TVX_TESTS_SUPPORT_TEST_SUPPORT_H
#define TVX_TESTS_SUPPORT_TEST_SUPPORT_H

#include <map>
#include <string>
#include <vector>

namespace tvxtest {

// A fresh directory under $TMPDIR (or /tmp), removed with its content on
// destruction unless TVX_KEEP_TEST_DIRS is set.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content, int mode = 0644);
bool FileExists(const std::string& path);
void MakeDirs(const std::string& path);

struct RunOptions {
    std::string cwd;                                 // empty: inherit
    std::map<std::string, std::string> setEnv;       // added or replaced
    std::vector<std::string> unsetEnv;
    std::string stdinText;
    int timeoutSeconds = 120;
    bool mergeStderr = false;                        // stderr into stdout
};

struct RunResult {
    int exitCode = -1;       // exit status, or -1 when killed by a signal
    int signal = 0;          // terminating signal, 0 when it exited
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs argv[0] (searched on PATH) with the arguments, waits for it. Inside a
// TEST body call it qualified (tvxtest::Run): testing::Test has a Run of its own.
RunResult Run(const std::vector<std::string>& argv, const RunOptions& options = RunOptions());

// Runs a shell command line with /bin/sh -c.
RunResult Shell(const std::string& command, const RunOptions& options = RunOptions());

// Locations of built artefacts (compile-time definitions from CMake).
std::string BinDir();        // build/bin: tvx-launcher, tvx-pack
std::string LibDir();        // build/lib: tvx-helpers.jar
std::string TestJarsDir();   // Java test applications
std::string SourceDir();     // the project's source tree
std::string JavaHome();      // Java runtime of this build's processor
std::string JdkHome();       // the build machine's JDK (development tools: jar)
std::string Emulator();      // emulator the test programs run under; empty when native
bool CrossBuild();           // the launcher is built for another processor than the build machine's
// Under qemu-i386 the cross set-up gives the tests OpenJDK's Zero VM in place
// of the i386 server VM, which crashes there (see docs/HACKING.md).
bool ZeroVmUnderEmulation();
// Why this build's runtime cannot write a class-data archive here, or empty
// where it can: the Zero VM writes none.
std::string ArchiveWritingUnsupported();

// Packs `jar` into `output` with tvx-pack --no-startup-cache --no-check and
// the given --set lines and extra arguments; fails the current test on error.
void Pack(const std::string& jar, const std::string& output, const std::vector<std::string>& setLines,
          const std::vector<std::string>& extraArgs = {});

// Address of the launcher's program-wide object `name` ("shm", "shmx",
// "stdredir") in the copy of the image at `imagePath` that dlopen loaded as
// `handle`: its entry in the image's symbol table (the object is not
// exported) plus the copy's load offset. Null when there is no such entry.
void* ImageObject(void* handle, const std::string& imagePath, const std::string& name);

// Sets (or, with a null value, unsets) an environment variable for the
// lifetime of the object, then puts back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::string old_;
    bool had_;
};

}  // namespace tvxtest

#endif  // TVX_TESTS_SUPPORT_TEST_SUPPORT_H
