#include "pack/options.h"

#include "pack/tool_paths.h"

namespace tvxpack {

namespace {

enum class Opt { kNoStartupCache, kDeb, kService, kNoCheck, kName, kPkgVersion, kMaintainer, kDescription, kSection, kRuntime, kAddModules, kJdk, kLocales, kMain, kSettings, kSet, kLauncher, kArch, kOutput, kInspect, kHelp, kVersion };

struct OptionSpec {
    const char* name;
    Opt opt;
    bool takesValue;
};

const OptionSpec kOptions[] = {
    {"--main", Opt::kMain, true},         {"--settings", Opt::kSettings, true}, {"--set", Opt::kSet, true},
    {"--launcher", Opt::kLauncher, true}, {"-o", Opt::kOutput, true},           {"--output", Opt::kOutput, true},
    {"--inspect", Opt::kInspect, true},   {"--help", Opt::kHelp, false},        {"-h", Opt::kHelp, false},
    {"--arch", Opt::kArch, true},         {"--version", Opt::kVersion, false},
    {"--deb", Opt::kDeb, false},          {"--service", Opt::kService, false},  {"--name", Opt::kName, true},
    {"--maintainer", Opt::kMaintainer, true}, {"--description", Opt::kDescription, true},
    {"--section", Opt::kSection, true},   {"--no-startup-cache", Opt::kNoStartupCache, false},
    {"--no-check", Opt::kNoCheck, false},
    {"--runtime", Opt::kRuntime, true},   {"--add-modules", Opt::kAddModules, true}, {"--jdk", Opt::kJdk, true},
    {"--locales", Opt::kLocales, true},
};

const OptionSpec* FindOption(const std::string& name) {
    for (const OptionSpec& entry : kOptions)
        if (name == entry.name) return &entry;
    return nullptr;
}

// Stores a single-valued option; false when given before.
bool SetOnce(std::string* slot, bool* given, const std::string& value, const std::string& name, std::string* error) {
    if (*given) {
        *error = "option '" + name + "' given more than once";
        return false;
    }
    *given = true;
    *slot = value;
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* line, std::string* error) {
    CommandLine result;
    // New executables keep a startup cache unless told otherwise.
    result.pack.startupCache = true;
    bool givenMain = false, givenSettings = false, givenLauncher = false, givenOutput = false, givenInspect = false;
    bool givenArch = false;
    bool givenName = false, givenPkgVersion = false, givenMaintainer = false, givenDescription = false;
    bool givenSection = false;
    bool givenRuntime = false, givenJdk = false, givenLocales = false;
    // --version prints tvx-pack's version, except beside --deb, where it
    // takes the package's version.
    bool versionTakesValue = false;
    for (const std::string& arg : args) versionTakesValue = versionTakesValue || arg == "--deb";
    std::string arch;
    bool otherThanInspect = false;
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg, value;
        bool inlineValue = false;
        size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        const OptionSpec* entry = FindOption(name);
        static const OptionSpec kPackageVersion = {"--version", Opt::kPkgVersion, true};
        if (entry != nullptr && entry->opt == Opt::kVersion && versionTakesValue) entry = &kPackageVersion;
        if (entry == nullptr) {
            *error = "unknown option '" + name + "' (see tvx-pack --help)";
            return false;
        }
        if (!entry->takesValue) {
            if (inlineValue) {
                *error = "option '" + name + "' takes no value";
                return false;
            }
            if (entry->opt == Opt::kNoStartupCache) {
                result.pack.startupCache = false;
                otherThanInspect = true;
                continue;
            }
            if (entry->opt == Opt::kDeb || entry->opt == Opt::kService) {
                (entry->opt == Opt::kDeb ? result.deb : result.debRequest.service) = true;
                otherThanInspect = true;
                continue;
            }
            if (entry->opt == Opt::kNoCheck) {
                result.checkMainClass = false;
                otherThanInspect = true;
                continue;
            }
            line->mode = entry->opt == Opt::kHelp ? CommandLine::Mode::kHelp : CommandLine::Mode::kVersion;
            return true;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                *error = "option '" + name + "' needs a value";
                return false;
            }
            value = args[++i];
        }
        if (value.empty() && entry->opt != Opt::kSet && entry->opt != Opt::kMain) {
            *error = "option '" + name + "' needs a non-empty value";
            return false;
        }
        PackRequest& p = result.pack;
        bool ok = true;
        switch (entry->opt) {
            case Opt::kMain:
                ok = SetOnce(&p.mainClass, &givenMain, value, name, error);
                p.hasMain = true;
                break;
            case Opt::kSettings:
                ok = SetOnce(&p.settingsFile, &givenSettings, value, name, error);
                break;
            case Opt::kSet:
                p.setLines.push_back(value);
                break;
            case Opt::kLauncher:
                ok = SetOnce(&p.launcher, &givenLauncher, value, name, error);
                break;
            case Opt::kArch:
                ok = SetOnce(&arch, &givenArch, value, name, error);
                break;
            case Opt::kOutput:
                ok = SetOnce(&p.output, &givenOutput, value, name, error);
                break;
            case Opt::kInspect:
                ok = SetOnce(&result.inspectPath, &givenInspect, value, name, error);
                break;
            case Opt::kName:
                ok = SetOnce(&result.debRequest.name, &givenName, value, name, error);
                break;
            case Opt::kPkgVersion:
                ok = SetOnce(&result.debRequest.version, &givenPkgVersion, value, name, error);
                break;
            case Opt::kMaintainer:
                ok = SetOnce(&result.debRequest.maintainer, &givenMaintainer, value, name, error);
                break;
            case Opt::kDescription:
                ok = SetOnce(&result.debRequest.description, &givenDescription, value, name, error);
                break;
            case Opt::kSection:
                ok = SetOnce(&result.debRequest.section, &givenSection, value, name, error);
                break;
            case Opt::kRuntime:
                ok = SetOnce(&result.runtime.modules, &givenRuntime, value, name, error);
                break;
            case Opt::kAddModules: {
                std::vector<std::string> names;
                ok = SplitModuleList(value, &names, error);
                if (!ok) *error = "--add-modules: " + *error;
                result.runtime.addModules.insert(result.runtime.addModules.end(), names.begin(), names.end());
                break;
            }
            case Opt::kJdk:
                ok = SetOnce(&result.runtime.jdk, &givenJdk, value, name, error);
                break;
            case Opt::kLocales:
                ok = SetOnce(&result.runtime.locales, &givenLocales, value, name, error);
                if (ok && !ValidLocalePatterns(value, error)) {
                    *error = "--locales: " + *error;
                    ok = false;
                }
                break;
            case Opt::kHelp:
            case Opt::kVersion:
            case Opt::kDeb:
            case Opt::kService:
            case Opt::kNoStartupCache:
            case Opt::kNoCheck:
                break;
        }
        if (!ok) return false;
        if (entry->opt != Opt::kInspect) otherThanInspect = true;
    }
    if (givenInspect) {
        if (otherThanInspect || !operands.empty()) {
            *error = "--inspect takes only the executable to inspect";
            return false;
        }
        result.mode = CommandLine::Mode::kInspect;
        *line = std::move(result);
        return true;
    }
    if (operands.empty()) {
        *error = "no application jar given (see tvx-pack --help)";
        return false;
    }
    if (operands.size() > 1) {
        *error = "more than one application jar given: '" + operands[0] + "', '" + operands[1] + "'";
        return false;
    }
    if (!givenOutput) {
        *error = "no output given (-o OUTPUT)";
        return false;
    }
    if (givenArch) {
        if (givenLauncher) {
            *error = "give either --arch or --launcher, not both";
            return false;
        }
        result.processor = ProcessorName(arch);
        if (result.processor.empty()) {
            *error = "unknown processor '" + arch + "' for --arch (x86_64, aarch64, armhf, i386; amd64, arm64)";
            return false;
        }
    }
    const bool packageOption = givenName || givenPkgVersion || givenMaintainer || givenDescription || givenSection ||
                               result.debRequest.service;
    if (packageOption && !result.deb) {
        *error = "--name, --version, --maintainer, --description, --section and --service need --deb";
        return false;
    }
    std::vector<std::string> listed;
    if (givenRuntime && result.runtime.modules != "auto" && !SplitModuleList(result.runtime.modules, &listed, error)) {
        *error = "--runtime: " + *error + " (give auto or a comma-separated list of modules)";
        return false;
    }
    if ((givenJdk || !result.runtime.addModules.empty()) && !givenRuntime) {
        *error = "--add-modules and --jdk need --runtime auto|MODULES";
        return false;
    }
    if (givenLocales && !givenRuntime) {
        *error = "--locales needs --runtime auto|MODULES";
        return false;
    }
    result.pack.jar = operands[0];
    *line = std::move(result);
    return true;
}

