// The channel's bridge to Java (instances_natives.cpp): the receiver that
// hands complete messages to the application's Instances receiver.
#ifndef TVX_INSTANCES_INSTANCES_NATIVES_H
#define TVX_INSTANCES_INSTANCES_NATIVES_H

class Callback;

// Installs the receiving side of the channel ("singleinstance" = "custom").
Callback* StartShmMessage();

#endif  // TVX_INSTANCES_INSTANCES_NATIVES_H
