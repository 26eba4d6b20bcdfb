// Native access for the class path. From runtime feature 24 on, a class of
// the unnamed module that calls System.load gets four warning lines on
// standard error (the service's log), and a later release is to refuse the
// call; the helper classes load the launcher's own natives that way.
#ifndef TVX_LAUNCH_NATIVE_ACCESS_H
#define TVX_LAUNCH_NATIVE_ACCESS_H

class CJvmLauncher;

// The first runtime feature that warns about native access.
const int kFirstNativeAccessWarningFeature = 24;

// Adds --enable-native-access=ALL-UNNAMED for a runtime of `feature` 24 or
// later, unless an option of the application already decides about native
// access.
void AllowNativeAccess(CJvmLauncher& launcher, int feature);

#endif  // TVX_LAUNCH_NATIVE_ACCESS_H
