// Drives the plug-in through its exports as the file manager does, over one
// fuzz input written to a file, and checks what must hold for any input:
// every call answers a code of the interface within the time limit, and
// extraction writes nothing but the file it was asked for and loses no
// existing file when it fails. A breach aborts, so the fuzzer records it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kivfuzz {

// `password` answers the plug-in's password prompt; null answers Cancel.
void runThroughExports(const uint8_t* data, size_t size, const char* password);

}  // namespace kivfuzz
