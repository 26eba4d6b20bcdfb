// PLACEHOLDER until the launch work lands.
#include <stdio.h>
#include "launch/launch_driver.h"
bool bStdredirSame = false;
int RunJavaMain(int, char**, StartCallback, int, char**) { fputs("no application attached\n", stderr); return 1; }
int ForceCurrentWorkingDirectory(const char*) { return 0; }
