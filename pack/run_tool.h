// Running the build machine's tools (dpkg-deb, gzip, jlink, jdeps) as child
// processes, and removing the trees they leave in staging directories.
#ifndef TVX_PACK_RUN_TOOL_H
#define TVX_PACK_RUN_TOOL_H

#include <string>
#include <vector>

namespace tvxpack {

// Runs argv with `env` added to the environment; standard input comes from
// `inPath` and standard output goes to `outPath` when given (standard error
// too when `errorsToo`). Returns its exit status; 127 when the program was
// not found, -1 when it could not start or ended by a signal.
int RunTool(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& inPath,
            const std::string& outPath, bool errorsToo = false);

// Removes `path` and everything below it; links are removed, not followed.
void RemoveTree(const std::string& path);

}  // namespace tvxpack

#endif  // TVX_PACK_RUN_TOOL_H
