// The version as text inside the library, so that `strings kiv.wcx` shows
// which release a user has. Nothing reads it; `used` keeps it in the file.
#include "kiv_version.h"

extern "C" __attribute__((used)) const char kivVersionText[] = "kiv.wcx version " KIV_VERSION;
