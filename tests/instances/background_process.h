// A packed launcher started in the background, its standard output and
// error in one file; killed with SIGKILL when still running at destruction.
#ifndef TVX_TESTS_INSTANCES_BACKGROUND_PROCESS_H
#define TVX_TESTS_INSTANCES_BACKGROUND_PROCESS_H

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace tvxtest {

class Background {
public:
    Background(const std::vector<std::string>& argv, const std::string& outFile) {
        fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            setenv("LC_ALL", "C.UTF-8", 1);
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
    }
    ~Background() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Waits until `path` exists or the process ended; true when it exists.
    bool WaitForFile(const std::string& path) {
        for (int i = 0; i < 6000; ++i) {
            if (tvxtest::FileExists(path)) return true;
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                status_ = status;
                return tvxtest::FileExists(path);
            }
            usleep(20000);
        }
        return false;
    }
    // The wait status once the process ended.
    int Wait() {
        if (pid_ > 0) {
            waitpid(pid_, &status_, 0);
            pid_ = -1;
        }
        return status_;
    }
    void Kill(int sig) {
        if (pid_ > 0) kill(pid_, sig);
    }

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

}  // namespace tvxtest

#endif  // TVX_TESTS_INSTANCES_BACKGROUND_PROCESS_H
