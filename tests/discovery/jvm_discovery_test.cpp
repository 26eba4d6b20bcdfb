// Java runtime discovery over fake runtime trees (empty libjvm.so files) in
// temporary directories. GetJvmPath caches its answer for the whole process,
// so every case that calls it runs in a forked child.
#include <stdlib.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "settings/settings_loader.h"
#include "tests/discovery/discovery_support.h"
#include "tests/support/test_support.h"

namespace {

// Table rows print as their names (test lists, failure messages).
template <class Row, class = decltype(&Row::name)>
std::ostream& operator<<(std::ostream& os, const Row& row) {
    return os << row.name;
}

using namespace discovery;  // the fixtures of these tests

typedef std::vector<std::pair<std::string, std::string>> LinkList;  // link -> target

// Fills {T} (the temporary root) and {CPU} (the processor directory).
std::string Expand(const std::string& text, const std::string& root) {
    return Fill(text, {{"T", root}, {"CPU", discovery::CpuDir()}});
}

void MakeTree(const std::string& root, const std::vector<std::string>& files, const LinkList& links) {
    for (const std::string& file : files) Touch(root + "/" + Expand(file, root));
    for (const auto& link : links) Symlink(Expand(link.second, root), root + "/" + Expand(link.first, root));
}

// ---------------------------------------------------------------------------
// FindLibjvmFile: the probe directories, the subdirectory scan, "vm".

struct ProbeRow {
    const char* name;
    std::vector<std::string> files;     // below the runtime root
    LinkList links;                     // below the temporary root
    std::string home;                   // appended to the runtime root
    std::vector<std::string> settings;  // of the executable
    std::string expected;               // below the runtime root; empty: not found
};

class FindLibjvmFileRows : public discovery::RowTest<ProbeRow> {};

TEST_P(FindLibjvmFileRows, FindsTheLibraryOfTheFirstMatchingProbe) {
    const ProbeRow& row = GetParam();
    const std::string& root = this->root();
    const std::string runtime = root + "/rt";
    discovery::MakeDir(runtime);
    for (const std::string& file : row.files) Touch(runtime + "/" + Expand(file, root));
    for (const auto& link : row.links) Symlink(Expand(link.second, root), root + "/" + Expand(link.first, root));
    std::vector<std::string> settings;
    for (const std::string& line : row.settings) settings.push_back(Expand(line, root));
    ScopedEnv env;
    env.Set("TVX_DISCOVERY_VM", "client");
    ScopedLoader loader(MakeExecutable(root + "/app", settings));

    const std::string home = runtime + Expand(row.home, root);
    MyCString found = loader->FindLibjvmFile(home.c_str());
    const std::string expected = row.expected.empty() ? "" : runtime + "/" + Expand(row.expected, root);
    EXPECT_EQ(expected, found.c_str()) << "home " << home;
}

const ProbeRow kProbeRows[] = {
    // One row per probe directory.
    {"HomeItself", {"libjvm.so"}, {}, "", {}, "libjvm.so"},
    {"Lib", {"lib/libjvm.so"}, {}, "", {}, "lib/libjvm.so"},
    {"Cpu", {"{CPU}/libjvm.so"}, {}, "", {}, "{CPU}/libjvm.so"},
    {"LibCpu", {"lib/{CPU}/libjvm.so"}, {}, "", {}, "lib/{CPU}/libjvm.so"},
    {"JreLibCpu", {"jre/lib/{CPU}/libjvm.so"}, {}, "", {}, "jre/lib/{CPU}/libjvm.so"},
    {"BinParentLib", {"bin/java", "lib/libjvm.so"}, {}, "/bin", {}, "bin/../lib/libjvm.so"},
    {"BinParentLibCpu", {"bin/java", "lib/{CPU}/libjvm.so"}, {}, "/bin", {}, "bin/../lib/{CPU}/libjvm.so"},
    {"BinParentJreLibCpu", {"bin/java", "jre/lib/{CPU}/libjvm.so"}, {}, "/bin", {}, "bin/../jre/lib/{CPU}/libjvm.so"},
    // The subdirectory scan below the probe directories.
    {"ServerBelowHome", {"server/libjvm.so"}, {}, "", {}, "server/libjvm.so"},
    {"ServerBelowLib", {"lib/server/libjvm.so"}, {}, "", {}, "lib/server/libjvm.so"},
    {"ServerBelowLibCpu", {"lib/{CPU}/server/libjvm.so"}, {}, "", {}, "lib/{CPU}/server/libjvm.so"},
    {"ServerBelowJreLibCpu", {"jre/lib/{CPU}/server/libjvm.so"}, {}, "", {}, "jre/lib/{CPU}/server/libjvm.so"},
    {"BinServerBelowParentLib", {"bin/java", "lib/server/libjvm.so"}, {}, "/bin", {}, "bin/../lib/server/libjvm.so"},
    {"BinServerBelowParentJreLibCpu",
     {"bin/java", "jre/lib/{CPU}/server/libjvm.so"}, {}, "/bin", {}, "bin/../jre/lib/{CPU}/server/libjvm.so"},
    {"AnySubdirectoryName", {"lib/{CPU}/zero/libjvm.so"}, {}, "", {}, "lib/{CPU}/zero/libjvm.so"},
    {"LinkToADirectoryIsScanned", {"store/vm/libjvm.so"}, {{"rt/lib/current", "{T}/rt/store/vm"}}, "", {},
     "lib/current/libjvm.so"},
    // The home's separator.
    {"HomeWithTrailingSlash", {"lib/libjvm.so"}, {}, "/", {}, "lib/libjvm.so"},
    // Probe order.
    {"EarlierProbeWins", {"lib/libjvm.so", "jre/lib/{CPU}/libjvm.so", "jre/lib/{CPU}/server/libjvm.so"}, {}, "", {},
     "lib/libjvm.so"},
    {"BinJreBeforeParentLib", {"bin/jre/lib/{CPU}/libjvm.so", "lib/libjvm.so"}, {}, "/bin", {},
     "bin/jre/lib/{CPU}/libjvm.so"},
    {"ParentLibBeforeParentJre", {"bin/java", "lib/libjvm.so", "jre/lib/{CPU}/libjvm.so"}, {}, "/bin", {},
     "bin/../lib/libjvm.so"},
    {"ScanOfEarlierProbeBeatsLaterProbe", {"server/libjvm.so", "jre/lib/{CPU}/libjvm.so"}, {}, "", {},
     "server/libjvm.so"},
    // "vm" prefers a subdirectory within a probe, not across probes.
    {"VmServer", {"lib/client/libjvm.so", "lib/server/libjvm.so"}, {}, "", {"vm server"}, "lib/server/libjvm.so"},
    {"VmClient", {"lib/client/libjvm.so", "lib/server/libjvm.so"}, {}, "", {"vm client"}, "lib/client/libjvm.so"},
    {"VmExpanded", {"lib/client/libjvm.so", "lib/server/libjvm.so"}, {}, "", {"vm ${TVX_DISCOVERY_VM}"},
     "lib/client/libjvm.so"},
    {"VmOfLaterProbeLosesToEarlierScan", {"lib/client/libjvm.so", "lib/{CPU}/server/libjvm.so"}, {}, "",
     {"vm server"}, "lib/client/libjvm.so"},
    {"VmAbsentFallsBackToScan", {"lib/client/libjvm.so"}, {}, "", {"vm server"}, "lib/client/libjvm.so"},
    // Nothing to find.
    {"NoLibrary", {"bin/java", "lib/server/libjvm.txt", "lib/libjvm.so.1"}, {}, "", {}, ""},
    {"TwoLevelsDown", {"lib/a/b/libjvm.so"}, {}, "", {}, ""},
    {"MissingHome", {}, {}, "/missing", {}, ""},
};

INSTANTIATE_TEST_SUITE_P(Layouts, FindLibjvmFileRows, testing::ValuesIn(kProbeRows),
                         discovery::RowName<ProbeRow>);

TEST(FindLibjvmFile, VmPreferenceIsTriedBeforeTheScanInDirectoryOrder) {
    tvxtest::TempDir tmp;
    const std::string root = RealPath(tmp.path());
    // Many sibling subdirectories: whatever order the directory yields, the
    // preferred one wins.
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) names.push_back("vm" + std::to_string(i));
    for (const std::string& name : names) Touch(root + "/rt/lib/" + name + "/libjvm.so");
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ScopedLoader loader(MakeExecutable(root + "/app-" + name, {"vm " + name}));
        EXPECT_EQ(root + "/rt/lib/" + name + "/libjvm.so", loader->FindLibjvmFile((root + "/rt").c_str()).c_str());
    }
}

