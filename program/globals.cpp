// Program-wide objects whose construction order matters: the process block,
// then the instance segment, then the stream redirector (destroyed in
// reverse order at exit). Defined in one file so that the order is fixed.
#include "instances/shm.h"
#include "redirect/std_redir.h"

CShmWithinProc shm;
CShmHelper shmx;
CStdRedir stdredir;

#include "base/export.h"

// Address of this copy's program-wide object `which` (0 shm, 1 shmx,
// 2 stdredir): lets a test show that a second copy of the launcher loaded
// into a process keeps statics of its own.
TVX_EXPORT void* tvx_static_address(int which) {
    switch (which) {
        case 0: return &shm;
        case 1: return &shmx;
        case 2: return &stdredir;
        default: return nullptr;
    }
}
