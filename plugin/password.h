// The password prompt as the archive code sees it.
#pragma once

#include "readers/secret.h"

namespace kiv {

// Bytes of the module-wide password buffer: 79 characters and a terminator.
constexpr int kPasswordBufferSize = 80;

// Shows the platform's prompt into the module-wide buffer, which keeps its
// contents between prompts. Accepts only a dialog result of exactly 1
// (OK) with a non-empty buffer; the text then goes to `password`.
bool askPassword(Secret& password);

}  // namespace kiv