// ---------------------------------------------------------------------------
// GetVM

struct VmRow {
    const char* name;
    std::vector<std::string> settings;
    std::vector<std::string> external;  // empty: no external file
    std::string expected;
};

class GetVm : public discovery::RowTest<VmRow> {};

TEST_P(GetVm, ReadsExpandsAndDefaults) {
    const VmRow& row = GetParam();
    ScopedEnv env;
    env.Set("TVX_DISCOVERY_VM", "client");
    ScopedLoader loader(MakeExecutable(root(), row.settings, row.external.empty() ? nullptr : &row.external));
    EXPECT_EQ(row.expected, loader->GetVM().c_str());
    // Fixed by the first call.
    env.Set("TVX_DISCOVERY_VM", "changed");
    EXPECT_EQ(row.expected, loader->GetVM().c_str());
}

const VmRow kVmRows[] = {
    {"Absent", {}, {}, "-"},
    {"Empty", {"vm"}, {}, "-"},
    {"Named", {"vm server"}, {}, "server"},
    {"KeyInCapitals", {"VM = server"}, {}, "server"},
    {"Expanded", {"vm ${TVX_DISCOVERY_VM}"}, {}, "client"},
    {"FirstLineWins", {"vm server", "vm client"}, {}, "server"},
    {"ExternalFileOverrides", {"vm server"}, {"vm external"}, "external"},
};

