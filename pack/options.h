// The command line of tvx-pack.
#ifndef TVX_PACK_OPTIONS_H
#define TVX_PACK_OPTIONS_H

#include <string>
#include <vector>

#include "pack/deb_package.h"
#include "pack/packer.h"
#include "pack/runtime_image.h"

namespace tvxpack {

struct CommandLine {
    enum class Mode { kPack, kInspect, kHelp, kVersion };
    Mode mode = Mode::kPack;
    PackRequest pack;         // launcher and helpersJar left empty unless given
    std::string processor;    // from --arch, as ProcessorName gives it; "" when not given
    std::string inspectPath;
    bool deb = false;         // --deb: write a Debian package
    bool checkMainClass = true;  // false with --no-check
    DebRequest debRequest;
    RuntimeRequest runtime;   // --runtime, --add-modules, --jdk, --locales; modules "" when not given
};

// Parses the arguments after the program name:
//   [--main CLASS] [--settings FILE] [--set LINE]... [--no-startup-cache]
//   [--arch NAME | --launcher IMAGE] [--no-check]
//   [--runtime auto|MODULES [--add-modules MODULES]... [--locales TAGS] [--jdk JDK_HOME]]
//   [--deb ...]
//   -o OUTPUT APP.jar
//   --inspect EXECUTABLE
//   --help | --version
// Long options also take their value after "=". Fails with one line in
// `error` on unknown options, missing values, repeated options and a
// missing or extra operand.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* line, std::string* error);

// The text printed by --help.
const char* HelpText();

// The line printed by --version.
std::string VersionText();

}  // namespace tvxpack

#endif  // TVX_PACK_OPTIONS_H
