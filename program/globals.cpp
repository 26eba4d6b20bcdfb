// Program-wide objects whose construction order matters: the process block,
// then the instance segment, then the stream redirector (destroyed in
// reverse order at exit). Defined in one file so that the order is fixed.
#include "instances/shm.h"
#include "redirect/std_redir.h"

CShmWithinProc shm;
CShmHelper shmx;
CStdRedir stdredir;