INSTANTIATE_TEST_SUITE_P(Values, GetVm, testing::ValuesIn(kVmRows),
                         discovery::RowName<VmRow>);

// ---------------------------------------------------------------------------
// FindJvmFromEnv: JRE_HOME over JAVA_HOME.

struct EnvRow {
    const char* name;
    const char* jreHome;   // nullptr: unset; "{T}/..." paths
    const char* javaHome;
    std::string expected;  // {T}/...; empty: not found
};

class FindJvmFromEnv : public discovery::RowTest<EnvRow> {};

TEST_P(FindJvmFromEnv, TakesJreHomeThenJavaHome) {
    const EnvRow& row = GetParam();
    const std::string& root = this->root();
    MakeTree(root, {"jre/lib/server/libjvm.so", "jdk/lib/server/libjvm.so", "empty/bin/java"}, {});
    ScopedLoader loader(MakeExecutable(root + "/app", {}));
    ScopedEnv env;
    if (row.jreHome) env.Set("JRE_HOME", Expand(row.jreHome, root)); else env.Unset("JRE_HOME");
    if (row.javaHome) env.Set("JAVA_HOME", Expand(row.javaHome, root)); else env.Unset("JAVA_HOME");
    EXPECT_EQ(Expand(row.expected, root), loader->FindJvmFromEnv().c_str());
}

