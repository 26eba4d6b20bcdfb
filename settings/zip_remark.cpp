// The archive comment: every byte after the last end-of-central-directory
// record found near the end of the file.
#include "settings/settings_private.h"
#include "settings/layout.h"
#include "settings/settings_loader.h"

namespace {
const uint64_t kMaxComment = 0x7FFFFFF0u;
}  // namespace

CZipRemark::CZipRemark() : CZipRemark(nullptr) {}

CZipRemark::CZipRemark(const char* path) : CStringBufT<char>() {
    MyCString file = ExecutableOrSelf(path);
    CMappedFile image(file);
    const uint64_t size = image.Size();
    const uint64_t eocd = tvx_layout::kEocdSize;
    if (size < eocd) return;
    const unsigned char* data = image.Data();
    const uint64_t start = tvx_layout::CommentSearchStart(size);
    for (uint64_t p = size - eocd + 1; p-- > start;) {
        if (tvx_layout::ReadLE32(data + p) == tvx_layout::kEocdSignature) {
            const uint64_t comment = size - p - eocd;
            if (comment > kMaxComment) return;  // more than a string can hold
            Append(reinterpret_cast<const char*>(data + p + eocd), static_cast<int>(comment));
            return;
        }
    }
}

CZipRemark::~CZipRemark() {}
