#include "pack/archive_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "pack/file_io.h"
#include "pack/settings_text.h"
#include "settings/layout.h"

namespace tvxpack {

namespace {

constexpr const char kHelperPrefix[] = "com/brindell/tvx/";
constexpr const char kManifestName[] = "META-INF/MANIFEST.MF";
constexpr uint64_t kMaxManifestSize = 64u << 20;

bool IsHelperClassName(const char* name) {
    size_t prefix = sizeof(kHelperPrefix) - 1;
    size_t n = strlen(name);
    if (n <= prefix + 6 || strncmp(name, kHelperPrefix, prefix) != 0) return false;
    if (strchr(name + prefix, '/') != nullptr) return false;
    return strcmp(name + n - 6, ".class") == 0;
}

std::string ZipErrorText(int code) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    std::string text = zip_error_strerror(&e);
    zip_error_fini(&e);
    return text;
}

std::string OpenErrorText(const std::string& path, int code) {
    if (code == ZIP_ER_NOZIP) return path + ": not a ZIP archive";
    if (code == ZIP_ER_INCONS) return path + ": damaged ZIP archive (" + ZipErrorText(code) + ")";
    return path + ": cannot read as a ZIP archive (" + ZipErrorText(code) + ")";
}

}  // namespace

// One libzip source reads the input jar and writes the new archive into the
// output file at `base`; the offsets libzip sees count from the archive's
// first byte in both files.
struct AppArchive::State {
    std::string path;
    int inFd = -1;
    uint64_t inSize = 0;
    time_t mtime = 0;
    uint64_t readPos = 0;

    int outFd = -1;
    uint64_t base = 0;
    uint64_t writePos = 0;
    uint64_t writeEnd = 0;
    bool writeStarted = false;
    bool committed = false;

    zip_error_t error;
    zip_t* za = nullptr;
    zip_t* helpers = nullptr;
    uint64_t compressedTotal = 0;

    State() { zip_error_init(&error); }
    ~State() {
        if (za) zip_discard(za);
        if (helpers) zip_discard(helpers);
        if (inFd >= 0) close(inFd);
        zip_error_fini(&error);
    }

    zip_int64_t Fail(int zipCode, int sysErr) {
        zip_error_set(&error, zipCode, sysErr);
        return -1;
    }

    // Reads and writes go through 1 MiB buffers: libzip moves entry data in
    // small pieces.
    static constexpr size_t kBufferSize = 1 << 20;
    std::vector<char> readBuffer;
    uint64_t readBufferStart = 0;
    std::vector<char> writeBuffer;
    uint64_t writeBufferStart = 0;

    zip_int64_t Read(void* data, zip_uint64_t len) {
        uint64_t n = std::min<uint64_t>(len, inSize - std::min(inSize, readPos));
        char* out = static_cast<char*>(data);
        uint64_t done = 0;
        while (done < n) {
            uint64_t at = readPos + done;
            if (at < readBufferStart || at >= readBufferStart + readBuffer.size()) {
                if (n - done >= kBufferSize) {  // large reads bypass the buffer
                    if (!ReadAt(inFd, out + done, n - done, at)) return Fail(ZIP_ER_READ, errno ? errno : EIO);
                    done = n;
                    break;
                }
                readBuffer.resize(static_cast<size_t>(std::min<uint64_t>(kBufferSize, inSize - at)));
                readBufferStart = at;
                if (!ReadAt(inFd, readBuffer.data(), readBuffer.size(), at))
                    return Fail(ZIP_ER_READ, errno ? errno : EIO);
            }
            uint64_t offset = at - readBufferStart;
            uint64_t take = std::min<uint64_t>(n - done, readBuffer.size() - offset);
            memcpy(out + done, readBuffer.data() + offset, static_cast<size_t>(take));
            done += take;
        }
        readPos += n;
        return static_cast<zip_int64_t>(n);
    }