const EnvRow kEnvRows[] = {
    {"JreHomeWinsOverJavaHome", "{T}/jre", "{T}/jdk", "{T}/jre/lib/server/libjvm.so"},
    {"JavaHomeAlone", nullptr, "{T}/jdk", "{T}/jdk/lib/server/libjvm.so"},
    {"JreHomeAlone", "{T}/jre", nullptr, "{T}/jre/lib/server/libjvm.so"},
    {"EmptyJreHomeIsSkipped", "", "{T}/jdk", "{T}/jdk/lib/server/libjvm.so"},
    {"JreHomeWithoutRuntimeFallsThrough", "{T}/empty", "{T}/jdk", "{T}/jdk/lib/server/libjvm.so"},
    {"NeitherHoldsARuntime", "{T}/empty", "{T}/missing", ""},
    {"NeitherSet", nullptr, nullptr, ""},
};

INSTANTIATE_TEST_SUITE_P(Variables, FindJvmFromEnv, testing::ValuesIn(kEnvRows),
                         discovery::RowName<EnvRow>);

// ---------------------------------------------------------------------------
// FindJvmFromReg: the "java" command on the search path and its links.

struct CommandRow {
    const char* name;
    std::vector<std::string> files;  // below {T}
    LinkList links;                  // below {T}
    std::string pathDir;             // put first on PATH
    std::string expected;            // empty: not found
};

class FindJvmFromRegRows : public discovery::RowTest<CommandRow> {};

TEST_P(FindJvmFromRegRows, FollowsTheJavaCommandToItsRuntime) {
    const CommandRow& row = GetParam();
    const std::string& root = this->root();
    MakeTree(root, row.files, row.links);
    for (const std::string& file : row.files)
        if (file.size() >= 5 && file.compare(file.size() - 5, 5, "/java") == 0)
            chmod((root + "/" + Expand(file, root)).c_str(), 0755);
    ScopedLoader loader(MakeExecutable(root + "/app", {}));
    ScopedEnv env;
    env.Set("PATH", Expand(row.pathDir, root) + ":" + getenv("PATH"));
    EXPECT_EQ(Expand(row.expected, root), loader->FindJvmFromReg("SOFTWARE\\JavaSoft\\JRE").c_str());
}

const CommandRow kCommandRows[] = {
    {"PlainCommand", {"rt/bin/java", "rt/lib/server/libjvm.so"}, {}, "{T}/rt/bin",
     "{T}/rt/bin/../lib/server/libjvm.so"},
    {"AlternativesChain",
     {"rt/bin/java", "rt/lib/server/libjvm.so"},
     {{"path/java", "{T}/alternatives/java"}, {"alternatives/java", "{T}/rt/bin/java"}},
     "{T}/path",
     "{T}/rt/bin/../lib/server/libjvm.so"},
    {"RelativeTargetsFromTheLinksDirectory",
     {"rt/bin/java", "rt/lib/server/libjvm.so"},
     {{"path/java", "../alternatives/java"}, {"alternatives/java", "../rt/bin/java"}},
     "{T}/path",
     "{T}/path/../alternatives/../rt/bin/../lib/server/libjvm.so"},
    {"ParentLibCpu",
     {"rt/bin/java", "rt/lib/{CPU}/libjvm.so"},
     {{"path/java", "{T}/rt/bin/java"}},
     "{T}/path",
     "{T}/rt/bin/../lib/{CPU}/libjvm.so"},
    {"ParentJreLibCpu",
     {"rt/bin/java", "rt/jre/lib/{CPU}/server/libjvm.so"},
     {{"path/java", "{T}/rt/bin/java"}},
     "{T}/path",
     "{T}/rt/bin/../jre/lib/{CPU}/server/libjvm.so"},
    {"ParentLibDirect",
     {"rt/bin/java", "rt/lib/libjvm.so"},
     {{"path/java", "{T}/rt/bin/java"}},
     "{T}/path",
     "{T}/rt/bin/../lib/libjvm.so"},
    {"LinkedBinDirectory",
     {"rt/bin/java", "rt/lib/server/libjvm.so"},
     {{"path", "{T}/rt/bin"}},
     "{T}/path",
     "{T}/path/../lib/server/libjvm.so"},
    {"CommandWithoutRuntime", {"rt/bin/java"}, {}, "{T}/rt/bin", ""},
};

