// PLACEHOLDER until the shared-memory work lands: a private process block
// and no instance segment.
#include "instances/shm.h"

#include <stdlib.h>

CShmWithinProc::CShmWithinProc() : m_block(calloc(1, kProcessBlockSize)), m_size(kProcessBlockSize), m_owner(true) {}
CShmWithinProc::~CShmWithinProc() {
    if (m_owner) free(m_block);
    m_block = nullptr;
}
CShmHelper::CShmHelper() : m_shmid(-1), m_address(nullptr), m_size(0), m_tried(false) {}
CShmHelper::~CShmHelper() {}
void CShmHelper::setkey(const char*) {}
CShmHelper::operator void*() { return nullptr; }
bool CShmHelper::init() { return false; }
