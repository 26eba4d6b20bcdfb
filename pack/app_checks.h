// The mistakes tvx-pack can see before the launcher would: a settings line
// the launcher ignores, a class path entry that is not there, a main class
// that is nowhere the executable will look for it.
#ifndef TVX_PACK_APP_CHECKS_H
#define TVX_PACK_APP_CHECKS_H

#include <string>
#include <vector>

namespace tvxpack {

struct AppCheck {
    std::vector<std::string> lines;  // the settings block, as composed
    std::string jar;                 // the application's jar
    std::string helpersJar;          // the helper classes packed with it
    std::string appHome;             // the directory the executable will run from
    bool mainClassMustExist = true;  // false with --no-check
};

// Adds one line per finding that is worth a warning to `warnings`. Fails
// with `error` only when the main class is certainly missing: it is in none
// of the archives and directories of the class path, and every entry of the
// class path could be looked into here.
bool CheckApplication(const AppCheck& check, std::vector<std::string>* warnings, std::string* error);

}  // namespace tvxpack

#endif  // TVX_PACK_APP_CHECKS_H