INSTANTIATE_TEST_SUITE_P(Commands, FindJvmFromRegRows, testing::ValuesIn(kCommandRows),
                         discovery::RowName<CommandRow>);

// path/java -> ../chain/l1 -> l2 -> ... -> ../rt/bin/java: `hops` links in
// all. Returns the directory the runtime is expected below.
std::string MakeLinkChain(const std::string& root, int hops) {
    Touch(root + "/rt/bin/java");
    chmod((root + "/rt/bin/java").c_str(), 0755);
    Touch(root + "/rt/lib/server/libjvm.so");
    Symlink(hops == 1 ? "../rt/bin/java" : "../chain/l1", root + "/path/java");
    for (int i = 1; i < hops; ++i)
        Symlink(i == hops - 1 ? "../rt/bin/java" : "l" + std::to_string(i + 1), root + "/chain/l" + std::to_string(i));
    return root + (hops == 1 ? "/path/../rt/bin/" : "/path/../chain/../rt/bin/");
}

TEST(FindJvmFromReg, FollowsLongChains) {
    for (int hops : {1, 2, 10, 30}) {
        SCOPED_TRACE(hops);
        tvxtest::TempDir tmp;
        const std::string root = RealPath(tmp.path());
        const std::string bin = MakeLinkChain(root, hops);
        ScopedLoader loader(MakeExecutable(root + "/app", {}));
        ScopedEnv env;
        env.Set("PATH", root + "/path:" + getenv("PATH"));
        EXPECT_EQ(bin + "../lib/server/libjvm.so", loader->FindJvmFromReg("").c_str());
    }
}

// A path longer than a couple of hundred bytes, in real directories.
TEST(FindJvmFromReg, LongCommandPath) {
    tvxtest::TempDir tmp;
    const std::string root = RealPath(tmp.path());
    const std::string deep = root + "/" + std::string(120, 'a') + "/" + std::string(120, 'b') + "/rt";
    Touch(deep + "/bin/java");
    chmod((deep + "/bin/java").c_str(), 0755);
    Touch(deep + "/lib/server/libjvm.so");
    ScopedLoader loader(MakeExecutable(root + "/app", {}));
    ScopedEnv env;
    env.Set("PATH", deep + "/bin:" + getenv("PATH"));
    EXPECT_EQ(deep + "/bin/../lib/server/libjvm.so", loader->FindJvmFromReg("").c_str());
}

// Without PATH the shell searches the system's default path, and so does
// the probe: a program started with an empty environment still finds the
// machine's runtime.
TEST(FindJvmFromReg, UnsetPathMeansTheSystemDefaultPath) {
    tvxtest::TempDir tmp;
    ScopedLoader loader(MakeExecutable(RealPath(tmp.path()) + "/app", {}));
    char defaultPath[1024];
    ASSERT_GT(confstr(_CS_PATH, defaultPath, sizeof defaultPath), 1u);
    ScopedEnv env;
    env.Set("PATH", defaultPath);
    const std::string withDefault = loader->FindJvmFromReg("").c_str();
    ASSERT_FALSE(withDefault.empty()) << "no java command on " << defaultPath;
    env.Unset("PATH");
    EXPECT_EQ(loader->FindJvmFromReg("").c_str(), withDefault);
}

// The "java" command is looked up on PATH as "which java" does: the first
// entry holding an executable regular file named java; entries that do not
// fit the path buffer and links that do not resolve are passed over.
struct WhichRow {
    const char* name;
    std::string path;    // the PATH value ({T}; {LONG}: 5000 letters)
    LinkList links;      // below {T}; {REL}: a relative target of 4084 bytes
    std::string expected;
};

class WhichOutput : public discovery::RowTest<WhichRow> {};

