// Names and short descriptions of the interface's result codes, so that
// every failure the host prints says which code it was.
#pragma once

#include <string>

namespace codes {

// "E_UNKNOWN_FORMAT" for 14; null for numbers outside the interface.
const char* name(int code);
// "(E_UNKNOWN_FORMAT, 14)"; "(99)" for numbers outside the interface.
std::string tag(int code);
// "unknown format (E_UNKNOWN_FORMAT, 14)".
std::string describe(int code);

}  // namespace codes
