#include "launch/base_archive.h"

#include <string.h>

namespace {

// HotSpot gives up compressed object pointers for heaps a little under
// 32 GiB (the limit less its alignment: -Xmx32736m keeps them, -Xmx32752m
// does not); heaps from here on are taken as without them, so that at worst
// an archive is looked for that the runtime would not have needed.
const unsigned long long kCompressedOopsHeapLimit = (32ull << 30) - (64ull << 20);

bool Is(const char* option, size_t length, const char* name) {
    return length == strlen(name) && memcmp(option, name, length) == 0;
}

// The size after `prefix` ("-Xmx" -> "40g"): digits and at most one of
// k, m, g, t; false when the option is not one or its value is no size.
bool SizeAfter(const char* option, size_t length, const char* prefix, unsigned long long* size) {
    const size_t n = strlen(prefix);
    if (length <= n || memcmp(option, prefix, n) != 0) return false;
    unsigned long long value = 0;
    size_t i = n;
    for (; i < length && option[i] >= '0' && option[i] <= '9'; ++i) {
        if (value > (~0ull >> 4)) return false;
        value = value * 10 + static_cast<unsigned>(option[i] - '0');
    }
    if (i == n) return false;
    int shift = 0;
    if (i + 1 == length) {
        switch (option[i] | 0x20) {
            case 'k': shift = 10; break;
            case 'm': shift = 20; break;
            case 'g': shift = 30; break;
            case 't': shift = 40; break;
            default: return false;
        }
    } else if (i != length) {
        return false;
    }
    *size = value > (~0ull >> shift) ? ~0ull : value << shift;
    return true;
}

}  // namespace

void BaseArchiveChoice::ReadOne(const char* option, size_t length) {
    unsigned long long size = 0;
    if (Is(option, length, "-XX:+UseCompressedOops")) compressedOops_ = 1;
    else if (Is(option, length, "-XX:-UseCompressedOops")) compressedOops_ = 0;
    else if (Is(option, length, "-XX:+UseCompressedClassPointers")) classPointers_ = true;
    else if (Is(option, length, "-XX:-UseCompressedClassPointers")) classPointers_ = false;
    else if (Is(option, length, "-XX:+UseZGC")) zgc_ = true;
    else if (Is(option, length, "-XX:-UseZGC")) zgc_ = false;
    else if (Is(option, length, "-XX:+UseCompactObjectHeaders")) compactHeaders_ = true;
    else if (Is(option, length, "-XX:-UseCompactObjectHeaders")) compactHeaders_ = false;
    else if (SizeAfter(option, length, "-Xmx", &size) || SizeAfter(option, length, "-Xms", &size) ||
             SizeAfter(option, length, "-XX:MaxHeapSize=", &size) ||
             SizeAfter(option, length, "-XX:InitialHeapSize=", &size)) {
        if (size > heap_) heap_ = size;
    }
}

void BaseArchiveChoice::ReadAll(const char* text) {
    if (!text) return;
    for (const char* p = text; *p;) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
        const char* start = p;
        while (*p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') ++p;
        if (p > start) ReadOne(start, static_cast<size_t>(p - start));
    }
}

const char* const kBaseArchiveNames[kBaseArchiveCount] = {"classes.jsa", "classes_coh.jsa", "classes_nocoops.jsa",
                                                          "classes_nocoops_coh.jsa"};

const char* BaseArchiveChoice::Name(bool lp64) const {
    if (!lp64) return kBaseArchiveNames[0];
    if (!classPointers_) return nullptr;
    const bool compressedOops = compressedOops_ != 0 && !zgc_ && heap_ < kCompressedOopsHeapLimit;
    return kBaseArchiveNames[(compressedOops ? 0 : 2) + (compactHeaders_ ? 1 : 0)];
}