TEST_P(WhichOutput, ProbesTheFirstJavaOnThePath) {
    const WhichRow& row = GetParam();
    const std::string& root = this->root();
    std::string relative;  // a link target that fits a path alone but not after the link's directory
    for (int i = 0; i < 2040; ++i) relative += "a/";
    relative += "java";
    MakeTree(root, {"rt/bin/java", "rt/lib/server/libjvm.so", "other/bin/java", "other/lib/server/libjvm.so",
                    "plain/java", "plain/lib/server/libjvm.so", "dir/java/x", "dir/lib/server/libjvm.so"},
             {});
    chmod((root + "/rt/bin/java").c_str(), 0755);
    chmod((root + "/other/bin/java").c_str(), 0755);
    for (const auto& link : row.links)
        Symlink(Fill(Expand(link.second, root), {{"REL", relative}}), root + "/" + link.first);
    ScopedLoader loader(MakeExecutable(root + "/app", {}));
    ScopedEnv env;
    env.Set("PATH", Fill(Expand(row.path, root), {{"LONG", std::string(5000, 'x')}}));
    EXPECT_EQ(Expand(row.expected, root), loader->FindJvmFromReg("").c_str());
}

const WhichRow kWhichRows[] = {
    {"FirstEntryWins", "{T}/rt/bin:{T}/other/bin", {}, "{T}/rt/bin/../lib/server/libjvm.so"},
    {"NotExecutableSkipped", "{T}/plain:{T}/other/bin", {}, "{T}/other/bin/../lib/server/libjvm.so"},
    {"DirectoryNamedJavaSkipped", "{T}/dir:{T}/other/bin", {}, "{T}/other/bin/../lib/server/libjvm.so"},
    {"EntryTooLongForThePathBuffer", "{T}/{LONG}:{T}/rt/bin", {}, "{T}/rt/bin/../lib/server/libjvm.so"},
    {"TwoLinkCycle", "{T}/path", {{"path/java", "../loop/a"}, {"loop/a", "b"}, {"loop/b", "a"}}, ""},
    {"SelfLink", "{T}/path", {{"path/java", "java"}}, ""},
    {"CycleOfAbsoluteLinks", "{T}/path", {{"path/java", "{T}/path/java2"}, {"path/java2", "{T}/path/java"}}, ""},
    {"LinkTargetTooLongForItsDirectory", "{T}/path", {{"path/java", "{REL}"}}, ""},
};

INSTANTIATE_TEST_SUITE_P(Outputs, WhichOutput, testing::ValuesIn(kWhichRows),
                         discovery::RowName<WhichRow>);

// ---------------------------------------------------------------------------
// GetJvmPath: the search order and the process-wide cache.

// Four runtimes, one per source: the "jvmdll" file (c), the delivered
// runtime (b), the "java" command on PATH (s) and JRE_HOME (e).
class JvmSearch {
public:
    JvmSearch() : root_(RealPath(tmp_.path())) {
        MakeTree(root_, {"c/libjvm.so", "b/lib/server/libjvm.so", "s/bin/java", "s/lib/server/libjvm.so",
                         "e/lib/server/libjvm.so"},
                 {});
        chmod((root_ + "/s/bin/java").c_str(), 0755);
    }
    const std::string& root() const { return root_; }
    std::string Path(const std::string& text) const { return Expand(text, root_); }
    std::string Expected(char source) const {
        switch (source) {
            case 'c': return Path("{T}/c/libjvm.so");
            case 'b': return Path("{T}/b/lib/server/libjvm.so");
            case 's': return Path("{T}/s/bin/../lib/server/libjvm.so");
            case 'e': return Path("{T}/e/lib/server/libjvm.so");
            default: return "";
        }
    }
    // GetJvmPath of an executable with `settings`, in a fresh child process
    // whose PATH starts with the "s" runtime and whose JRE_HOME is the "e" one.
    std::string Search(const std::vector<std::string>& settings) const {
        std::vector<std::string> lines;
        for (const std::string& line : settings) lines.push_back(Path(line));
        const std::string exe = MakeExecutable(root_ + "/app", lines);
        const std::string path = root_ + "/s/bin:" + getenv("PATH");
        discovery::ChildResult child = InChild([&] {
            setenv("PATH", path.c_str(), 1);
            setenv("JRE_HOME", Path("{T}/e").c_str(), 1);
            unsetenv("JAVA_HOME");
            ScopedLoader loader(exe);
            return std::string(loader->GetJvmPath().c_str());
        });
        EXPECT_TRUE(child.ok);
        return child.output;
    }

private:
    tvxtest::TempDir tmp_;
    std::string root_;
};

