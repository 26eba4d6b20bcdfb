// The service text builders: a name, path and arguments that pass the checks
// must land in the unit, job and init script without adding or breaking a
// line, the executable read back from each is the path, and neither the
// builders nor the reader of a service file ever leave their buffer.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "service/service.h"
#include "tests/fuzz/support/fuzz_support.h"

namespace {

int Lines(const char* text) { return static_cast<int>(std::count(text, text + strlen(text), '\n')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> parts = fuzzsupport::SplitInput(data, size, '\0');
    parts.resize(4);
    const std::string& name = parts[0];
    const std::string& path = parts[1];
    const std::string& args = parts[2];
    const std::string& runlevels = parts[3];
    const int priority = size > 0 ? data[0] % 100 : 50;

    const bool accepted = !CheckServiceName(name.c_str()) && !CheckServicePath(path.c_str()) &&
                          !CheckServiceArguments(args.c_str());
    static ServiceScript plain;  // the templates with plain values, for their line counts
    static int plainLines[3] = {-1, -1, -1};
    if (plainLines[0] < 0) {
        BuildScriptSystemD(plain, "n", "/p", "a");
        plainLines[0] = Lines(plain);
        BuildScriptUpStart(plain, "n", "2345", "/p", "a");
        plainLines[1] = Lines(plain);
        BuildScriptSysV(plain, "n", "/p", "2345", 50, "a");
        plainLines[2] = Lines(plain);
    }

    // Any bytes as a service file: the executable named is a word of them.
    MyCString named = ServiceFileExecutable(reinterpret_cast<const char*>(data), static_cast<int>(size));
    FUZZ_CHECK(named.IsEmpty() || std::string(reinterpret_cast<const char*>(data), size).find(named.c_str()) !=
                                      std::string::npos,
               "named executable");

    ServiceScript script;
    int results[3];
    results[0] = BuildScriptSystemD(script, name.c_str(), path.c_str(), args.c_str());
    FUZZ_CHECK(results[0] == -1 || results[0] == static_cast<int>(strlen(script)), "unit length");
    if (accepted && results[0] >= 0) {
        FUZZ_CHECK(Lines(script) == plainLines[0], "unit lines");
        FUZZ_CHECK(strstr(script, ("\nExecStart=" + path + " --no-daemon " + args + "\n").c_str()), "ExecStart line");
        FUZZ_CHECK(path == ServiceFileExecutable(script, results[0]).c_str(), "unit executable");
    }
    const bool plainRunlevels = runlevels.find_first_not_of("0123456789Ss") == std::string::npos;
    results[1] = BuildScriptUpStart(script, name.c_str(), runlevels.c_str(), path.c_str(), args.c_str());
    FUZZ_CHECK(results[1] == -1 || results[1] == static_cast<int>(strlen(script)), "job length");
    if (accepted && plainRunlevels && results[1] >= 0) {
        FUZZ_CHECK(Lines(script) == plainLines[1], "job lines");
        FUZZ_CHECK(path == ServiceFileExecutable(script, results[1]).c_str(), "job executable");
    }
    results[2] = BuildScriptSysV(script, name.c_str(), path.c_str(), runlevels.c_str(), priority, args.c_str());
    FUZZ_CHECK(results[2] == -1 || results[2] == static_cast<int>(strlen(script)), "script length");
    if (accepted && plainRunlevels && results[2] >= 0) {
        FUZZ_CHECK(Lines(script) == plainLines[2], "script lines");
        FUZZ_CHECK(path == ServiceFileExecutable(script, results[2]).c_str(), "script executable");
    }
    return 0;
}
