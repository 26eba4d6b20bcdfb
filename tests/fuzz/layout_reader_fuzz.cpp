// The executable layout reader over whole files: the archive length record,
// the archive comment, the remark end offset, the settings text, and the
// damage check of the archive (end record, ZIP64 records, central directory,
// local headers). File
// mappings are exact-size heap copies in this build, so a read past the end
// of the file is caught.
#include <stddef.h>
#include <stdint.h>

#include "settings/settings_loader.h"
#include "tests/fuzz/support/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzzsupport::ScratchDir() + "/app";
    fuzzsupport::WriteBytes(path, data, size);
    CSettingsLoader loader(true, path.c_str());
    FUZZ_CHECK(loader.RemarkEndOffset() >= 0 && static_cast<size_t>(loader.RemarkEndOffset()) <= size,
               "remark end outside the file");
    FUZZ_CHECK(loader.ExternalPrefixLength() == 0, "no external file was written");
    FUZZ_CHECK(loader.GetLength() >= 0 && loader.c_str()[loader.GetLength()] == '\0', "unterminated settings");
    CZipRemark remark(path.c_str());
    FUZZ_CHECK(static_cast<size_t>(remark.GetLength()) <= size, "comment longer than the file");
    loader.GetCommon("mainclass", true);
    MyCString damage = loader.ArchiveDamageText();
    FUZZ_CHECK(damage.IsEmpty() || damage.GetLength() < 4096 + 512, "damage line longer than a path and its text");
    return 0;
}