struct OrderRow {
    const char* name;
    std::vector<std::string> settings;  // {T}
    char source;                        // expected source letter; '-' none
};

class GetJvmPathOrder : public discovery::RowTest<OrderRow> {};

TEST_P(GetJvmPathOrder, TriesTheSourcesInOrder) {
    const OrderRow& row = GetParam();
    JvmSearch search;
    EXPECT_EQ(search.Expected(row.source), search.Search(row.settings));
}

#define TVX_ALL_SOURCES "jvmdll {T}/c/libjvm.so", "jre {T}/b"

const OrderRow kOrderRows[] = {
    {"DefaultOrder", {TVX_ALL_SOURCES}, 'c'},
    {"EmptyOrder", {"jre_order", TVX_ALL_SOURCES}, 'c'},
    {"OnlyOtherLetters", {"jre_order xyz", TVX_ALL_SOURCES}, 'c'},
    {"C", {"jre_order c", TVX_ALL_SOURCES}, 'c'},
    {"B", {"jre_order b", TVX_ALL_SOURCES}, 'b'},
    {"S", {"jre_order s", TVX_ALL_SOURCES}, 's'},
    {"E", {"jre_order e", TVX_ALL_SOURCES}, 'e'},
    {"IFindsNothing", {"jre_order i", TVX_ALL_SOURCES}, '-'},
    {"IThenE", {"jre_order ie", TVX_ALL_SOURCES}, 'e'},
    {"Reversed", {"jre_order eisbc", TVX_ALL_SOURCES}, 'e'},
    {"SBeforeB", {"jre_order sb", TVX_ALL_SOURCES}, 's'},
    {"Capitals", {"jre_order BE", TVX_ALL_SOURCES}, 'b'},
    {"CapitalE", {"JRE_ORDER E", TVX_ALL_SOURCES}, 'e'},
    {"OtherCharactersSkipped", {"jre_order x-1 e", TVX_ALL_SOURCES}, 'e'},
    {"MissingJvmdllSkipped", {"jre_order cb", "jvmdll {T}/c/nothing.so", "jre {T}/b"}, 'b'},
    {"NoJvmdllSkipped", {"jre_order cs", "jre {T}/b"}, 's'},
    {"JreWithoutRuntimeSkipped", {"jre_order bs", "jre {T}/missing"}, 's'},
    {"NothingFound", {"jre_order cbi", "jvmdll {T}/c/nothing.so", "jre {T}/missing"}, '-'},
};

INSTANTIATE_TEST_SUITE_P(Orders, GetJvmPathOrder, testing::ValuesIn(kOrderRows),
                         discovery::RowName<OrderRow>);

// Values of "jvmdll" and "jre" are expanded and resolved like paths.
struct SourcePathRow {
    const char* name;
    std::vector<std::string> files;     // below {T}
    std::vector<std::string> settings;  // {T}
    std::string expected;               // {T}
};

class GetJvmPathSource : public discovery::RowTest<SourcePathRow> {};

TEST_P(GetJvmPathSource, ExpandsAndResolves) {
    const SourcePathRow& row = GetParam();
    JvmSearch search;
    MakeTree(search.root(), row.files, {});
    ScopedEnv env;
    env.Set("TVX_DISCOVERY_RT", search.Path("{T}/x"));
    EXPECT_EQ(search.Path(row.expected), search.Search(row.settings));
}

