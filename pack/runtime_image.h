// A Java runtime that travels with the application: linked with jlink from
// a JDK's modules into the jre/ directory beside the executable, where the
// launcher's runtime search looks first.
#ifndef TVX_PACK_RUNTIME_IMAGE_H
#define TVX_PACK_RUNTIME_IMAGE_H

#include <string>
#include <vector>

namespace tvxpack {

struct RuntimeRequest {
    std::string modules;                  // "auto" or a comma-separated list; "" for no runtime
    std::vector<std::string> addModules;  // --add-modules, joined to either
    std::string jdk;                      // --jdk: the JDK whose modules are linked; "" finds one
    std::string locales;                  // --locales: jlink's --include-locales patterns; "" for none
};

// Modules that jdeps cannot see in the classes because they are reached
// through service providers or configuration, added to every "auto" list
// when the JDK has them: elliptic-curve and PKCS#11 crypto providers (TLS),
// extra charsets, the zip file system, JMX and its remote agent, DNS lookups
// through JNDI. Locale data beyond English (jdk.localedata, 9 MiB) is not
// among them: --locales or --add-modules adds it.
const std::vector<std::string>& ImplicitModules();

// Splits a comma-separated module list (blanks around names dropped);
// false with `error` naming an empty or malformed name.
bool SplitModuleList(const std::string& text, std::vector<std::string>* modules, std::string* error);

// True when `text` is a comma-separated list of jlink's locale patterns
// (language tags, "*" wildcards: "de,fr-FR,*-IN"); false with `error` saying
// what is wrong.
bool ValidLocalePatterns(const std::string& text, std::string* error);

// The version ("17.0.15"), processor ("x86_64") and module list (names
// separated by spaces) a JDK's release file names; empty when absent.
struct JdkRelease {
    std::string version;
    std::string osArch;
    std::string modules;
};
// From the text of a release file (KEY="VALUE" lines).
JdkRelease ParseJdkRelease(const std::string& text);
// From HOME/release; all empty when it cannot be read.
JdkRelease ReadJdkRelease(const std::string& home);

// The feature number of a version text ("17.0.15" -> 17, "1.8.0" -> 8); 0
// when it starts with no number.
int JavaFeature(const std::string& version);

// True when a release file's OS_ARCH names `processor` (x86_64, aarch64,
// armhf, i386), as OpenJDK builds name them.
bool OsArchMatches(const std::string& osArch, const std::string& processor);

// The jars jdeps reads besides the application's own: its manifest's
// Class-Path entries (relative to the jar) and the plain paths of the
// settings lines "classpath", "java_classpath" (files) and "libs",
// "java_libs" (directories, every .jar and .zip below), relative to `home`.
// Entries that use variables or wildcards, or that do not exist, are left
// out: what they need is given with --add-modules.
std::vector<std::string> ClassPathJars(const std::string& jar, const std::vector<std::string>& settingsLines,
                                       const std::string& home);

// A linked runtime in a staging directory beside its destination; removed
// on destruction unless moved into place.
class LinkedRuntime {
public:
    LinkedRuntime() = default;
    ~LinkedRuntime();
    LinkedRuntime(const LinkedRuntime&) = delete;
    LinkedRuntime& operator=(const LinkedRuntime&) = delete;

    const std::string& path() const { return path_; }
    const std::vector<std::string>& modules() const { return modules_; }
    bool empty() const { return path_.empty(); }
    // A line about what the runtime lacks ("" when complete).
    const std::string& note() const { return note_; }

    // Links the runtime for `processor` into a new directory in `dir`.
    // `inputs` are the jars jdeps reads for "auto" (the application's, the
    // helper classes', its class path). Fails with one line in `error`: no
    // jlink or jdeps, a JDK without modules or of another version or
    // processor, an unknown module, jlink's own refusal.
    bool Link(const RuntimeRequest& request, const std::string& processor, const std::vector<std::string>& inputs,
              const std::string& dir, std::string* error);

    // Moves the runtime to `destination` (replacing a runtime there).
    bool MoveTo(const std::string& destination, std::string* error);

private:
    std::string path_;
    std::vector<std::string> modules_;
    std::string note_;
};

// False with `error` when `destination` exists and is not a runtime that
// MoveTo may replace (a directory holding a release file and lib/modules).
bool CheckRuntimeDestination(const std::string& destination, std::string* error);

}  // namespace tvxpack

#endif  // TVX_PACK_RUNTIME_IMAGE_H
