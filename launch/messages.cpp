// PLACEHOLDER until the launch work lands.
#include <stdio.h>
#include "launch/messages.h"
MyCString RSTR(unsigned int id) { MyCString s; s.Format("%u", id); return s; }
void ReportMessage(const char* text) { fprintf(stderr, "%s\n", text); }
