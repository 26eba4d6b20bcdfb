#include "launch/first_copy.h"

#include "instances/shm.h"

CJvmLauncher* FirstCopyLauncher() { return static_cast<CJvmLauncher*>(shm.GetSlot(kSlotLauncher)); }
