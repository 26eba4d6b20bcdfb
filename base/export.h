// Symbols the second copy of the launcher (loaded as the helper classes'
// native library) must provide. Everything else is hidden so that each copy
// binds to its own code and statics.
#ifndef TVX_BASE_EXPORT_H
#define TVX_BASE_EXPORT_H

#define TVX_EXPORT extern "C" __attribute__((visibility("default")))

#endif  // TVX_BASE_EXPORT_H
