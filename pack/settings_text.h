// The settings lines an executable carries, gathered from their sources:
// --main, the jar manifest's Main-Class, a settings file and --set lines.
#ifndef TVX_PACK_SETTINGS_TEXT_H
#define TVX_PACK_SETTINGS_TEXT_H

#include <cstddef>
#include <string>
#include <vector>

namespace tvxpack {

// True when `line` carries `key` as the launcher reads lines: leading spaces
// skipped, the key matched without regard to ASCII case and not followed by
// a letter, digit or "_". `value` (optional) receives the value: spaces, one
// optional "=" and the spaces after it skipped; trailing blanks kept.
bool LineCarriesKey(const std::string& line, const char* key, std::string* value);

// False when `text` is not well-formed UTF-8; `badOffset` receives the
// offset of the first bad byte.
bool IsValidUtf8(const std::string& text, size_t* badOffset);

// Splits the content of a settings file into lines: a leading UTF-8
// byte-order mark is dropped, CR LF, LF and CR end lines. Rejects text that
// is not UTF-8 or holds a NUL byte (the launcher would stop reading there).
bool SplitSettingsFile(const std::string& content, std::vector<std::string>* lines, std::string* error);

// Value of the main-section attribute `name` of a jar manifest (names
// compared without regard to case, continuation lines joined, surrounding
// blanks removed); "" when absent.
std::string ManifestAttribute(const std::string& manifest, const std::string& name);

// The class a main class setting names: written as Java names it
// ("com.x.Main"), as a path ("com/x/Main") or as its class file
// ("com/x/Main.class").
std::string MainClassName(const std::string& written);

struct SettingsSources {
    bool hasMain = false;
    std::string mainClass;               // --main
    std::vector<std::string> fileLines;  // --settings FILE
    std::vector<std::string> setLines;   // --set LINE...
    std::string manifestMainClass;       // Main-Class, read only when wanted
    bool startupCache = false;           // "startupcache true" unless a line sets the key
};

// True when neither --main nor any line names a main class, so the jar
// manifest's Main-Class is to be used.
bool WantsManifestMainClass(const SettingsSources& sources);

// The lines of the settings block, in order: the mainclass line (from --main,
// or from the manifest when no line names one), "startupcache true" when
// asked for and neither the file nor a --set line names the key, the file's
// lines, the --set lines; every main class named as MainClassName gives it.
// Fails when a line cannot be stored or no main class results.
bool ComposeSettings(const SettingsSources& sources, std::vector<std::string>* lines, std::string* error);

}  // namespace tvxpack

#endif  // TVX_PACK_SETTINGS_TEXT_H
