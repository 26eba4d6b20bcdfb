// Message channel between the instances of one application over the
// instance segment. Only its construction and start are wired in so far.
#ifndef TVX_INSTANCES_SHM_MESSAGE_H
#define TVX_INSTANCES_SHM_MESSAGE_H

class CShmMessage {
public:
    // `block` is the channel area of the instance segment (may be null when
    // the segment is unavailable).
    explicit CShmMessage(void* block) : m_block(block) {}
    virtual ~CShmMessage() {}
    void* Block() const { return m_block; }

private:
    void* m_block;
};

// Installs the receiving side of the channel ("singleinstance" = "custom").
void StartShmMessage();

extern CShmMessage* pshmmsg;

#endif  // TVX_INSTANCES_SHM_MESSAGE_H
