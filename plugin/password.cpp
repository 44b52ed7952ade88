#include "plugin/password.h"

#include <cstring>

#include "platform/platform.h"

namespace kiv {

namespace {
char buffer[kPasswordBufferSize];
}

bool askPassword(Secret& password) {
    const int result = platform::promptPassword(buffer);
    buffer[kPasswordBufferSize - 1] = 0;
    if (result != 1 || buffer[0] == 0) return false;
    password.assign(buffer, std::strlen(buffer));
    return true;
}

}  // namespace kiv
