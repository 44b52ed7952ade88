#include "plugin/password.h"

#include <cstring>

#include "platform/platform.h"

namespace kiv {

bool askPassword(Secret& password) {
    // A buffer per prompt: prompts for archives opened on different threads
    // may be waiting for the user at the same time. What a prompt leaves in
    // it is never read after the prompt, so nothing needs to outlive it.
    char buffer[kPasswordBufferSize] = {};
    const int result = platform::promptPassword(buffer);
    buffer[kPasswordBufferSize - 1] = 0;
    const bool accepted = result == 1 && buffer[0] != 0;
    if (accepted) password.assign(buffer, std::strlen(buffer));
    Secret::wipeBytes(buffer, sizeof buffer);
    return accepted;
}

}  // namespace kiv
