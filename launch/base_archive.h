// The base class-data archive a HotSpot runtime maps at start. Beside its
// library it keeps one per object layout (classes.jsa, classes_nocoops.jsa
// for a heap without compressed object pointers, and from 24 on _coh ones
// for compact object headers); which one a start maps follows from its
// options. A runtime asked to write an archive of application classes
// refuses to start when that base archive is missing.
#ifndef TVX_LAUNCH_BASE_ARCHIVE_H
#define TVX_LAUNCH_BASE_ARCHIVE_H

#include <stddef.h>
#include <string.h>

// Every base archive's file name: compressed object pointers, with compact
// object headers too, without compressed object pointers, and with compact
// headers too.
const int kBaseArchiveCount = 4;
extern const char* const kBaseArchiveNames[kBaseArchiveCount];

class BaseArchiveChoice {
public:
    // One option, as the runtime receives it ("-Xmx40g", "-XX:+UseZGC").
    void Read(const char* option) { ReadOne(option, option ? strlen(option) : 0); }
    // Options separated by blanks, as JAVA_TOOL_OPTIONS holds them.
    void ReadAll(const char* text);
    // The archive's file name for the options read so far, later options
    // winning; nullptr when they leave the runtime without any base archive
    // (-XX:-UseCompressedClassPointers). `lp64`: a 64-bit runtime; a 32-bit
    // one has classes.jsa only.
    const char* Name(bool lp64) const;

private:
    void ReadOne(const char* option, size_t length);

    int compressedOops_ = -1;  // -1 when no option says
    bool classPointers_ = true;
    bool zgc_ = false;
    bool compactHeaders_ = false;
    unsigned long long heap_ = 0;  // the largest -Xmx, -Xms, MaxHeapSize or InitialHeapSize
};

#endif  // TVX_LAUNCH_BASE_ARCHIVE_H
