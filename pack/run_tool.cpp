#include "pack/run_tool.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace tvxpack {

namespace {

int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}

}  // namespace

int RunTool(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& inPath,
            const std::string& outPath, bool errorsToo) {
    pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        if (!inPath.empty()) {
            int in = open(inPath.c_str(), O_RDONLY);
            if (in < 0 || dup2(in, 0) < 0) _exit(126);
        }
        if (!outPath.empty()) {
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out < 0 || dup2(out, 1) < 0) _exit(126);
            if (errorsToo && dup2(out, 2) < 0) _exit(126);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void RemoveTree(const std::string& path) { nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS); }

}  // namespace tvxpack