    bool FlushWrites() {
        if (writeBuffer.empty()) return true;
        bool ok = WriteAt(outFd, writeBuffer.data(), writeBuffer.size(), base + writeBufferStart);
        writeBuffer.clear();
        return ok;
    }

    zip_int64_t Write(const void* data, zip_uint64_t len) {
        const char* in = static_cast<const char*>(data);
        bool contiguous = !writeBuffer.empty() && writePos == writeBufferStart + writeBuffer.size();
        if (!contiguous || writeBuffer.size() + len > kBufferSize) {
            if (!FlushWrites()) return Fail(ZIP_ER_WRITE, errno);
            writeBufferStart = writePos;
        }
        if (len >= kBufferSize) {
            if (!WriteAt(outFd, in, len, base + writePos)) return Fail(ZIP_ER_WRITE, errno);
        } else {
            if (writeBuffer.capacity() < kBufferSize) writeBuffer.reserve(kBufferSize);
            writeBuffer.insert(writeBuffer.end(), in, in + len);
        }
        writePos += len;
        writeEnd = std::max(writeEnd, writePos);
        return static_cast<zip_int64_t>(len);
    }

    zip_int64_t Seek(uint64_t* position, uint64_t size, void* args, zip_uint64_t len) {
        zip_int64_t pos = zip_source_seek_compute_offset(*position, size, args, len, &error);
        if (pos < 0) return -1;
        *position = static_cast<uint64_t>(pos);
        return 0;
    }

    zip_int64_t BeginWrite() {
        if (outFd < 0) return Fail(ZIP_ER_INTERNAL, 0);
        if (ftruncate(outFd, static_cast<off_t>(base)) != 0) return Fail(ZIP_ER_WRITE, errno);
        writeStarted = true;
        writePos = writeEnd = 0;
        writeBuffer.clear();
        return 0;
    }

    static zip_int64_t Callback(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd) {
        State* s = static_cast<State*>(userdata);
        switch (cmd) {
            case ZIP_SOURCE_SUPPORTS:
                return zip_source_make_command_bitmap(
                    ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
                    ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS, ZIP_SOURCE_BEGIN_WRITE,
                    ZIP_SOURCE_COMMIT_WRITE, ZIP_SOURCE_ROLLBACK_WRITE,
                    ZIP_SOURCE_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE, ZIP_SOURCE_REMOVE,
                    ZIP_SOURCE_ACCEPT_EMPTY, -1);
            case ZIP_SOURCE_ACCEPT_EMPTY:
                return 0;  // an empty file is no archive
            case ZIP_SOURCE_OPEN:
                s->readPos = 0;
                return 0;
            case ZIP_SOURCE_READ:
                return s->Read(data, len);
            case ZIP_SOURCE_CLOSE:
                return 0;
            case ZIP_SOURCE_STAT: {
                zip_stat_t* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &s->error);
                if (st == nullptr) return -1;
                zip_stat_init(st);
                st->size = s->inSize;
                st->mtime = s->mtime;
                st->valid |= ZIP_STAT_SIZE | ZIP_STAT_MTIME;
                return sizeof(*st);
            }
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&s->error, data, len);
            case ZIP_SOURCE_FREE:
                return 0;  // the State belongs to its AppArchive
            case ZIP_SOURCE_SEEK:
                return s->Seek(&s->readPos, s->inSize, data, len);
            case ZIP_SOURCE_TELL:
                return static_cast<zip_int64_t>(s->readPos);
            case ZIP_SOURCE_BEGIN_WRITE:
                return s->BeginWrite();
            case ZIP_SOURCE_WRITE:
                return s->Write(data, len);
            case ZIP_SOURCE_SEEK_WRITE:
                return s->Seek(&s->writePos, s->writeEnd, data, len);
            case ZIP_SOURCE_TELL_WRITE:
                return static_cast<zip_int64_t>(s->writePos);
            case ZIP_SOURCE_COMMIT_WRITE:
                if (!s->FlushWrites()) return s->Fail(ZIP_ER_WRITE, errno);
                s->committed = true;
                return 0;
            case ZIP_SOURCE_ROLLBACK_WRITE:
                s->writeBuffer.clear();
                s->writeStarted = false;
                return 0;
            case ZIP_SOURCE_REMOVE:
                // libzip removes an archive left without entries; ours always has some.
                return s->Fail(ZIP_ER_INTERNAL, 0);
            default:
                return s->Fail(ZIP_ER_OPNOTSUPP, 0);
        }
    }
};

