#include "tests/settings/settings_fixture.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <gtest/gtest.h>

#include "settings/layout.h"

namespace settingstest {

namespace {

void AppendLE16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void AppendLE32(std::string& out, uint32_t v) {
    AppendLE16(out, v & 0xFFFF);
    AppendLE16(out, v >> 16);
}

uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace

std::string SyntheticImage() {
    std::string image = "\x7f" "ELF";
    for (int i = 0; i < 3000; ++i) image.push_back(static_cast<char>((i * 7) & 0xFF));
    image += std::string(8, '\0');
    image.append(tvx_layout::kRecordMarker, tvx_layout::kRecordMarkerSize);
    for (int i = 0; i < 500; ++i) image.push_back(static_cast<char>(0xA0 + (i & 0x1F)));
    return image;
}

std::string ProbePath() { return TVX_SETTINGS_PROBE; }

std::string ProbeImage() {
    static const std::string image = tvxtest::ReadFile(ProbePath());
    return image;
}

std::string ZipArchive(size_t payloadSize, const std::string& comment) {
    const std::string name = "data.bin";
    std::string payload(payloadSize, '\0');
    for (size_t i = 0; i < payloadSize; i += 4096) payload[i] = static_cast<char>('a' + (i / 4096) % 26);
    const uint32_t crc = Crc32(payload);
    std::string zip;
    AppendLE32(zip, tvx_layout::kLocalHeaderSignature);
    AppendLE16(zip, 10);  // version needed
    AppendLE16(zip, 0);   // flags
    AppendLE16(zip, 0);   // stored
    AppendLE32(zip, 0);   // time, date
    AppendLE32(zip, crc);
    AppendLE32(zip, static_cast<uint32_t>(payload.size()));
    AppendLE32(zip, static_cast<uint32_t>(payload.size()));
    AppendLE16(zip, static_cast<uint32_t>(name.size()));
    AppendLE16(zip, 0);
    zip += name;
    zip += payload;
    const size_t central = zip.size();
    AppendLE32(zip, 0x02014b50);
    AppendLE16(zip, 10);  // made by
    AppendLE16(zip, 10);  // needed
    AppendLE16(zip, 0);
    AppendLE16(zip, 0);
    AppendLE32(zip, 0);
    AppendLE32(zip, crc);
    AppendLE32(zip, static_cast<uint32_t>(payload.size()));
    AppendLE32(zip, static_cast<uint32_t>(payload.size()));
    AppendLE16(zip, static_cast<uint32_t>(name.size()));
    AppendLE16(zip, 0);  // extra
    AppendLE16(zip, 0);  // comment
    AppendLE16(zip, 0);  // disk
    AppendLE16(zip, 0);  // internal attributes
    AppendLE32(zip, 0);  // external attributes
    AppendLE32(zip, 0);  // local header offset
    zip += name;
    const size_t centralSize = zip.size() - central;
    AppendLE32(zip, tvx_layout::kEocdSignature);
    AppendLE16(zip, 0);
    AppendLE16(zip, 0);
    AppendLE16(zip, 1);
    AppendLE16(zip, 1);
    AppendLE32(zip, static_cast<uint32_t>(centralSize));
    AppendLE32(zip, static_cast<uint32_t>(central));
    AppendLE16(zip, static_cast<uint32_t>(comment.size() & 0xFFFF));
    zip += comment;
    return zip;
}

tvxpack::Layout MakeLayout(const std::string& image, const std::vector<std::string>& lines,
                           const std::string& archive) {
    tvxpack::Layout layout;
    layout.image = image;
    layout.settings = tvxpack::EncodeSettingsBlock(lines);
    layout.archive = archive;
    return layout;
}

std::string WriteExecutable(const std::string& path, const tvxpack::Layout& layout) {
    std::string bytes;
    std::string error;
    EXPECT_TRUE(tvxpack::BuildExecutable(layout, &bytes, &error)) << error;
    tvxtest::WriteFile(path, bytes, 0755);
    return bytes;
}

uint32_t ReadLE32At(const std::string& bytes, size_t offset) {
    return tvx_layout::ReadLE32(reinterpret_cast<const unsigned char*>(bytes.data() + offset));
}

void WriteLE32At(std::string& bytes, size_t offset, uint32_t value) {
    tvx_layout::WriteLE32(reinterpret_cast<unsigned char*>(&bytes[offset]), value);
}

size_t ExpectedRemarkEnd(const tvxpack::Layout& layout, size_t executableSize) {
    return executableSize - layout.archive.size() - tvx_layout::kOpaqueSize;
}

ScopedLocale::ScopedLocale(const char* name) : ok_(setlocale(LC_ALL, name) != nullptr) {}
ScopedLocale::~ScopedLocale() { setlocale(LC_ALL, "C"); }

std::string Latin1Locale() {
    static const std::string name = [] {
        static tvxtest::TempDir dir;  // lives until the program ends
        const std::string locale = "en_US.ISO-8859-1";
        tvxtest::RunResult r =
            tvxtest::Run({"localedef", "-i", "en_US", "-f", "ISO-8859-1", dir / locale});
        if (r.exitCode != 0 && !tvxtest::FileExists(dir / locale)) return std::string();
        setenv("LOCPATH", dir.path().c_str(), 1);
        return locale;
    }();
    return name;
}

std::string CaptureStdout(void (*fn)(void*), void* context) {
    fflush(stdout);
    tvxtest::TempDir dir;
    const std::string path = dir / "stdout";
    FILE* file = fopen(path.c_str(), "w+");
    if (!file) return "<capture failed>";
    int saved = dup(1);
    dup2(fileno(file), 1);
    fn(context);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    fclose(file);
    return tvxtest::ReadFile(path);
}

}  // namespace settingstest
