#include "tests/pack/zip_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <cstring>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace packtest {

void WriteZip(const std::string& path, const std::vector<EntrySpec>& entries, const std::string& comment) {
    int code = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    ASSERT_NE(za, nullptr) << "zip_open " << path << " failed: " << code;
    for (const EntrySpec& e : entries) {
        zip_source_t* src = zip_source_buffer(za, e.data.data(), e.data.size(), 0);
        ASSERT_NE(src, nullptr);
        zip_int64_t index = zip_file_add(za, e.name.c_str(), src, ZIP_FL_ENC_UTF_8);
        ASSERT_GE(index, 0) << zip_strerror(za);
        zip_set_file_compression(za, static_cast<zip_uint64_t>(index), e.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
        if (e.mtime >= 0) zip_file_set_mtime(za, static_cast<zip_uint64_t>(index), static_cast<time_t>(e.mtime), 0);
    }
    ASSERT_EQ(zip_close(za), 0) << zip_strerror(za);
    if (comment.empty()) return;
    // The comment goes in as raw bytes (libzip refuses control characters):
    // the end record is the file's last 22 bytes; set its length field.
    ASSERT_LE(comment.size(), 0xFFFFu);
    std::string zip = tvxtest::ReadFile(path);
    ASSERT_GE(zip.size(), 22u);
    ASSERT_EQ(zip.compare(zip.size() - 22, 4, "PK\x05\x06"), 0);
    zip[zip.size() - 2] = static_cast<char>(comment.size() & 0xFF);
    zip[zip.size() - 1] = static_cast<char>(comment.size() >> 8);
    tvxtest::WriteFile(path, zip + comment);
}

ArchiveView ReadArchive(const std::string& path, uint64_t offset) {
    ArchiveView view;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* src = zip_source_file_create(path.c_str(), offset, -1, &error);
    zip_t* za = src ? zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &error) : nullptr;
    if (za == nullptr) {
        view.error = zip_error_strerror(&error);
        if (src) zip_source_free(src);
        zip_error_fini(&error);
        return view;
    }
    zip_error_fini(&error);
    zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_uint64_t index = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        if (zip_stat_index(za, index, 0, &st) != 0) continue;
        RawEntry entry;
        entry.method = st.comp_method;
        entry.crc = st.crc;
        entry.size = st.size;
        entry.mtime = st.mtime;
        zip_file_t* f = zip_fopen_index(za, index, ZIP_FL_COMPRESSED);
        if (f == nullptr) continue;
        entry.raw.resize(static_cast<size_t>(st.comp_size));
        if (!entry.raw.empty() && zip_fread(f, &entry.raw[0], entry.raw.size()) != static_cast<zip_int64_t>(st.comp_size))
            entry.raw = "<short read>";
        zip_fclose(f);
        view.entries[st.name] = entry;
    }
    int length = 0;
    const char* comment = zip_get_archive_comment(za, &length, ZIP_FL_ENC_RAW);
    if (comment) view.comment.assign(comment, static_cast<size_t>(length));
    zip_discard(za);
    view.ok = true;
    return view;
}

std::string RandomBytes(size_t n, uint32_t seed) {
    std::string out(n, '\0');
    uint32_t x = seed ? seed : 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

std::set<std::string> ListDir(const std::string& dir) {
    std::set<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return names;
    while (struct dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.insert(e->d_name);
    closedir(d);
    return names;
}

namespace {

struct Bytes {
    std::string b;
    void u16(uint32_t v) { b += static_cast<char>(v), b += static_cast<char>(v >> 8); }
    void u32(uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); }
    void u64(uint64_t v) { u32(static_cast<uint32_t>(v)), u32(static_cast<uint32_t>(v >> 32)); }
};

}  // namespace

void WriteHugeSparseZip(const std::string& path) {
    const std::string name = "huge.bin";
    const uint64_t dataSize = (uint64_t{1} << 32) + 16;
    Bytes local;
    local.u32(0x04034b50), local.u16(45), local.u16(0), local.u16(0), local.u16(0), local.u16(0x21);
    local.u32(0), local.u32(0xFFFFFFFF), local.u32(0xFFFFFFFF), local.u16(static_cast<uint32_t>(name.size()));
    local.u16(20);
    local.b += name;
    local.u16(1), local.u16(16), local.u64(dataSize), local.u64(dataSize);

    const uint64_t centralOffset = local.b.size() + dataSize;
    Bytes central;
    central.u32(0x02014b50), central.u16(45), central.u16(45), central.u16(0), central.u16(0), central.u16(0);
    central.u16(0x21), central.u32(0), central.u32(0xFFFFFFFF), central.u32(0xFFFFFFFF);
    central.u16(static_cast<uint32_t>(name.size())), central.u16(20), central.u16(0), central.u16(0), central.u16(0);
    central.u32(0), central.u32(0);
    central.b += name;
    central.u16(1), central.u16(16), central.u64(dataSize), central.u64(dataSize);

    const uint64_t zip64EndOffset = centralOffset + central.b.size();
    Bytes end;
    end.u32(0x06064b50), end.u64(44), end.u16(45), end.u16(45), end.u32(0), end.u32(0), end.u64(1), end.u64(1);
    end.u64(central.b.size()), end.u64(centralOffset);
    end.u32(0x07064b50), end.u32(0), end.u64(zip64EndOffset), end.u32(1);
    end.u32(0x06054b50), end.u16(0), end.u16(0), end.u16(1), end.u16(1);
    end.u32(static_cast<uint32_t>(central.b.size())), end.u32(0xFFFFFFFF), end.u16(0);

    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    std::string tail = central.b + end.b;
    ASSERT_EQ(pwrite(fd, local.b.data(), local.b.size(), 0), static_cast<ssize_t>(local.b.size()));
    ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(centralOffset)),
              static_cast<ssize_t>(tail.size()));
    close(fd);
}

}  // namespace packtest