AppArchive::AppArchive() : state_(new State) {}
AppArchive::~AppArchive() = default;

bool AppArchive::Open(const std::string& jarPath, std::string* error) {
    State& s = *state_;
    s.path = jarPath;
    s.inFd = open(jarPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (s.inFd < 0) {
        *error = "cannot open " + jarPath + ": " + strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(s.inFd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = jarPath + ": not a regular file";
        return false;
    }
    s.inSize = static_cast<uint64_t>(st.st_size);
    s.mtime = st.st_mtime;
    zip_source_t* src = zip_source_function_create(&State::Callback, &s, &s.error);
    if (src == nullptr) {
        *error = jarPath + ": " + zip_error_strerror(&s.error);
        return false;
    }
    zip_error_t openError;
    zip_error_init(&openError);
    s.za = zip_open_from_source(src, 0, &openError);
    if (s.za == nullptr) {
        int code = zip_error_code_zip(&openError);
        // A read failure of our own source is reported with its errno.
        if (code == ZIP_ER_READ && zip_error_code_system(&openError) != 0)
            *error = "cannot read " + jarPath + ": " + strerror(zip_error_code_system(&openError));
        else
            *error = OpenErrorText(jarPath, code);
        zip_error_fini(&openError);
        zip_source_free(src);
        return false;
    }
    zip_error_fini(&openError);
    zip_int64_t count = zip_get_num_entries(s.za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t zs;
        if (zip_stat_index(s.za, static_cast<zip_uint64_t>(i), 0, &zs) == 0 && (zs.valid & ZIP_STAT_COMP_SIZE))
            s.compressedTotal += zs.comp_size;
    }
    return true;
}

bool AppArchive::ManifestMainClass(std::string* mainClass, std::string* error) {
    State& s = *state_;
    mainClass->clear();
    zip_int64_t index = zip_name_locate(s.za, kManifestName, 0);
    if (index < 0) index = zip_name_locate(s.za, kManifestName, ZIP_FL_NOCASE);
    if (index < 0) return true;
    zip_stat_t zs;
    if (zip_stat_index(s.za, static_cast<zip_uint64_t>(index), 0, &zs) != 0 || !(zs.valid & ZIP_STAT_SIZE) ||
        zs.size > kMaxManifestSize) {
        *error = s.path + ": cannot read its manifest";
        return false;
    }
    zip_file_t* f = zip_fopen_index(s.za, static_cast<zip_uint64_t>(index), 0);
    if (f == nullptr) {
        *error = s.path + ": cannot read its manifest (" + zip_strerror(s.za) + ")";
        return false;
    }
    std::string manifest(static_cast<size_t>(zs.size), '\0');
    zip_int64_t n = manifest.empty() ? 0 : zip_fread(f, &manifest[0], manifest.size());
    bool ok = n == static_cast<zip_int64_t>(manifest.size());
    if (!ok) *error = s.path + ": cannot read its manifest (" + zip_file_strerror(f) + ")";
    zip_fclose(f);
    if (ok) *mainClass = ManifestAttribute(manifest, "Main-Class");
    return ok;
}

bool AppArchive::AddHelperClasses(const std::string& helpersJar, std::vector<std::string>* added,
                                  std::string* error) {
    State& s = *state_;
    int code = 0;
    s.helpers = zip_open(helpersJar.c_str(), ZIP_RDONLY, &code);
    if (s.helpers == nullptr) {
        *error = "helper classes: " + (code == ZIP_ER_NOENT || code == ZIP_ER_OPEN
                                           ? "cannot open " + helpersJar + " (" + ZipErrorText(code) + ")"
                                           : OpenErrorText(helpersJar, code));
        return false;
    }
    zip_int64_t count = zip_get_num_entries(s.helpers, 0);
    size_t found = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_uint64_t index = static_cast<zip_uint64_t>(i);
        const char* name = zip_get_name(s.helpers, index, ZIP_FL_ENC_RAW);
        if (name == nullptr || !IsHelperClassName(name)) continue;
        ++found;
        if (zip_name_locate(s.za, name, ZIP_FL_ENC_RAW) >= 0) continue;
        zip_stat_t zs;
        if (zip_stat_index(s.helpers, index, 0, &zs) != 0) {
            *error = helpersJar + ": " + zip_strerror(s.helpers);
            return false;
        }
        // Raw compressed data, stored with the same method: nothing is recompressed.
        zip_source_t* src = zip_source_zip(s.za, s.helpers, index, ZIP_FL_COMPRESSED, 0, -1);
        zip_int64_t at = src ? zip_file_add(s.za, name, src, ZIP_FL_ENC_RAW) : -1;
        if (at < 0) {
            if (src) zip_source_free(src);
            *error = "cannot add " + std::string(name) + ": " + zip_strerror(s.za);
            return false;
        }
        if (zip_set_file_compression(s.za, static_cast<zip_uint64_t>(at), static_cast<zip_int32_t>(zs.comp_method),
                                     0) != 0) {
            *error = "cannot add " + std::string(name) + ": " + zip_strerror(s.za);
            return false;
        }
        s.compressedTotal += zs.comp_size;
        added->push_back(name);
    }
    if (found == 0) {
        *error = helpersJar + ": holds no helper classes (com/brindell/tvx/*.class)";
        return false;
    }
    return true;
}

uint64_t AppArchive::MinimumSize() const { return state_->compressedTotal; }

bool AppArchive::WriteTo(int fd, uint64_t offset, uint64_t* length, std::string* error) {
    State& s = *state_;
    s.outFd = fd;
    s.base = offset;
    if (zip_close(s.za) != 0) {
        *error = "cannot write the archive: " + std::string(zip_strerror(s.za));
        return false;
    }
    s.za = nullptr;
    if (!s.writeStarted) {
        // Nothing to add: the jar is the archive as it is. The launcher
        // checks that the archive begins with an entry (or the end record of
        // an empty archive); a jar with a prefix would fail that check.
        unsigned char first[4];
        if (!ReadAt(s.inFd, first, sizeof first, 0)) {
            *error = "cannot read " + s.path + ": " + strerror(errno);
            return false;
        }
        uint32_t signature = tvx_layout::ReadLE32(first);
        if (!tvx_layout::IsArchiveStart(signature)) {
            *error = s.path + ": data precedes the archive's first entry; the launcher needs the archive to begin "
                              "with one";
            return false;
        }
        if (!CopyRange(s.inFd, 0, fd, offset, s.inSize, error)) return false;
        *length = s.inSize;
        return true;
    }
    if (!s.committed) {
        *error = "cannot write the archive: not completed";
        return false;
    }
    *length = s.writeEnd;
    return true;
}

bool ListHelperClasses(const std::string& jarPath, std::vector<std::string>* names, std::string* error) {
    int code = 0;
    zip_t* za = zip_open(jarPath.c_str(), ZIP_RDONLY, &code);
    if (za == nullptr) {
        *error = OpenErrorText(jarPath, code);
        return false;
    }
    zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(za, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (name != nullptr && IsHelperClassName(name)) names->push_back(name);
    }
    zip_discard(za);
    return true;
}

}  // namespace tvxpack
