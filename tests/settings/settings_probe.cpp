// A program built on the settings code alone. The tests pack it like a
// launcher image and run it: it prints what its own loader reads.
//   first:KEY     the first value of KEY
//   embedded:KEY  the first value of KEY in the settings block only
//   all:KEY       every value of KEY (expanded), one per line
//   home          the application home directory
// Each answer is printed as "[text]" on a line of its own.
#include <locale.h>
#include <stdio.h>
#include <string.h>

#include "settings/settings_loader.h"

namespace {
void Print(const char* text) { printf("[%s]\n", text); }
bool Starts(const char* arg, const char* word, const char** rest) {
    size_t n = strlen(word);
    if (strncmp(arg, word, n) != 0) return false;
    *rest = arg + n;
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    setlocale(LC_ALL, "");
    CSettingsLoader loader(true);
    pldr = &loader;
    for (int i = 1; i < argc; ++i) {
        const char* key = nullptr;
        if (Starts(argv[i], "first:", &key)) {
            Print(loader.GetCommon(key));
        } else if (Starts(argv[i], "embedded:", &key)) {
            Print(loader.GetCommon(key, true));
        } else if (Starts(argv[i], "all:", &key)) {
            MyCStringArray values;
            loader.GetAll(key, values);
            for (int v = 0; v < values.GetCount(); ++v) Print(values[v]);
        } else if (strcmp(argv[i], "home") == 0) {
            Print(loader.AppHome());
        } else {
            fprintf(stderr, "unknown request: %s\n", argv[i]);
            return 2;
        }
    }
    pldr = nullptr;
    return 0;
}