const SourcePathRow kSourcePathRows[] = {
    {"DeliveredRuntimeByDefault", {"app/jre/lib/{CPU}/server/libjvm.so"}, {"jre_order b"},
     "{T}/app/./jre/lib/{CPU}/server/libjvm.so"},
    {"RelativeJreBelowHome", {"app/runtime/lib/server/libjvm.so"}, {"jre_order b", "jre runtime"},
     "{T}/app/runtime/lib/server/libjvm.so"},
    {"ExpandedJre", {"x/lib/{CPU}/libjvm.so"}, {"jre_order b", "jre ${TVX_DISCOVERY_RT}"}, "{T}/x/lib/{CPU}/libjvm.so"},
    {"RelativeJvmdllBelowHome", {"app/lib/libjvm.so"}, {"jre_order c", "jvmdll lib/libjvm.so"},
     "{T}/app/lib/libjvm.so"},
    {"ExpandedJvmdll", {"x/libjvm.so"}, {"jre_order c", "jvmdll $TVX_DISCOVERY_RT/libjvm.so"}, "{T}/x/libjvm.so"},
    {"JvmdllNameNotChecked", {"x/runtime.bin"}, {"jre_order c", "jvmdll %TVX_DISCOVERY_RT%/runtime.bin"},
     "{T}/x/runtime.bin"},
};

INSTANTIATE_TEST_SUITE_P(Sources, GetJvmPathSource, testing::ValuesIn(kSourcePathRows),
                         discovery::RowName<SourcePathRow>);

TEST(GetJvmPath, FoundPathIsKeptForTheProcess) {
    JvmSearch search;
    const std::string exe = MakeExecutable(search.root() + "/app", {search.Path("jre {T}/b"), "jre_order b"});
    const std::string other = MakeExecutable(search.root() + "/other", {search.Path("jre {T}/b"), "jre_order e"});
    const std::string library = search.Expected('b');
    discovery::ChildResult child = InChild([&] {
        std::string seen;
        {
            ScopedLoader loader(exe);
            seen += std::string(loader->GetJvmPath().c_str()) + "|";
            unlink(library.c_str());
            seen += std::string(loader->GetJvmPath().c_str()) + "|";
        }
        ScopedLoader second(other);  // another order, same process
        seen += second->GetJvmPath().c_str();
        return seen;
    });
    ASSERT_TRUE(child.ok);
    EXPECT_EQ(library + "|" + library + "|" + library, child.output);
    EXPECT_FALSE(tvxtest::FileExists(library));
}

TEST(GetJvmPath, UnsuccessfulSearchIsNotRepeated) {
    JvmSearch search;
    const std::string library = search.Path("{T}/late/libjvm.so");
    const std::string exe = MakeExecutable(search.root() + "/app", {"jre_order c", "jvmdll " + library});
    discovery::ChildResult child = InChild([&] {
        ScopedLoader loader(exe);
        std::string seen = std::string("[") + loader->GetJvmPath().c_str() + "]";
        Touch(library);
        seen += std::string("[") + loader->GetJvmPath().c_str() + "]";
        seen += std::string("[") + loader->FindLibjvmFile(search.Path("{T}/late").c_str()).c_str() + "]";
        return seen;
    });
    ASSERT_TRUE(child.ok);
    // The uncached probe sees the new file; the cached answer stays empty.
    EXPECT_EQ("[][][" + library + "]", child.output);
}

// The machine's own runtime, through the real "java" command on PATH.
TEST(GetJvmPath, FindsTheBuildsJdkThroughItsJavaCommand) {
    tvxtest::TempDir tmp;
    const std::string exe = MakeExecutable(tmp.path(), {"jre_order s"});
    const std::string jdkBin = tvxtest::JavaHome() + "/bin";
    discovery::ChildResult child = InChild([&] {
        setenv("PATH", (jdkBin + ":" + getenv("PATH")).c_str(), 1);
        ScopedLoader loader(exe);
        return std::string(loader->GetJvmPath().c_str());
    });
    ASSERT_TRUE(child.ok);
    EXPECT_EQ(jdkBin + "/../lib/server/libjvm.so", child.output);
    EXPECT_TRUE(tvxtest::FileExists(child.output));
}

}  // namespace
