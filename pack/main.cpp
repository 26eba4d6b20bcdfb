// tvx-pack: writes an executable from the launcher image, settings and an
// application jar, or shows the layout of one.
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cinttypes>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "pack/app_checks.h"
#include "pack/deb_package.h"
#include "pack/file_io.h"
#include "pack/inspect.h"
#include "pack/launcher_view.h"
#include "pack/options.h"
#include "pack/packer.h"
#include "pack/runtime_image.h"
#include "pack/settings_text.h"
#include "pack/tool_paths.h"

namespace {

// Directory holding this program, so the launcher and the helper jar are
// found relative to it wherever the build or installation lives.
std::string OwnDirectory() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string self(path);
    size_t slash = self.rfind('/');
    return slash == std::string::npos ? "." : self.substr(0, slash == 0 ? 1 : slash);
}

int Fail(const std::string& message, int status) {
    fprintf(stderr, "tvx-pack: %s\n", message.c_str());
    return status;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

int InspectExecutable(const std::string& shownAs, const std::string& path) {
    tvxpack::ExecutableLayout layout;
    std::string error;
    if (!tvxpack::ReadExecutableLayout(path, &layout, &error)) return Fail(error, 1);
    tvxpack::LauncherView view = tvxpack::ReadAsLauncher(path);
    // An executable extracted from a package: its runtime as installed.
    const std::string from = DirectoryOf(path), to = DirectoryOf(shownAs);
    for (std::string* where : {&view.shippedHome, &view.shippedLibrary})
        if (from != to && where->compare(0, from.size() + 1, from + "/") == 0) *where = to + where->substr(from.size());
    std::string report = tvxpack::FormatLayout(shownAs, layout, view);
    fputs(report.c_str(), stdout);
    return 0;
}

// Links the runtime of --runtime beside the output, before anything is
// written, so that a refusal leaves no file behind.
bool LinkRuntime(const tvxpack::CommandLine& line, const std::string& processor, tvxpack::LinkedRuntime* runtime,
                 std::string* error) {
    std::vector<std::string> settingsLines = line.pack.setLines;
    std::string fileText, ignored;
    std::vector<std::string> fileLines;
    if (!line.pack.settingsFile.empty() && tvxpack::ReadWholeFile(line.pack.settingsFile, &fileText, &ignored) &&
        tvxpack::SplitSettingsFile(fileText, &fileLines, &ignored))
        settingsLines.insert(settingsLines.begin(), fileLines.begin(), fileLines.end());
    const std::string dir = DirectoryOf(line.pack.output);
    std::vector<std::string> inputs = {line.pack.jar, line.pack.helpersJar};
    for (const std::string& jar : tvxpack::ClassPathJars(line.pack.jar, settingsLines, dir)) inputs.push_back(jar);
    if (!runtime->Link(line.runtime, processor, inputs, dir, error)) return false;
    std::string list;
    for (const std::string& name : runtime->modules()) list += (list.empty() ? "" : ",") + name;
    printf("tvx-pack: linked a Java runtime of %zu modules: %s\n", runtime->modules().size(), list.c_str());
    if (!runtime->note().empty()) printf("tvx-pack: %s\n", runtime->note().c_str());
    return true;
}

int Inspect(const std::string& path) {
    if (!tvxpack::LooksLikeDeb(path)) return InspectExecutable(path, path);
    std::string error;
    if (!tvxpack::InspectDeb(path, InspectExecutable, &error)) return Fail(error, 1);
    return 0;
}

// The directory the executable will run from: the package's program
// directory, or the output's directory.
std::string ApplicationHome(const tvxpack::CommandLine& line) {
    if (line.deb) return "/usr/lib/" + line.debRequest.name;
    const std::string& output = line.pack.output;
    size_t slash = output.rfind('/');
    std::string dir = slash == std::string::npos ? "." : output.substr(0, slash == 0 ? 1 : slash);
    char resolved[PATH_MAX];
    if (realpath(dir.c_str(), resolved)) return resolved;
    if (dir[0] == '/' || !getcwd(resolved, sizeof resolved)) return dir;
    return std::string(resolved) + "/" + dir;
}

// Warns about what the launcher would ignore or miss; fails on a main class
// that is nowhere.
bool CheckApplication(const tvxpack::CommandLine& line, std::string* error) {
    tvxpack::AppCheck check;
    if (!tvxpack::ComposeRequestSettings(line.pack, &check.lines, error)) return false;
    check.jar = line.pack.jar;
    check.helpersJar = line.pack.helpersJar;
    check.appHome = ApplicationHome(line);
    check.mainClassMustExist = line.checkMainClass;
    std::vector<std::string> warnings;
    bool ok = tvxpack::CheckApplication(check, &warnings, error);
    for (const std::string& warning : warnings) fprintf(stderr, "tvx-pack: warning: %s\n", warning.c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    // libzip turns each entry's DOS time into a time_t and back when it
    // writes the archive; in UTC that round trip is exact (no daylight-saving
    // gaps) and skips a time-zone file lookup per entry.
    setenv("TZ", "UTC0", 1);
    setlocale(LC_ALL, "");  // the launcher reads unmarked settings text in the locale's encoding
    std::vector<std::string> args(argv + 1, argv + argc);
    tvxpack::CommandLine line;
    std::string error;
    if (!tvxpack::ParseCommandLine(args, &line, &error)) return Fail(error, 2);
    if (line.mode == tvxpack::CommandLine::Mode::kHelp) {
        fputs(tvxpack::HelpText(), stdout);
        return 0;
    }
    if (line.mode == tvxpack::CommandLine::Mode::kVersion) {
        fputs(tvxpack::VersionText().c_str(), stdout);
        return 0;
    }
    if (line.mode == tvxpack::CommandLine::Mode::kInspect) return Inspect(line.inspectPath);

    const std::string dir = OwnDirectory();
    if (line.pack.launcher.empty()) {
        const std::string processor = line.processor.empty() ? tvxpack::HostProcessor() : line.processor;
        if (processor.empty()) return Fail("no launcher image for this processor; give --launcher IMAGE", 1);
        if (!tvxpack::FindLauncherImage(dir, processor, &line.pack.launcher, &error)) return Fail(error, 1);
    }
    if (!tvxpack::FindHelpersJar(dir, &line.pack.helpersJar, &error)) return Fail(error, 1);
    if (line.deb && !tvxpack::CheckDebRequest(&line.debRequest, line.pack, &error)) return Fail(error, 2);
    if (!CheckApplication(line, &error)) return Fail(error, 1);
    tvxpack::InstallInterruptCleanup();
    std::string processor = line.processor.empty() ? tvxpack::HostProcessor() : line.processor;
    const bool withRuntime = !line.runtime.modules.empty();
    // A runtime follows the processor of a launcher image given by path.
    std::string head, ignored;
    if (withRuntime && line.processor.empty() && tvxpack::ReadWholeFile(line.pack.launcher, &head, &ignored) &&
        !tvxpack::ImageProcessor(head.substr(0, 20)).empty())
        processor = tvxpack::ImageProcessor(head.substr(0, 20));
    const std::string runtimeHome = DirectoryOf(line.pack.output) + "/jre";
    tvxpack::LinkedRuntime runtime;
    if (line.deb) {
        if (withRuntime && !LinkRuntime(line, processor, &runtime, &error)) return Fail(error, 1);
        line.debRequest.runtime = withRuntime ? &runtime : nullptr;
        if (!tvxpack::WriteDebPackage(line.debRequest, line.pack, processor, &error)) return Fail(error, 1);
        printf("tvx-pack: wrote %s (%s %s)\n", line.pack.output.c_str(), line.debRequest.name.c_str(),
               line.debRequest.version.c_str());
        return 0;
    }
    if (withRuntime && !tvxpack::CheckRuntimeDestination(runtimeHome, &error)) return Fail(error, 1);
    if (withRuntime && !LinkRuntime(line, processor, &runtime, &error)) return Fail(error, 1);
    tvxpack::PackResult result;
    if (!tvxpack::PackExecutable(line.pack, &result, &error)) return Fail(error, 1);
    if (withRuntime && !runtime.MoveTo(runtimeHome, &error)) return Fail(error, 1);
    printf("tvx-pack: wrote %s (%" PRIu64 " bytes: archive %" PRIu64 " bytes, comment %" PRIu64
           " bytes, settings lines: %zu, helper classes added: %zu)\n",
           line.pack.output.c_str(), result.fileSize, result.archiveLength, result.commentLength,
           result.settingsLines.size(), result.addedClasses.size());
    if (withRuntime) printf("tvx-pack: wrote the runtime %s, found first when %s starts\n", runtimeHome.c_str(),
                            line.pack.output.c_str());
    return 0;
}
