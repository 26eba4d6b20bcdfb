// The application archive of an executable: the application's jar with the
// helper classes added, written with libzip straight into the executable
// file at an offset. Nothing is recompressed: libzip copies the compressed
// data of every entry raw and writes fresh local headers that agree with the
// new central directory. A jar that already holds the helper classes is
// copied byte for byte.
#ifndef TVX_PACK_ARCHIVE_WRITER_H
#define TVX_PACK_ARCHIVE_WRITER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tvxpack {

// Largest archive (and executable) the launcher can address: its length
// fields and its view of the file size are 32 bits wide.
constexpr uint64_t kMaxPieceSize = 0xFFFFFFFFull;

class AppArchive {
public:
    AppArchive();
    ~AppArchive();
    AppArchive(const AppArchive&) = delete;
    AppArchive& operator=(const AppArchive&) = delete;

    // Opens the application's jar. Fails on a missing or unreadable file or
    // one that is not a ZIP archive.
    bool Open(const std::string& jarPath, std::string* error);

    // The Main-Class of the jar's manifest, or "" when it has none.
    bool ManifestMainClass(std::string* mainClass, std::string* error);

    // Queues every com/brindell/tvx/*.class of `helpersJar` that the jar does
    // not hold yet. `added` receives the names queued.
    bool AddHelperClasses(const std::string& helpersJar, std::vector<std::string>* added, std::string* error);

    // Lower bound of the archive's size after writing (the compressed data
    // of all entries); lets a hopeless size fail before anything is written.
    uint64_t MinimumSize() const;

    // Writes the archive to `fd` starting at `offset`; `length` receives the
    // archive's length, comment included. The AppArchive is closed afterwards.
    bool WriteTo(int fd, uint64_t offset, uint64_t* length, std::string* error);

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Names of the helper classes that a jar carries (com/brindell/tvx/*.class).
bool ListHelperClasses(const std::string& jarPath, std::vector<std::string>* names, std::string* error);

}  // namespace tvxpack

#endif  // TVX_PACK_ARCHIVE_WRITER_H
