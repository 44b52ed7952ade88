// The password prompt as the archive code sees it.
#pragma once

#include "readers/secret.h"

namespace kiv {

// Bytes of the password buffer: 79 characters and a terminator.
constexpr int kPasswordBufferSize = 80;

// Shows the platform's prompt into a buffer of its own (wiped afterwards),
// so prompts on several threads do not share one. Accepts only a dialog
// result of exactly 1 (OK) with a non-empty buffer; the text then goes to
// `password`. Takes no lock: a prompt waiting for the user blocks only its
// own thread.
bool askPassword(Secret& password);

}  // namespace kiv
