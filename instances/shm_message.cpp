#include "instances/shm_message.h"

CShmMessage* pshmmsg = nullptr;

// The message channel's receiving side is not built yet; "custom" starts nothing.
void StartShmMessage() {}
