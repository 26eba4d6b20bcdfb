#include "tests/fuzz/support/fuzz_support.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "settings/layout.h"

namespace fuzzsupport {

namespace {

std::string* g_scratch = nullptr;

void RemoveScratch() {
    if (!g_scratch) return;
    std::string command = "rm -rf '" + *g_scratch + "'";
    if (system(command.c_str()) != 0) fprintf(stderr, "could not remove %s\n", g_scratch->c_str());
}

}  // namespace

const std::string& ScratchDir() {
    if (!g_scratch) {
        const char* base = getenv("TVX_FUZZ_TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tvx-fuzz-XXXXXX";
        if (!mkdtemp(&pattern[0])) {
            perror("mkdtemp");
            abort();
        }
        g_scratch = new std::string(pattern);
        atexit(RemoveScratch);
    }
    return *g_scratch;
}

void WriteBytes(const std::string& path, const void* data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        perror(path.c_str());
        abort();
    }
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n <= 0) {
            perror(path.c_str());
            abort();
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    close(fd);
}

std::string SyntheticImage() {
    std::string image = "\x7f" "ELF";
    image.append(60, '\x01');
    unsigned char record[tvx_layout::kRecordSize] = {};
    memcpy(record + tvx_layout::kRecordMarkerOffset, TVX_RECORD_MARKER_TEXT, tvx_layout::kRecordMarkerSize);
    image.append(reinterpret_cast<const char*>(record), sizeof record);
    image.append(40, '\x02');
    return image;
}

std::string EmptyZip(const std::string& comment) {
    unsigned char end[tvx_layout::kEocdSize] = {};
    tvx_layout::WriteLE32(end, tvx_layout::kEocdSignature);
    end[20] = static_cast<unsigned char>(comment.size() & 0xFF);
    end[21] = static_cast<unsigned char>(comment.size() >> 8);
    return std::string(reinterpret_cast<const char*>(end), sizeof end) + comment;
}

std::vector<std::string> SplitInput(const uint8_t* data, size_t size, char separator) {
    std::vector<std::string> parts(1);
    for (size_t i = 0; i < size; ++i) {
        if (static_cast<char>(data[i]) == separator)
            parts.emplace_back();
        else
            parts.back().push_back(static_cast<char>(data[i]));
    }
    return parts;
}

void Fail(const char* file, int line, const char* condition, const std::string& what) {
    fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, condition, what.c_str());
    abort();
}

}  // namespace fuzzsupport
