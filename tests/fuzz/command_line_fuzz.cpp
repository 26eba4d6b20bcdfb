// The command-line tools: arguments joined into one command line and split
// back must come out unchanged; the option parser walks any argument vector
// to its end; backslash escapes of any text; the runtime options that pick
// a base class-data archive, read one by one or as JAVA_TOOL_OPTIONS text.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/command_line.h"
#include "launch/base_archive.h"
#include "tests/fuzz/support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args = fuzzsupport::SplitInput(data, size, '\0');
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);

    // Join, then split: the same arguments.
    MyCString line = ArgvToCmdline(static_cast<int>(argv.size()), argv.data(), 0);
    MyCString copy(line);
    CBufferT<char*> words;
    CmdlineToArgv(words, copy.GetBuffer());
    FUZZ_CHECK(words.GetSize() == static_cast<int>(args.size()) || (args.size() == 1 && args[0].empty()),
               "argument count after a round trip: " + std::string(line.c_str()));
    for (int i = 0; i < words.GetSize() && i < static_cast<int>(args.size()); ++i)
        FUZZ_CHECK(args[i] == words[i], "argument " + std::to_string(i) + " after a round trip: " + line.c_str());

    // The raw input as a command line.
    std::string raw(reinterpret_cast<const char*>(data), size);
    CBufferT<char*> rawWords;
    CmdlineToArgv(rawWords, &raw[0]);

    // The option parser ends, each step moving forward.
    for (int ignoreCase = 0; ignoreCase < 2; ++ignoreCase) {
        const char* optionList = args.size() > 1 && !args[0].empty() ? args[0].c_str() : "test|install:|x:|help";
        CGetOption options(static_cast<int>(argv.size()), argv.data(), optionList, ignoreCase == 1);
        int index = 0;
        const char* name = nullptr;
        const char* value = nullptr;
        for (int steps = 0;; ++steps) {
            int before = index;
            if (options.EnumOpts(name, value, index) == 0) break;
            FUZZ_CHECK(index > before && index <= static_cast<int>(argv.size()), "option parser step");
        }
    }

    // The same options read one by one and as blank-separated text pick the
    // same archive, one of the names a runtime keeps.
    BaseArchiveChoice one, all;
    std::string joined;
    bool blankFree = true;
    for (const std::string& arg : args) {
        one.Read(arg.c_str());
        joined += arg + " ";
        blankFree = blankFree && !arg.empty() && arg.find_first_of(" \t\r\n") == std::string::npos;
    }
    all.ReadAll(joined.c_str());
    const char* name = one.Name(true);
    if (blankFree) FUZZ_CHECK(name == all.Name(true) || (name && all.Name(true) && !strcmp(name, all.Name(true))),
                              "archive of the options read one by one and as text");
    FUZZ_CHECK(!name || !strcmp(name, "classes.jsa") || !strcmp(name, "classes_nocoops.jsa") ||
                   !strcmp(name, "classes_coh.jsa") || !strcmp(name, "classes_nocoops_coh.jsa"),
               "archive name");
    FUZZ_CHECK(!strcmp(one.Name(false), "classes.jsa"), "32-bit archive name");
    BaseArchiveChoice rawText;
    rawText.ReadAll(raw.c_str());
    rawText.Name(true);

    MyCString unescaped = unescape(raw.c_str());
    FUZZ_CHECK(unescaped.GetLength() <= static_cast<int>(strlen(raw.c_str())), "unescape grows");
    EscapeCmdLine(MyCString(raw.c_str()));
    return 0;
}