const char* HelpText() {
    return "Usage: tvx-pack [--main CLASS] [--settings FILE] [--set LINE]...\n"
           "                [--arch NAME | --launcher IMAGE] [--no-check] -o OUTPUT APP.jar\n"
           "       tvx-pack --inspect EXECUTABLE | --help | --version\n"
           "Writes OUTPUT (mode 0755): the launcher image, a settings block and APP.jar as\n"
           "one executable that runs the Java application as a program or a service.\n"
           "  --main CLASS      main class; when no source names one (no --main, no\n"
           "                    'mainclass' line), the Main-Class of APP.jar's manifest\n"
           "  --settings FILE   settings lines from a UTF-8 file ('key value' per line)\n"
           "  --set LINE        one more settings line, verbatim; may repeat, e.g.\n"
           "                    --set 'option -Xmx64m' --set property=app.mode=fast\n"
           "  --no-startup-cache  leave out the default 'startupcache true' line\n"
           "  --arch NAME       processor of the executable: x86_64 (amd64), aarch64\n"
           "                    (arm64), armhf, i386; default: the one tvx-pack runs on\n"
           "  --launcher IMAGE  launcher image to use instead of an installed one\n"
           "  -o, --output OUT  executable to write (renamed into place when complete)\n"
           "  --no-check        pack a main class found in neither APP.jar nor class path\n"
           "  --inspect EXE     print an executable's layout and settings; writes nothing\n"
           "  --runtime auto|M  ship a runtime in jre/ (--add-modules, --locales, --jdk)\n"
           "  --deb --version V write a Debian package instead (more options: tvx-pack(1))\n"
           "Images come from ../lib/tvx/NAME/ beside tvx-pack (or tvx-launcher beside it\n"
           "in a build tree), helper classes from ../share/java/tvx-helpers.jar (../lib/\n"
           "in a build tree), added unless the jar holds them; nothing is recompressed.\n"
           "Warnings name settings lines the launcher would ignore or miss.\n"
           "Exit status 0 written, 1 failed, 2 bad usage. See tvx-pack(1), tvx-settings(5).\n";
}

std::string VersionText() { return std::string("tvx-pack ") + TVX_VERSION + "\n"; }

}  // namespace tvxpack
